#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/files.h"

namespace {

// Attempts at a free temporary name before giving up.
constexpr int kTempNameTries = 100;

std::atomic<unsigned> g_tempCounter{0};

std::string folderOf(const std::string& path) {
    const size_t cut = path.find_last_of(kPathSeparator);
    if (cut == std::string::npos) return ".";
    return cut == 0 ? std::string(1, kPathSeparator) : path.substr(0, cut);
}

int writeAll(int fd, const char* data, size_t n) {
    while (n > 0) {
        const ssize_t done = ::write(fd, data, n);
        if (done < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data += done;
        n -= size_t(done);
    }
    return 0;
}

// A rename is only as lasting as the folder entry that records it. Some file systems cannot
// sync a folder; for them the file's own sync is all there is.
int syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    int err = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return err == EINVAL || err == ENOTSUP ? 0 : err;
}

// flock's exclusive lock, held for the object's lifetime.
struct FileLock {
    int fd;
    int err = 0;
    explicit FileLock(int f) : fd(f) {
        while (::flock(fd, LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            err = errno;
            break;
        }
    }
    ~FileLock() {
        if (err == 0) ::flock(fd, LOCK_UN);
    }
};

// A file descriptor that closes itself.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

bool isPathSeparator(char c) { return c == kPathSeparator; }

const int kErrNameTooLong = ENAMETOOLONG;
const int kErrIsFolder = EISDIR;
const int kErrInvalidData = EINVAL;

std::string workingDirectory(size_t bufSize) {
    std::vector<char> buf(bufSize);
    if (bufSize == 0 || !::getcwd(buf.data(), buf.size())) return std::string();
    return std::string(buf.data());
}

int InputFile::open(const std::string& path) {
    close();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        return err;
    }
    fd_ = fd;
    size_ = S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0;
    error_ = 0;
    return 0;
}

void InputFile::close() {
    if (fd_ >= 0) ::close(int(fd_));
    fd_ = -1;
}

long long InputFile::read(void* buf, size_t n) {
    for (;;) {
        const ssize_t got = ::read(int(fd_), buf, n);
        if (got >= 0) return got;
        if (errno == EINTR) continue;
        error_ = errno;
        return -1;
    }
}

ReplacementFile::~ReplacementFile() { discard(); }

int ReplacementFile::open(const std::string& finalPath) {
    discard();
    finalPath_ = finalPath;
    error_ = 0;
    const std::string stem = finalPath + ".tmp" + std::to_string(::getpid()) + "-";
    for (int i = 0; i < kTempNameTries; ++i) {
        std::string name = stem + std::to_string(g_tempCounter++);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            fd_ = fd;
            tempPath_ = std::move(name);
            buf_.resize(kWriteBufSize);
            used_ = 0;
            written_ = kicked_ = 0;
            return 0;
        }
        if (errno != EEXIST) return error_ = errno;
    }
    return error_ = EEXIST;
}

int ReplacementFile::write(const void* data, size_t n) {
    if (error_) return error_;
    if (fd_ < 0) return error_ = EBADF;
    if (used_ + n > buf_.size()) {
        if (flush() != 0) return error_;
        // What does not fit the buffer goes straight out.
        if (n >= buf_.size()) {
            error_ = writeAll(fd_, static_cast<const char*>(data), n);
            written_ += n;
            return error_;
        }
    }
    std::memcpy(buf_.data() + used_, data, n);
    used_ += n;
    return 0;
}

// Write-back is started every this many bytes, so that the sync at the end finds most of the
// file already on its way to the stick instead of all of it.
constexpr uint64_t kWriteBackStep = 4u << 20;

int ReplacementFile::flush() {
    if (!error_ && used_ > 0) error_ = writeAll(fd_, buf_.data(), used_);
    written_ += used_;
    used_ = 0;
#ifdef __linux__
    if (!error_ && written_ - kicked_ >= kWriteBackStep) {
        sync_file_range(int(fd_), off64_t(kicked_), off64_t(written_ - kicked_),
                        SYNC_FILE_RANGE_WRITE);
        kicked_ = written_;
    }
#endif
    return error_;
}

int ReplacementFile::commit() {
    if (fd_ < 0) return error_ ? error_ : EBADF;
    if (flush() == 0 && ::fsync(fd_) != 0) error_ = errno;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && !error_) error_ = errno;
    if (!error_ && ::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) error_ = errno;
    if (error_) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
        return error_;
    }
    tempPath_.clear();
    return error_ = syncFolder(folderOf(finalPath_));
}

void ReplacementFile::discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
    tempPath_.clear();
}

CopyResult copyFileReplacing(const std::string& from, const std::string& to) {
    Fd src;
    src.fd = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (src.fd < 0) return {errno, true};
    struct stat st{};
    if (::fstat(src.fd, &st) != 0) return {errno, true};
    if (S_ISDIR(st.st_mode)) return {EISDIR, true};

    ReplacementFile dst;
    if (int err = dst.open(to)) return {err, false};
    std::vector<char> buf(kWriteBufSize);
    for (;;) {
        const ssize_t got = ::read(src.fd, buf.data(), buf.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return {errno, true};
        if (got == 0) break;
        if (int err = dst.write(buf.data(), size_t(got))) return {err, false};
    }
    return {dst.commit(), false};
}

int AppendFile::open(const std::string& path) {
    close();
    // Read access too: the last byte tells whether the last line was ended.
    const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    fd_ = fd;
    return 0;
}

void AppendFile::close() {
    if (fd_ >= 0) ::close(int(fd_));
    fd_ = -1;
}

long long AppendFile::readAt(uint64_t offset, void* buf, size_t n) {
    for (;;) {
        const ssize_t got = ::pread(int(fd_), buf, n, off_t(offset));
        if (got >= 0 || errno != EINTR) return got;
    }
}

int AppendFile::append(const Compose& compose) {
    std::lock_guard<std::mutex> turn(mutex_);
    if (fd_ < 0) return EBADF;
    const int fd = int(fd_);
    FileLock lock(fd);
    if (lock.err) return lock.err;
    struct stat st {};
    if (::fstat(fd, &st) != 0) return errno;
    const uint64_t size = uint64_t(st.st_size);
    int last = -1;
    if (size > 0) {
        unsigned char c = 0;
        const long long got = readAt(size - 1, &c, 1);
        if (got < 0) return errno;
        if (got != 1) return EIO;
        last = c;
    }
    const std::string bytes = compose(size, last);
    // A compose that only looked (under the lock) has nothing to put on the disk.
    if (bytes.empty()) return 0;
    if (int err = writeAll(fd, bytes.data(), bytes.size())) {
        // Nobody else appends while the lock is held: cutting back to the old end removes
        // exactly the part of this append that got out.
        if (::ftruncate(fd, off_t(size)) != 0) return err;
        return err;
    }
    return ::fsync(fd) == 0 ? 0 : errno;
}
