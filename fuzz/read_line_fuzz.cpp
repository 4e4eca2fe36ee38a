// commReadLine fed arbitrary bytes in arbitrary pieces through an in-memory port, with
// arbitrary output sizes. Invariants: the partial line stays terminated within its 200 bytes,
// a delivered line is terminated within `len`, nothing else is written past `len`, and a
// line without NUL bytes arrives as its last L mod 200 bytes (line feeds dropped), cut to
// len - 1.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fake_serial.h"
#include "fuzz/fuzz_util.h"
#include "serial/channel.h"

namespace {

// The bytes the line gathering has taken, kept apart from it: the current line and whether a
// NUL byte went into it (its text then depends on where the polls fell).
struct LineModel {
    std::vector<uint8_t> sent;  // everything the device sent
    size_t taken = 0;           // of which the gathering has taken this much
    std::string line;
    bool hadNul = false;

    // Takes bytes as one call does: up to and including the next CR, or all there are. True
    // when a CR completed a line, whose expected text for `len` is then in `want`.
    bool take(size_t len, std::string& want) {
        while (taken < sent.size()) {
            const uint8_t c = sent[taken++];
            if (c == '\r') {
                const size_t keep = line.size() % kLineBufSize;
                want = line.substr(line.size() - keep, len - 1);
                return true;
            }
            if (c == '\n') continue;
            if (c == 0) hadNul = true;
            line += char(c);
        }
        return false;
    }
    void lineDone() {
        line.clear();
        hadNul = false;
    }
};

constexpr size_t kMaxPiece = 64;
constexpr size_t kMaxLen = 300;
constexpr uint8_t kGuard = 0xA5;

void checkPartialLine(const Channel& ch) {
    FUZZ_CHECK(std::memchr(ch.lineBuf, 0, kLineBufSize) != nullptr);
}

// One poll with an output of `len` bytes and a guard after it.
void pollOnce(Channel& ch, LineModel& model, size_t len) {
    static char out[kMaxLen + 1];
    std::memset(out, kGuard, len + 1);
    char* got = commReadLine(&ch, out, len);
    checkPartialLine(ch);
    FUZZ_CHECK(uint8_t(out[len]) == kGuard);
    std::string want;
    const bool complete = model.take(len, want);
    FUZZ_CHECK((got != nullptr) == complete);
    if (!got) {
        FUZZ_CHECK(out[0] == '\0');
        return;
    }
    FUZZ_CHECK(got == out);
    const char* end = static_cast<const char*>(std::memchr(out, 0, len));
    FUZZ_CHECK(end != nullptr);
    const std::string text(out, size_t(end - out));
    FUZZ_CHECK(text.find('\r') == std::string::npos && text.find('\n') == std::string::npos);
    if (!model.hadNul) FUZZ_CHECK(text == want);
    model.lineDone();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    fakeSerialReset();
    Channel ch;
    LineModel model;
    while (in.remaining_bytes() > 0) {
        const size_t len = in.ConsumeIntegralInRange<size_t>(1, kMaxLen);
        const int polls = in.ConsumeIntegralInRange<int>(0, 3);
        std::vector<uint8_t> piece =
            in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, kMaxPiece));
        fakeSerialFeed(piece.data(), piece.size());
        model.sent.insert(model.sent.end(), piece.begin(), piece.end());
        // Some polls take one line each and leave the rest for later; a drain takes all.
        for (int i = 0; i < polls && fakeSerialPending() > 0; ++i) pollOnce(ch, model, len);
        if (polls == 3) {
            while (fakeSerialPending() > 0) pollOnce(ch, model, len);
        }
    }
    while (fakeSerialPending() > 0) pollOnce(ch, model, kLineBufSize);
    pollOnce(ch, model, kLineBufSize);  // nothing there: no line
    return 0;
}
