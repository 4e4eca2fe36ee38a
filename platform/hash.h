// Digests of files, to tie a record to the exact data that was written; random bytes, to give
// a record an id no other station gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Bytes read from the file per step of the digest.
constexpr size_t kHashReadSize = 64 * 1024;

// The error code of a digest the system's backend refused.
extern const int kErrDigest;

// A SHA-256 digest fed piece by piece, for bytes that are read for another purpose (the data a
// job sends) and must not be read twice. A backend that refuses leaves it failed: update does
// nothing and finish gives an empty text.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    bool ok() const;
    void update(const void* data, size_t n);
    // The digest as lowercase hex; empty when the backend failed. The digest is over then.
    std::string finish();

private:
    struct State;  // the backend's context
    std::unique_ptr<State> state_;
};

// SHA-256 of the file's bytes as lowercase hex, and how many bytes there were. 0 on success,
// else the system's error code (hexOut and bytesOut are then unspecified).
int sha256File(const std::string& path, std::string& hexOut, uint64_t& bytesOut);

// Reads the file in kHashReadSize blocks, giving each to `update` (a backend's digest), and
// counts them. 0 on success; the system's error code of the open or a read; `updateError` when
// `update` refuses a block.
int digestFileBlocks(const std::string& path, uint64_t& bytesOut,
                     const std::function<bool(const unsigned char*, size_t)>& update,
                     int updateError);

// Lowercase hex of n bytes.
std::string hexOf(const unsigned char* bytes, size_t n);

// n bytes from the system's cryptographic random source. 0 on success, else an error code.
int randomBytes(unsigned char* out, size_t n);
