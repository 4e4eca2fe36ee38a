// SHA-256 and random bytes with the system's CNG primitives (bcrypt.dll).
// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <algorithm>
#include <limits>

#include "platform/hash.h"

// CNG reports NTSTATUS values; its failures here come down to a refused or missing provider.
const int kErrDigest = ERROR_NOT_SUPPORTED;

namespace {

constexpr size_t kSha256Size = 32;

bool succeeded(NTSTATUS status) {
    return status >= 0;
}

}  // namespace

struct Sha256::State {
    BCRYPT_ALG_HANDLE alg = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = false;

    State() {
        ok = succeeded(BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
             succeeded(BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0));
    }
    ~State() {
        if (hash) BCryptDestroyHash(hash);
        if (alg) BCryptCloseAlgorithmProvider(alg, 0);
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

bool Sha256::ok() const { return state_->ok; }

void Sha256::update(const void* data, size_t n) {
    // BCryptHashData takes a ULONG count: larger pieces go in slices.
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (state_->ok && n > 0) {
        const ULONG slice = ULONG(std::min<size_t>(n, std::numeric_limits<ULONG>::max()));
        state_->ok =
            succeeded(BCryptHashData(state_->hash, const_cast<unsigned char*>(bytes), slice, 0));
        bytes += slice;
        n -= slice;
    }
}

std::string Sha256::finish() {
    unsigned char digest[kSha256Size];
    const bool done =
        state_->ok && succeeded(BCryptFinishHash(state_->hash, digest, ULONG(sizeof digest), 0));
    state_->ok = false;
    return done ? hexOf(digest, sizeof digest) : std::string();
}

int randomBytes(unsigned char* out, size_t n) {
    const bool fits = n <= std::numeric_limits<ULONG>::max();
    return fits && succeeded(BCryptGenRandom(nullptr, out, ULONG(n), BCRYPT_USE_SYSTEM_PREFERRED_RNG))
               ? 0
               : kErrDigest;
}
