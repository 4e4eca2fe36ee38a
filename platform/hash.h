// Digests of files, to tie a record to the exact data that was written; random bytes, to give
// a record an id no other station gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Bytes read from the file per step of the digest.
constexpr size_t kHashReadSize = 64 * 1024;

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
