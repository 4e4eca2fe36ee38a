// Helpers shared by the fuzz targets: a failed invariant aborts with its text (libFuzzer then
// keeps the input), and a file held in memory that code reading by path can open.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#define FUZZ_CHECK(cond)                                                                      \
    do {                                                                                      \
        if (!(cond)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                     \
        }                                                                                     \
    } while (0)

// One anonymous in-memory file for the whole run, refilled for each input; `path` opens it
// afresh from the start, as a file on disk would.
class MemFile {
  public:
    MemFile() {
        fd_ = memfd_create("zt-fuzz", MFD_CLOEXEC);
        FUZZ_CHECK(fd_ >= 0);
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemFile() { ::close(fd_); }
    MemFile(const MemFile&) = delete;
    MemFile& operator=(const MemFile&) = delete;

    void fill(const uint8_t* data, size_t n) const {
        FUZZ_CHECK(ftruncate(fd_, 0) == 0);
        size_t done = 0;
        while (done < n) {
            ssize_t put = pwrite(fd_, data + done, n - done, off_t(done));
            FUZZ_CHECK(put > 0);
            done += size_t(put);
        }
    }
    std::string contents() const {
        std::string out;
        char buf[4096];
        off_t at = 0;
        ssize_t got;
        while ((got = pread(fd_, buf, sizeof buf, at)) > 0) {
            out.append(buf, size_t(got));
            at += got;
        }
        return out;
    }
    const std::string& path() const { return path_; }

  private:
    int fd_ = -1;
    std::string path_;
};

// A folder in memory-backed storage for the files a target writes anew for every input (and
// syncs); it goes, with what is in it, when the run ends. One per target.
inline std::string scratchFolder(const char* name) {
    static std::string folder;
    folder = std::string("/dev/shm/zt-fuzz-") + name + "-XXXXXX";
    FUZZ_CHECK(mkdtemp(folder.data()) != nullptr);
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    });
    return folder;
}

// The data of a V3 text file as a text stream reads it, written independently of the reader:
// everything before the first 0x1A, each CR LF pair as LF.
inline std::string textStreamModel(const uint8_t* data, size_t n) {
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n && data[i] != 0x1a; ++i) {
        if (data[i] == '\r' && i + 1 < n && data[i + 1] == '\n') continue;
        out += char(data[i]);
    }
    return out;
}
