// SHA-256 and random bytes with the system's CNG primitives (bcrypt.dll).
// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on


#include <limits>

#include "platform/hash.h"

namespace {

constexpr size_t kSha256Size = 32;

struct Algorithm {
    BCRYPT_ALG_HANDLE h = nullptr;
    ~Algorithm() {
        if (h) BCryptCloseAlgorithmProvider(h, 0);
    }
};

struct Hash {
    BCRYPT_HASH_HANDLE h = nullptr;
    ~Hash() {
        if (h) BCryptDestroyHash(h);
    }
};

// CNG reports NTSTATUS values; its failures here come down to a refused or missing provider.
constexpr int kErrDigest = ERROR_NOT_SUPPORTED;

bool ok(NTSTATUS status) {
    return status >= 0;
}

}  // namespace

int sha256File(const std::string& path, std::string& hexOut, uint64_t& bytesOut) {
    Algorithm alg;
    Hash hash;
    if (!ok(BCryptOpenAlgorithmProvider(&alg.h, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        !ok(BCryptCreateHash(alg.h, &hash.h, nullptr, 0, nullptr, 0, 0)))
        return kErrDigest;
    auto update = [&hash](const unsigned char* data, size_t n) {
        return ok(BCryptHashData(hash.h, const_cast<unsigned char*>(data), ULONG(n), 0));
    };
    if (int err = digestFileBlocks(path, bytesOut, update, kErrDigest)) return err;
    unsigned char digest[kSha256Size];
    if (!ok(BCryptFinishHash(hash.h, digest, ULONG(sizeof digest), 0))) return kErrDigest;
    hexOut = hexOf(digest, sizeof digest);
    return 0;
}

int randomBytes(unsigned char* out, size_t n) {
    const bool fits = n <= std::numeric_limits<ULONG>::max();
    return fits && ok(BCryptGenRandom(nullptr, out, ULONG(n), BCRYPT_USE_SYSTEM_PREFERRED_RNG))
               ? 0
               : kErrDigest;
}
