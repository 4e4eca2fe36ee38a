#include "platform/hash.h"

#include <vector>

#include "platform/files.h"

int digestFileBlocks(const std::string& path, uint64_t& bytesOut,
                     const std::function<bool(const unsigned char*, size_t)>& update,
                     int updateError) {
    InputFile in;
    if (int err = in.open(path)) return err;
    std::vector<unsigned char> buf(kHashReadSize);
    bytesOut = 0;
    for (;;) {
        const long long got = in.read(buf.data(), buf.size());
        if (got < 0) return in.error();
        if (got == 0) return 0;
        if (!update(buf.data(), size_t(got))) return updateError;
        bytesOut += uint64_t(got);
    }
}

int sha256File(const std::string& path, std::string& hexOut, uint64_t& bytesOut) {
    Sha256 digest;
    auto update = [&digest](const unsigned char* data, size_t n) {
        digest.update(data, n);
        return digest.ok();
    };
    if (int err = digestFileBlocks(path, bytesOut, update, kErrDigest)) return err;
    hexOut = digest.finish();
    return hexOut.empty() ? kErrDigest : 0;
}

std::string hexOf(const unsigned char* bytes, size_t n) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * n);
    for (size_t i = 0; i < n; ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 0xf];
    }
    return hex;
}
