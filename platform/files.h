// Files written so that a failure never costs the file already there: the new content goes
// to a temporary file in the same folder and replaces the old one only once it is complete
// and on the disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// The separator the platform puts between a folder and a name.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif
bool isPathSeparator(char c);

// System error codes (errno values on POSIX, Win32 error codes on Windows) for faults the
// program finds itself: a path too long for its buffer, a folder where a file was expected,
// data a file's format cannot take (a file of another format, a value it cannot hold).
extern const int kErrNameTooLong;
extern const int kErrIsFolder;
extern const int kErrInvalidData;

// The working directory, or an empty text when it does not fit a buffer of `bufSize`
// characters (its terminating NUL included).
std::string workingDirectory(size_t bufSize);

// A file opened for reading its bytes as they are on disk, with no line end translation.
class InputFile {
public:
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile() { close(); }

    // Opens a file for reading; a folder is refused. 0 on success, else the system's error code.
    int open(const std::string& path);
    bool isOpen() const { return fd_ != -1; }
    void close();
    // Size of a regular file on disk; 0 for anything else.
    uint64_t size() const { return size_; }
    // Reads up to n bytes. Returns the count, 0 at the end of the file, -1 on failure with
    // error() telling why.
    long long read(void* buf, size_t n);
    int error() const { return error_; }

private:
    intptr_t fd_ = -1;  // file descriptor, or HANDLE on Windows
    uint64_t size_ = 0;
    int error_ = 0;
};

// Bytes collected before they go to the disk in one write.
constexpr size_t kWriteBufSize = 64 * 1024;

// A file under construction. Until commit() succeeds the final name is untouched; a
// ReplacementFile destroyed without a commit removes its temporary file.
class ReplacementFile {
public:
    ReplacementFile() = default;
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;
    ~ReplacementFile();

    // Creates the temporary file beside `finalPath`. 0 on success, else the system's error code.
    int open(const std::string& finalPath);
    // Appends bytes. 0 on success, else the system's error code; after a failure every later
    // call fails with the same code.
    int write(const void* data, size_t n);
    // Flushes, syncs and closes the file, then renames it over the final name and syncs the
    // folder. 0 on success, else the system's error code (the temporary file is then gone).
    int commit();

private:
    int flush();
    void discard();

    intptr_t fd_ = -1;  // file descriptor, or HANDLE on Windows
    int error_ = 0;
    std::string finalPath_;
    std::string tempPath_;
    std::vector<char> buf_;  // kWriteBufSize bytes once open
    size_t used_ = 0;
    uint64_t written_ = 0;   // bytes handed to the system
    uint64_t kicked_ = 0;    // bytes whose write-back has been started
};

// Where a copy failed: at the source (open or read) or at the destination.
struct CopyResult {
    int err = 0;  // 0 on success, else the system's error code
    bool atSource = false;
};

// Copies `from` byte for byte to `to`, replacing a file of that name only when the copy is
// complete.
CopyResult copyFileReplacing(const std::string& from, const std::string& to);

// A file that several programs append records to. Each append holds an exclusive lock on the
// file while it looks at the end and writes, so that what one append decides from the file's
// end (a header for an empty file, a line end for a torn last line) still holds when its bytes
// go out; the bytes go out in one write and are on the disk before the lock is released.
class AppendFile {
public:
    AppendFile() = default;
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;
    ~AppendFile() { close(); }

    // Opens (creating) the file for appending; a folder is refused. 0 on success, else the
    // system's error code.
    int open(const std::string& path);
    bool isOpen() const { return fd_ != -1; }
    void close();

    // Gives the bytes to append, from the file's size and its last byte (-1 when empty).
    using Compose = std::function<std::string(uint64_t size, int lastByte)>;
    // Runs `compose` under the lock, writes what it returns, syncs (nothing when it returns
    // nothing). 0 on success, else the system's error code. A failed write leaves the file as it
    // was where the system allows (POSIX truncates back; Windows cannot through an append-only
    // handle).
    int append(const Compose& compose);
    // Reads up to n bytes at `offset`, for a Compose that must look further back than the last
    // byte (it runs under the lock). The count, 0 at the end, -1 on failure.
    long long readAt(uint64_t offset, void* buf, size_t n);

private:
    intptr_t fd_ = -1;  // file descriptor, or HANDLE on Windows
    // The system's lock belongs to the open file, not the thread: threads sharing this object
    // take turns here first.
    std::mutex mutex_;
};
