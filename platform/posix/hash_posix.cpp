// SHA-256 with libcrypto's EVP interface; random bytes from its generator, which the system
// seeds and which reseeds in a forked child.
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cerrno>
#include <climits>
#include <memory>

#include "platform/hash.h"

namespace {

struct FreeContext {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using Context = std::unique_ptr<EVP_MD_CTX, FreeContext>;

// libcrypto has no errno of its own; its failures here are allocation failures.
constexpr int kErrDigest = ENOMEM;

}  // namespace

int sha256File(const std::string& path, std::string& hexOut, uint64_t& bytesOut) {
    Context ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return kErrDigest;
    auto update = [&ctx](const unsigned char* data, size_t n) {
        return EVP_DigestUpdate(ctx.get(), data, n) == 1;
    };
    if (int err = digestFileBlocks(path, bytesOut, update, kErrDigest)) return err;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) return kErrDigest;
    hexOut = hexOf(digest, length);
    return 0;
}

int randomBytes(unsigned char* out, size_t n) {
    return n <= size_t(INT_MAX) && RAND_bytes(out, int(n)) == 1 ? 0 : kErrDigest;
}
