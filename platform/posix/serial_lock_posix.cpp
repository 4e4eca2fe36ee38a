// Serial port lock files (LCK..name holding the owner's pid as "%10d\n"). flock and TIOCEXCL
// keep out programs that open the port after us, but not one that had it open before, nor
// root; terminal programs agree on these files instead.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>

#include "platform/serial.h"
#include "platform/serial_lock.h"

namespace {

#ifndef ZT_TEST_HOOKS
#error "ZT_TEST_HOOKS must be 0 or 1 (the CMake option of the same name)"
#endif
#if ZT_TEST_HOOKS
// Tests keep their lock files in a folder of their own.
constexpr const char* kLockDirEnv = "ZEMTABULO_LOCK_DIR";
#endif
constexpr const char* kLockPrefix = "LCK..";
// "%10d\n", read with room for a little more so that a longer file is not taken for a pid.
constexpr size_t kLockTextSize = 11;
constexpr size_t kLockReadSize = 32;
// Ports one process can hold locked at once; more are opened without a lock file.
constexpr size_t kMaxHeldLocks = 8;
constexpr size_t kLockPathSize = PATH_MAX;
// A lock without a readable pid may be one another program is still writing: it counts as
// held for this long after it was made, then as stale.
constexpr time_t kUnreadableLockGraceSeconds = 10;
// Tries at taking a lock that others keep making and removing under us.
constexpr int kAcquireTries = 3;

// The locks this process holds, readable from a signal handler: a slot's path is written
// before its fd is published, and the fd is withdrawn before the slot is reused.
struct HeldLock {
    std::atomic<int> fd{-1};
    char path[kLockPathSize] = {};
};
std::array<HeldLock, kMaxHeldLocks> g_held;
std::mutex g_heldMutex;  // taking and giving back slots (never taken by the signal path)
std::once_flag g_atExitOnce;

// The pid in a lock file's text; 0 when there is none. Async-signal-safe.
int parsePid(const char* text, size_t n) {
    size_t i = 0;
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    long pid = 0;
    size_t digits = 0;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        pid = pid * 10 + (text[i] - '0');
        if (pid > INT_MAX) return 0;
    }
    while (i < n && (text[i] == ' ' || text[i] == '\n' || text[i] == '\r')) ++i;
    return digits > 0 && i == n ? int(pid) : 0;
}

// The pid a lock file names: 0 when unreadable, -1 when there is no such file.
// Async-signal-safe.
int lockFilePid(const char* path) {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return errno == ENOENT ? -1 : 0;
    char buf[kLockReadSize];
    ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    return n > 0 ? parsePid(buf, size_t(n)) : 0;
}

// Removes the lock at `path` only when it still names this process. Async-signal-safe.
void removeIfOurs(const char* path) {
    if (lockFilePid(path) == int(getpid())) ::unlink(path);
}

