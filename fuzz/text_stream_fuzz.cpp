// The text-stream reader that cuts a V3 data file into pieces, on arbitrary file contents.
// Invariants: each piece holds at most cap - 1 bytes (99 for the serial transfer) and is
// NUL-terminated, a LF only ever ends a piece, a piece short of the cap ends with LF unless
// it is the last, and the pieces together are the file's bytes up to the first 0x1A with each
// CR LF read as LF.
#include <cstring>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "writer/text_stream.h"

namespace {

constexpr size_t kCaps[] = {kPieceBufSize, 256, 2, 9};
constexpr uint8_t kGuard = 0xA5;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const MemFile file;
    if (size == 0) return 0;
    const uint8_t flags = data[0];
    const size_t cap = kCaps[flags & 3];
    // The reader's refill of its 64 KiB buffer is left to its unit test: inputs that long
    // would cost the run most of its executions.
    const std::vector<uint8_t> contents(data + 1, data + size);
    file.fill(contents.data(), contents.size());

    TextStream in;
    FUZZ_CHECK(in.open(file.path()) == 0);
    FUZZ_CHECK(in.size() == contents.size());
    const std::string want = textStreamModel(contents.data(), contents.size());
    std::string joined;
    joined.reserve(want.size());
    std::vector<char> piece(cap + 1);
    bool lastWasShort = false;
    for (;;) {
        piece[cap] = char(kGuard);
        const size_t n = in.readPiece(piece.data(), cap);
        FUZZ_CHECK(uint8_t(piece[cap]) == kGuard);
        FUZZ_CHECK(n <= cap - 1);
        FUZZ_CHECK(piece[n] == '\0');
        if (n == 0) break;
        FUZZ_CHECK(!lastWasShort);  // only the last piece may end short of the cap without LF
        const char* lf = static_cast<const char*>(std::memchr(piece.data(), '\n', n));
        FUZZ_CHECK(lf == nullptr || lf == piece.data() + n - 1);
        lastWasShort = lf == nullptr && n < cap - 1;
        joined.append(piece.data(), n);
        FUZZ_CHECK(joined.size() <= want.size());
        FUZZ_CHECK(in.rawPosition() <= in.size());
    }
    FUZZ_CHECK(in.error() == 0);
    FUZZ_CHECK(joined == want);
    FUZZ_CHECK(in.readPiece(piece.data(), cap) == 0);  // the end stays the end
    return 0;
}
