#include "writer/text_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

TextStream::~TextStream() { close(); }

int TextStream::open(const std::string& path) {
    close();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    struct stat st{};
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        return err;
    }
    fd_ = fd;
    size_ = S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0;
    rawPos_ = 0;
    error_ = 0;
    ended_ = false;
    pos_ = len_ = 0;
    return 0;
}

void TextStream::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

int TextStream::peekRaw() {
    if (pos_ == len_) {
        if (fd_ < 0 || error_) return -1;
        ssize_t got;
        do {
            got = ::read(fd_, buf_, sizeof buf_);
        } while (got < 0 && errno == EINTR);
        if (got < 0) {
            error_ = errno;
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
