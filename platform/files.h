// Files written so that a failure never costs the file already there: the new content goes
// to a temporary file in the same folder and replaces the old one only once it is complete
// and on the disk.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The separator the platform puts between a folder and a name.
constexpr char kPathSeparator = '/';
bool isPathSeparator(char c);

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

    int fd_ = -1;
    int error_ = 0;
    std::string finalPath_;
    std::string tempPath_;
    std::vector<char> buf_;  // kWriteBufSize bytes once open
    size_t used_ = 0;
};

// Where a copy failed: at the source (open or read) or at the destination.
struct CopyResult {
    int err = 0;  // 0 on success, else the system's error code
    bool atSource = false;
};

// Copies `from` byte for byte to `to`, replacing a file of that name only when the copy is
// complete.
CopyResult copyFileReplacing(const std::string& from, const std::string& to);
