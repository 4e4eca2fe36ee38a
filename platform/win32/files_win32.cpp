// Files on Windows: reads as the bytes stand on disk, replacement files written beside the
// final name and moved over it with MoveFileExA once complete.
#include <windows.h>

#include <atomic>
#include <cstring>

#include "platform/files.h"

namespace {

// Attempts at a free temporary name before giving up.
constexpr int kTempNameTries = 100;

std::atomic<unsigned> g_tempCounter{0};

HANDLE handleOf(intptr_t fd) {
    return reinterpret_cast<HANDLE>(fd);
}
intptr_t fdOf(HANDLE h) {
    return reinterpret_cast<intptr_t>(h);
}

// Why a file would not open: a folder where a file was meant, else the system's code.
int openFailure(const std::string& path) {
    const DWORD err = GetLastError();
    const DWORD attr = GetFileAttributesA(path.c_str());
    if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY)) return kErrIsFolder;
    return int(err);
}

int writeAll(HANDLE h, const char* data, size_t n) {
    while (n > 0) {
        DWORD put = 0;
        const DWORD chunk = n > MAXDWORD ? MAXDWORD : DWORD(n);
        if (!WriteFile(h, data, chunk, &put, nullptr)) return int(GetLastError());
        if (put == 0) return ERROR_WRITE_FAULT;
        data += put;
        n -= put;
    }
    return 0;
}

// LockFileEx's exclusive lock on the whole file (and beyond its end), held for the object's
// lifetime.
struct FileLock {
    HANDLE h;
    int err = 0;
    OVERLAPPED at{};
    explicit FileLock(HANDLE file) : h(file) {
        if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &at))
            err = int(GetLastError());
    }
    ~FileLock() {
        if (err == 0) UnlockFileEx(h, 0, MAXDWORD, MAXDWORD, &at);
    }
};

}  // namespace

bool isPathSeparator(char c) {
    return c == '\\' || c == '/';
}

const int kErrNameTooLong = ERROR_FILENAME_EXCED_RANGE;
const int kErrIsFolder = ERROR_DIRECTORY;
const int kErrInvalidData = ERROR_INVALID_DATA;

std::string workingDirectory(size_t bufSize) {
    std::string buf(bufSize, '\0');
    // The length returned is the size needed, NUL included, when the buffer is too small.
    const DWORD n = GetCurrentDirectoryA(DWORD(bufSize), buf.data());
    if (n == 0 || n >= bufSize) return std::string();
    buf.resize(n);
    return buf;
}

int InputFile::open(const std::string& path) {
    close();
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return openFailure(path);
    fd_ = fdOf(h);
    LARGE_INTEGER size{};
    size_ =
        GetFileType(h) == FILE_TYPE_DISK && GetFileSizeEx(h, &size) ? uint64_t(size.QuadPart) : 0;
    error_ = 0;
    return 0;
}

void InputFile::close() {
    if (fd_ != -1) CloseHandle(handleOf(fd_));
    fd_ = -1;
}

long long InputFile::read(void* buf, size_t n) {
    DWORD got = 0;
    const DWORD want = n > MAXDWORD ? MAXDWORD : DWORD(n);
    if (!ReadFile(handleOf(fd_), buf, want, &got, nullptr)) {
        const DWORD err = GetLastError();
        if (err == ERROR_BROKEN_PIPE || err == ERROR_HANDLE_EOF) return 0;
        error_ = int(err);
        return -1;
    }
    return got;
}

ReplacementFile::~ReplacementFile() {
    discard();
}

int ReplacementFile::open(const std::string& finalPath) {
    discard();
    finalPath_ = finalPath;
    error_ = 0;
    const std::string stem = finalPath + ".tmp" + std::to_string(GetCurrentProcessId()) + "-";
    for (int i = 0; i < kTempNameTries; ++i) {
        std::string name = stem + std::to_string(g_tempCounter++);
        HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            fd_ = fdOf(h);
            tempPath_ = std::move(name);
            buf_.resize(kWriteBufSize);
            used_ = 0;
            return 0;
        }
        const DWORD err = GetLastError();
        if (err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) return error_ = int(err);
    }
    return error_ = ERROR_FILE_EXISTS;
}

