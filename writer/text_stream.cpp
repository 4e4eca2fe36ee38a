#include "writer/text_stream.h"

TextStream::~TextStream() { close(); }

int TextStream::open(const std::string& path) {
    if (int err = file_.open(path)) return err;
    size_ = file_.size();
    rawPos_ = 0;
    error_ = 0;
    ended_ = false;
    pos_ = len_ = 0;
    return 0;
}

void TextStream::close() { file_.close(); }

int TextStream::peekRaw() {
    if (pos_ == len_) {
        if (!file_.isOpen() || error_) return -1;
        const long long got = file_.read(buf_, sizeof buf_);
        if (got < 0) {
            error_ = file_.error();
            return -1;
        }
        pos_ = 0;
        len_ = size_t(got);
        if (len_ == 0) return -1;
    }
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

size_t TextStream::readPiece(char* out, size_t cap) {
    size_t n = 0;
    while (n + 1 < cap) {
        int c = next();
        if (c < 0) break;
        out[n++] = char(c);
        if (c == '\n') break;
    }
    if (cap > 0) out[n] = '\0';
    return n;
}
