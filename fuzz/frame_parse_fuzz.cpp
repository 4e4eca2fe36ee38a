// frameParse on arbitrary reply lines, against a reading of the frame format written here:
// STX, at most 99 text bytes up to the first ETX, then exactly the two lowercase check digits.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/fuzz_util.h"
#include "serial/commands.h"
#include "writer/frame.h"

namespace {

std::string checkDigits(const std::string& text) {
    unsigned s = 0;
    for (unsigned char c : text) s ^= c;
    static const char kHex[] = "0123456789abcdef";
    return {kHex[s >> 4], kHex[s & 15]};
}

// The command text when `reply` is a valid framed reply.
bool modelParse(const std::string& reply, std::string& text) {
    if (reply.empty() || reply[0] != kStx) return false;
    size_t etx = reply.find(kEtx, 1);
    if (etx == std::string::npos || etx - 1 >= kFrameTextSize) return false;
    text = reply.substr(1, etx - 1);
    return reply.substr(etx + 1) == checkDigits(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The reply as commReadLine hands it over: a NUL-terminated line in a buffer of its own
    // size, so that any read past its end is seen.
    auto reply = std::make_unique<char[]>(size + 1);
    std::memcpy(reply.get(), data, size);
    reply[size] = '\0';
    const std::string line(reply.get());

    char text[kFrameTextSize];
    std::memset(text, 0x55, sizeof text);
    const char* got = frameParse(reply.get(), text);
    std::string want;
    const bool valid = modelParse(line, want);
    FUZZ_CHECK((got != nullptr) == valid);
    if (got) {
        FUZZ_CHECK(got == text);
        FUZZ_CHECK(std::memchr(text, 0, sizeof text) != nullptr);
        FUZZ_CHECK(want == text);
        FUZZ_CHECK(frameBuild(text) == line);  // a valid reply is exactly its own frame
    }

    // Building and parsing again gives back any text the frame can carry.
    std::string carried = line.substr(0, kFrameTextSize - 1);
    carried.erase(std::remove(carried.begin(), carried.end(), kEtx), carried.end());
    const std::string frame = frameBuild(carried.c_str());
    FUZZ_CHECK(frame.size() == carried.size() + 4);
    FUZZ_CHECK(frameParse(frame.c_str(), text) != nullptr && carried == text);
    return 0;
}
