// SHA-256 with libcrypto's EVP interface; random bytes from its generator, which the system
// seeds and which reseeds in a forked child.
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cerrno>
#include <climits>
#include <memory>

#include "platform/hash.h"

// libcrypto has no errno of its own; its failures here are allocation failures.
const int kErrDigest = ENOMEM;

namespace {

struct FreeContext {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using Context = std::unique_ptr<EVP_MD_CTX, FreeContext>;

}  // namespace

struct Sha256::State {
    Context ctx{EVP_MD_CTX_new()};
    bool ok = ctx && EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) == 1;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

bool Sha256::ok() const { return state_->ok; }

void Sha256::update(const void* data, size_t n) {
    if (state_->ok && n > 0) state_->ok = EVP_DigestUpdate(state_->ctx.get(), data, n) == 1;
}

std::string Sha256::finish() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const bool done = state_->ok && EVP_DigestFinal_ex(state_->ctx.get(), digest, &length) == 1;
    state_->ok = false;
    return done ? hexOf(digest, length) : std::string();
}

int randomBytes(unsigned char* out, size_t n) {
    return n <= size_t(INT_MAX) && RAND_bytes(out, int(n)) == 1 ? 0 : kErrDigest;
}