int ReplacementFile::write(const void* data, size_t n) {
    if (error_) return error_;
    if (fd_ == -1) return error_ = ERROR_INVALID_HANDLE;
    if (used_ + n > buf_.size()) {
        if (flush() != 0) return error_;
        // What does not fit the buffer goes straight out.
        if (n >= buf_.size())
            return error_ = writeAll(handleOf(fd_), static_cast<const char*>(data), n);
    }
    std::memcpy(buf_.data() + used_, data, n);
    used_ += n;
    return 0;
}

int ReplacementFile::flush() {
    if (!error_ && used_ > 0) error_ = writeAll(handleOf(fd_), buf_.data(), used_);
    used_ = 0;
    return error_;
}

// The move is written through, so that the new name is on the disk when commit returns.
int ReplacementFile::commit() {
    if (fd_ == -1) return error_ ? error_ : ERROR_INVALID_HANDLE;
    if (flush() == 0 && !FlushFileBuffers(handleOf(fd_))) error_ = int(GetLastError());
    HANDLE h = handleOf(fd_);
    fd_ = -1;
    if (!CloseHandle(h) && !error_) error_ = int(GetLastError());
    if (!error_ && !MoveFileExA(tempPath_.c_str(), finalPath_.c_str(),
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error_ = int(GetLastError());
    if (error_) DeleteFileA(tempPath_.c_str());
    tempPath_.clear();
    return error_;
}

void ReplacementFile::discard() {
    if (fd_ != -1) CloseHandle(handleOf(fd_));
    fd_ = -1;
    if (!tempPath_.empty()) DeleteFileA(tempPath_.c_str());
    tempPath_.clear();
}

CopyResult copyFileReplacing(const std::string& from, const std::string& to) {
    InputFile src;
    if (int err = src.open(from)) return {err, true};
    ReplacementFile dst;
    if (int err = dst.open(to)) return {err, false};
    std::vector<char> buf(kWriteBufSize);
    for (;;) {
        const long long got = src.read(buf.data(), buf.size());
        if (got < 0) return {src.error(), true};
        if (got == 0) break;
        if (int err = dst.write(buf.data(), size_t(got))) return {err, false};
    }
    return {dst.commit(), false};
}

// Append access without write access makes every write go to the end of the file; read access
// lets the last byte be looked at.
int AppendFile::open(const std::string& path) {
    close();
    HANDLE h = CreateFileA(path.c_str(), FILE_GENERIC_READ | FILE_APPEND_DATA,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return openFailure(path);
    fd_ = fdOf(h);
    return 0;
}

void AppendFile::close() {
    if (fd_ != -1) CloseHandle(handleOf(fd_));
    fd_ = -1;
}

long long AppendFile::readAt(uint64_t offset, void* buf, size_t n) {
    OVERLAPPED at{};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD got = 0;
    const DWORD want = n > MAXDWORD ? MAXDWORD : DWORD(n);
    if (!ReadFile(handleOf(fd_), buf, want, &got, &at))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return got;
}

int AppendFile::append(const Compose& compose) {
    std::lock_guard<std::mutex> turn(mutex_);
    if (fd_ == -1) return ERROR_INVALID_HANDLE;
    HANDLE h = handleOf(fd_);
    FileLock lock(h);
    if (lock.err) return lock.err;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h, &size)) return int(GetLastError());
    int last = -1;
    if (size.QuadPart > 0) {
        unsigned char c = 0;
        const long long got = readAt(uint64_t(size.QuadPart) - 1, &c, 1);
        if (got < 0) return int(GetLastError());
        if (got != 1) return ERROR_READ_FAULT;
        last = c;
    }
    const std::string bytes = compose(uint64_t(size.QuadPart), last);
    // A compose that only looked (under the lock) has nothing to put on the disk.
    if (bytes.empty()) return 0;
    if (int err = writeAll(h, bytes.data(), bytes.size())) return err;
    // Append access is enough for the flush (the system wants write or append access).
    return FlushFileBuffers(h) ? 0 : int(GetLastError());
}
