// Digests of files, to tie a record to the exact data that was written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Bytes read from the file per step of the digest.
constexpr size_t kHashReadSize = 64 * 1024;

// SHA-256 of the file's bytes as lowercase hex, and how many bytes there were. 0 on success,
// else the system's error code (hexOut and bytesOut are then unspecified).
int sha256File(const std::string& path, std::string& hexOut, uint64_t& bytesOut);

// Lowercase hex of n bytes.
std::string hexOf(const unsigned char* bytes, size_t n);