bool processRuns(int pid) {
    return pid > 0 && (kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

// Under g_heldMutex.
bool heldHere(const std::string& path) {
    for (const HeldLock& slot : g_held) {
        if (slot.fd.load() >= 0 && path == slot.path) return true;
    }
    return false;
}

time_t ageSeconds(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return 0;
    return std::time(nullptr) - st.st_mtime;
}

// True when the lock at `path` (known to exist, naming `pid`) keeps us out.
bool lockIsLive(const std::string& path, int pid) {
    if (pid == 0) return ageSeconds(path) < kUnreadableLockGraceSeconds;
    // Our own pid: one of our ports, or left by an earlier process that had this pid.
    if (pid == int(getpid())) return heldHere(path);
    return processRuns(pid);
}

// Writes our pid to a fresh temporary file in `dir`; its path, or empty when the folder
// cannot be written.
std::string writeTemporaryLock(const std::string& dir) {
    static std::atomic<unsigned> counter{0};
    const std::string tmp =
        dir + "/LTMP." + std::to_string(getpid()) + "." + std::to_string(counter.fetch_add(1));
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return std::string();
    char text[kLockTextSize + 1];
    std::snprintf(text, sizeof text, "%10d\n", int(getpid()));
    const bool written = ::write(fd, text, kLockTextSize) == ssize_t(kLockTextSize);
    // The mode asked for is cut by the umask; others must be able to read the pid.
    fchmod(fd, 0644);
    if (::close(fd) != 0 || !written) {
        ::unlink(tmp.c_str());
        return std::string();
    }
    return tmp;
}

HeldLock* freeSlot() {
    for (HeldLock& slot : g_held) {
        if (slot.fd.load() < 0) return &slot;
    }
    return nullptr;
}

void releaseAtExit() {
    serialReleaseLocksForExit();
}

enum class Take { Ours, Busy, Impossible, Again };

// One try at making the lock at `path`: link() of a complete file either makes it or finds
// one there, so two programs never both believe they hold it.
Take tryTake(const std::string& path, int fd) {
    std::lock_guard<std::mutex> guard(g_heldMutex);
    const int pid = lockFilePid(path.c_str());
    if (pid >= 0) {
        if (lockIsLive(path, pid)) return Take::Busy;
        ::unlink(path.c_str());  // stale
    }
    const std::string dir = path.substr(0, path.rfind('/'));
    const std::string tmp = writeTemporaryLock(dir);
    if (tmp.empty()) return Take::Impossible;
    HeldLock* slot = freeSlot();
    if (!slot) {
        ::unlink(tmp.c_str());
        return Take::Impossible;
    }
    const int rc = ::link(tmp.c_str(), path.c_str());
    const int err = errno;
    ::unlink(tmp.c_str());
    if (rc != 0) return err == EEXIST ? Take::Again : Take::Impossible;
    std::snprintf(slot->path, sizeof slot->path, "%s", path.c_str());
    slot->fd.store(fd);
    return Take::Ours;
}

// Lock file name of a resolved device path. Under /dev the rest of the path, with every '/'
// made '_' (/dev/ttyUSB0 -> ttyUSB0, /dev/pts/3 -> pts_3), so the name never holds a
// separator and never leaves the lock directory; elsewhere the last component.
std::string lockName(const std::string& resolved) {
    std::string name = resolved.starts_with("/dev/") ? resolved.substr(5)
                                                     : resolved.substr(resolved.rfind('/') + 1);
    for (char& c : name) {
        if (c == '/') c = '_';
    }
    if (name.empty() || name == "." || name == "..") return std::string();
    return name;
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string serialLockDirectory() {
#if ZT_TEST_HOOKS
    if (const char* dir = std::getenv(kLockDirEnv); dir && *dir) return dir;
#endif
    for (const char* dir : {"/var/lock", "/run/lock"}) {
        if (isDirectory(dir)) return dir;
    }
    return std::string();
}

std::string serialLockPath(const std::string& device) {
    const std::string dir = serialLockDirectory();
    char resolved[PATH_MAX];
    if (dir.empty() || device.empty() || !realpath(device.c_str(), resolved)) return std::string();
    const std::string name = lockName(resolved);
    const std::string path = dir + "/" + kLockPrefix + name;
    if (name.empty() || path.size() >= kLockPathSize) return std::string();
    return path;
}

PortOwner serialPortOwner(const std::string& device) {
    const std::string path = serialLockPath(device);
    if (path.empty()) return {};
    const int pid = lockFilePid(path.c_str());
    if (pid <= 0 || !processRuns(pid)) return {};
    return {pid, processName(pid)};
}

std::string processName(int pid, const std::string& procRoot) {
    std::ifstream in(procRoot + "/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

int findProcessNamed(const std::string& comm, const std::string& procRoot) {
    DIR* dir = opendir(procRoot.c_str());
    if (!dir) return 0;
    int found = 0;
    while (const dirent* entry = readdir(dir)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || pid > INT_MAX || *end != '\0') continue;
        if ((found == 0 || pid < found) && processName(int(pid), procRoot) == comm)
            found = int(pid);
    }
    closedir(dir);
    return found;
}

int serialLockAcquire(const std::string& device, int fd) {
    const std::string path = serialLockPath(device);
    if (path.empty()) return 0;
    std::call_once(g_atExitOnce, [] { std::atexit(releaseAtExit); });
    for (int i = 0; i < kAcquireTries; ++i) {
        switch (tryTake(path, fd)) {
            case Take::Ours:
            case Take::Impossible:
                return 0;
            case Take::Busy:
                return EBUSY;
            case Take::Again:
                break;
        }
    }
    return EBUSY;
}

void serialLockRelease(int fd) {
    std::lock_guard<std::mutex> guard(g_heldMutex);
    for (HeldLock& slot : g_held) {
        if (slot.fd.load() != fd) continue;
        removeIfOurs(slot.path);
        slot.fd.store(-1);
    }
}

void serialReleaseLocksForExit() {
    for (HeldLock& slot : g_held) {
        if (slot.fd.load() >= 0) removeIfOurs(slot.path);
    }
}
