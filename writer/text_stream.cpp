#include "writer/text_stream.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/serial.h"

TextStream::~TextStream() { close(); }

int TextStream::open(const std::string& path) {
    if (int err = file_.open(path)) return err;
    size_ = file_.size();
    rawPos_ = bytesRead_ = 0;
    error_ = 0;
    ended_ = fileEnd_ = false;
    pos_ = len_ = 0;
    digest_.reset();
    return 0;
}

void TextStream::close() { file_.close(); }

void TextStream::startDigest() { digest_ = std::make_unique<Sha256>(); }

std::string TextStream::finishDigest() {
    std::string hex = digest_ ? digest_->finish() : std::string();
    digest_.reset();
    return hex;
}

size_t TextStream::fill() {
    pos_ = len_ = 0;
    if (!file_.isOpen() || error_ || fileEnd_) return 0;
    const long long got = file_.read(buf_, sizeof buf_);
    if (got < 0) {
        error_ = file_.error();
        return 0;
    }
    len_ = size_t(got);
    fileEnd_ = len_ == 0;
    bytesRead_ += len_;
    if (digest_) digest_->update(buf_, len_);
    return len_;
}

void TextStream::readToEnd(uint64_t limit) {
    ended_ = true;
    while (bytesRead_ <= limit && fill() > 0) {
    }
    pos_ = len_ = 0;
}

int TextStream::peekRaw() {
    if (pos_ == len_ && fill() == 0) return -1;
    return buf_[pos_];
}

int TextStream::rawByte() {
    int c = peekRaw();
    if (c >= 0) {
        ++pos_;
        ++rawPos_;
    }
    return c;
}

int TextStream::next() {
    if (ended_) return -1;
    int c = rawByte();
    if (c == 0x1a || c < 0) {
        ended_ = true;
        return -1;
    }
    if (c == '\r' && peekRaw() == '\n') return rawByte();
    return c;
}

namespace {
// Bytes that the text stream does not pass through as they are.
bool special(unsigned char c) { return c == '\n' || c == '\r' || c == 0x1a; }

// Length of the run before the first CR or 0x1A in p[0..n): the only bytes that need care when
// lines are not cut apart. memchr keeps long blocks of text fast.
size_t plainRun(const unsigned char* p, size_t n) {
    const void* cr = std::memchr(p, '\r', n);
    size_t run = cr ? size_t(static_cast<const unsigned char*>(cr) - p) : n;
    const void* sub = std::memchr(p, 0x1a, run);
    return sub ? size_t(static_cast<const unsigned char*>(sub) - p) : run;
}
}  // namespace

size_t TextStream::readPiece(char* out, size_t cap) { return read(out, cap, true); }

size_t TextStream::readText(char* out, size_t cap) { return read(out, cap, false); }

size_t TextStream::read(char* out, size_t cap, bool oneLine) {
    if (cap == 0) return 0;
    size_t n = 0;
    while (n + 1 < cap && !ended_ && peekRaw() >= 0) {
        // Ordinary bytes are copied a run at a time; next() handles the rest.
        const size_t room = std::min(cap - 1 - n, len_ - pos_);
        size_t run = 0;
        if (oneLine) {
            while (run < room && !special(buf_[pos_ + run])) ++run;
        } else {
            run = plainRun(buf_ + pos_, room);
        }
        std::memcpy(out + n, buf_ + pos_, run);
        n += run;
        pos_ += run;
        rawPos_ += run;
        if (run == room) continue;
        int c = next();
        if (c < 0) break;
        out[n++] = char(c);
        if (oneLine && c == '\n') break;
    }
    out[n] = '\0';
    return n;
}

namespace {
// A 64-bit offset in decimal and in hexadecimal.
constexpr size_t kOffsetTextSize = 48;
}  // namespace

DataCheck checkDataFile(const std::string& path) {
    InputFile file;
    if (int err = file.open(path)) return {err, -1};
    std::vector<char> block(kDataCheckBlockSize);
    int64_t offset = 0;
    for (;;) {
        const long long got = file.read(block.data(), block.size());
        if (got < 0) return {file.error(), -1};
        if (got == 0) return {};
        // The data ends at a 0x1A: what follows it is never read, NUL or not.
        const auto* sub = static_cast<const char*>(std::memchr(block.data(), 0x1a, size_t(got)));
        const size_t n = sub ? size_t(sub - block.data()) : size_t(got);
        if (const void* nul = std::memchr(block.data(), 0, n))
            return {0, offset + (static_cast<const char*>(nul) - block.data())};
        if (sub) return {};
        offset += got;
    }
}

std::string offsetText(int64_t offset) {
    // Decimal, and hexadecimal as a hex editor counts.
    char text[kOffsetTextSize];
    std::snprintf(text, sizeof text, "%" PRId64 " (0x%" PRIX64 ")", offset, uint64_t(offset));
    return text;
}

std::string dataCheckText(const DataCheck& check) {
    if (check.err != 0) return systemErrorText(check.err);
    if (check.nulAt >= 0) return "a NUL byte at offset " + offsetText(check.nulAt);
    return std::string();
}

int progressShift(uint64_t total) {
    int shift = 0;
    while ((total >> shift) > uint64_t(INT32_MAX)) ++shift;
    return shift;
}
