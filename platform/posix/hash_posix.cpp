// SHA-256 with libcrypto's EVP interface.
#include <openssl/evp.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "platform/files.h"
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
    InputFile in;
    if (int err = in.open(path)) return err;
    Context ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return kErrDigest;
    std::vector<unsigned char> buf(kHashReadSize);
    bytesOut = 0;
    for (;;) {
        const long long got = in.read(buf.data(), buf.size());
        if (got < 0) return in.error();
        if (got == 0) break;
        if (EVP_DigestUpdate(ctx.get(), buf.data(), size_t(got)) != 1) return kErrDigest;
        bytesOut += uint64_t(got);
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) return kErrDigest;
    hexOut = hexOf(digest, length);
    return 0;
}
