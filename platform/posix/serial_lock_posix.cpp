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
#include <sstream>
#include <vector>

#include "platform/debug.h"
#include "platform/serial.h"
#include "platform/serial_lock.h"

namespace {

#ifndef ZT_TEST_HOOKS
#error "ZT_TEST_HOOKS must be 0 or 1 (the CMake option of the same name)"
#endif
#if ZT_TEST_HOOKS
// Tests keep their lock files in a folder of their own.
constexpr const char* kLockDirEnv = "ZEMTABULO_LOCK_DIR";
// Runs between finding a lock stale and taking it away (setStaleLockHook); under g_heldMutex.
std::function<void(const std::string&)> g_staleHook;
#endif
constexpr const char* kLockPrefix = "LCK..";
// Our files beside the locks: a lock being written, and a stale lock moved aside.
constexpr const char* kTempPrefix = "LTMP.";
constexpr const char* kAsidePrefix = "LOLD.";
// The temporary file `ports` makes to see whether lock files can be made.
constexpr const char* kProbeName = "probe";
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
// Names tried for a temporary file when one is taken (left by an earlier process with our pid).
constexpr int kTempNameTries = 3;
// A lock counts as older than the process its pid names only by more than this: the clock may
// have been corrected a little since the lock was made.
constexpr double kStartSlackSeconds = 2;
// In /proc/PID/stat, counted from 1: the state letter and the start in clock ticks after boot.
constexpr size_t kStatStateField = 3;
constexpr size_t kStatStartField = 22;
// A slot's fd: free, or a lock made for a device not open yet.
constexpr int kFreeSlot = -1;
constexpr int kClaimedSlot = -2;

// The locks this process holds, readable from a signal handler: a slot's path is written
// before its fd is published, and the fd is withdrawn before the slot is reused.
struct HeldLock {
    std::atomic<int> fd{kFreeSlot};
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

// One look at a lock file: the pid it names and which file it was, so that a later look can
// tell whether it is still the same one.
struct LockRead {
    bool exists = false;
    int pid = 0;  // 0 when unreadable
    dev_t dev = 0;
    ino_t ino = 0;
    timespec mtime{};
};

// Async-signal-safe.
LockRead readLock(const char* path) {
    LockRead lock;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0 && errno == ENOENT) return lock;
    lock.exists = true;
    struct stat st {};
    if ((fd >= 0 ? fstat(fd, &st) : lstat(path, &st)) != 0) {
        lock.mtime.tv_sec = std::time(nullptr);  // cannot be looked at: as if just made
    } else {
        lock.dev = st.st_dev;
        lock.ino = st.st_ino;
        lock.mtime = st.st_mtim;
    }
    if (fd < 0) return lock;
    char buf[kLockReadSize];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    lock.pid = n > 0 ? parsePid(buf, size_t(n)) : 0;
    return lock;
}

bool sameLock(const LockRead& a, const LockRead& b) {
    return a.exists && b.exists && a.dev == b.dev && a.ino == b.ino && a.pid == b.pid &&
           a.mtime.tv_sec == b.mtime.tv_sec && a.mtime.tv_nsec == b.mtime.tv_nsec;
}

// Removes the lock at `path` only when it still names this process. Async-signal-safe.
void removeIfOurs(const char* path) {
    if (readLock(path).pid == int(getpid())) ::unlink(path);
}

// Seconds since the epoch at which the system started, from /proc/stat; 0 when unknown.
long long bootTime() {
    std::ifstream in("/proc/stat");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("btime ", 0) == 0) return std::strtoll(line.c_str() + 6, nullptr, 10);
    }
    return 0;
}

// What /proc tells of a process: whether it has ended (a zombie, not yet reaped by its
// parent), and when it started.
struct ProcessStart {
    bool known = false;  // no /proc, or the process is gone
    bool ended = false;
    double startedAt = 0;  // seconds since the epoch
};

ProcessStart processStart(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(in, text);
    // The command name, in parentheses, may hold blanks and parentheses: the fields after it
    // start at the last ')'.
    const size_t nameEnd = text.rfind(')');
    if (nameEnd == std::string::npos) return {};
    std::istringstream rest(text.substr(nameEnd + 1));
    std::vector<std::string> fields;
    for (std::string f; rest >> f;) fields.push_back(f);
    const size_t startAt = kStatStartField - kStatStateField;
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    const long long boot = bootTime();
    if (fields.size() <= startAt || ticksPerSecond <= 0 || boot == 0) return {};
    ProcessStart p;
    p.known = true;
    p.ended = fields[0] == "Z" || fields[0] == "X";
    const double ticks = double(std::strtoull(fields[startAt].c_str(), nullptr, 10));
    p.startedAt = double(boot) + ticks / double(ticksPerSecond);
    return p;
}

// True when process `pid` runs and may be the one that made a lock modified at `made`.
bool ownerRuns(int pid, const timespec& made) {
    if (pid <= 0 || (kill(pid_t(pid), 0) != 0 && errno != EPERM)) return false;
    const ProcessStart p = processStart(pid);
    if (!p.known) return true;  // without /proc the pid is all there is to go by
    if (p.ended) return false;
    // A lock older than the process is an earlier owner's whose pid has come round again.
    return double(made.tv_sec) + kStartSlackSeconds >= p.startedAt;
}

// Under g_heldMutex.
bool heldHere(const std::string& path) {
    for (const HeldLock& slot : g_held) {
        if (slot.fd.load() != kFreeSlot && path == slot.path) return true;
    }
    return false;
}

// True when the lock at `path`, as read in `lock`, keeps us out.
bool lockIsLive(const std::string& path, const LockRead& lock) {
    if (lock.pid == 0) return std::time(nullptr) - lock.mtime.tv_sec < kUnreadableLockGraceSeconds;
    // Our own pid: one of our ports, or left by an earlier process that had this pid.
    if (lock.pid == int(getpid())) return heldHere(path);
    return ownerRuns(lock.pid, lock.mtime);
}

std::string folderOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

// The device part of a lock's name (LCK..ttyUSB0 -> ttyUSB0).
std::string deviceNameOf(const std::string& lockPath) {
    return lockPath.substr(lockPath.rfind('/') + 1 + std::strlen(kLockPrefix));
}

// A name of ours in `dir`: the prefix, our pid and `name`, so that no other process and no
// other lock of ours uses it; attempts after the first add their number.
std::string ourName(const std::string& dir, const char* prefix, const std::string& name,
                    int attempt) {
    std::string path = dir + "/" + prefix + std::to_string(getpid()) + "." + name;
    if (attempt > 0) path += "." + std::to_string(attempt);
    return path;
}

// Writes our pid as a lock's text and closes `fd`: 0, else the system's error code.
int writePidAndClose(int fd) {
    char text[kLockTextSize + 1];
    std::snprintf(text, sizeof text, "%10d\n", int(getpid()));
    const ssize_t n = ::write(fd, text, kLockTextSize);
    int err = n == ssize_t(kLockTextSize) ? 0 : n < 0 ? errno : EIO;
    // The mode asked for is cut by the umask; others must be able to read the pid.
    fchmod(fd, 0644);
    if (::close(fd) != 0 && err == 0) err = errno;
    return err;
}

// A complete lock file under a temporary name, or why there is none.
struct TempLock {
    std::string path;  // empty when none was made
    int err = 0;
};

// Writes our pid to a fresh temporary file in `dir` for the lock of device `name`. A name that
// is taken is passed over, and told.
TempLock writeTemporaryLock(const std::string& dir, const std::string& name) {
    for (int attempt = 0; attempt < kTempNameTries; ++attempt) {
        const std::string tmp = ourName(dir, kTempPrefix, name, attempt);
        const int fd =
            ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0 && errno == EEXIST) {
            debugOut("lock: the temporary name " + tmp + " is taken; trying another");
            continue;
        }
        if (fd < 0) return {std::string(), errno};
        if (const int err = writePidAndClose(fd); err != 0) {
            ::unlink(tmp.c_str());
            return {std::string(), err};
        }
        return {tmp, 0};
    }
    return {std::string(), EEXIST};
}

std::string cannotMakeText(const std::string& dir, int err) {
    return "lock files cannot be made in " + dir + " (" + systemErrorText(err) + ")";
}

HeldLock* freeSlot() {
    for (HeldLock& slot : g_held) {
        if (slot.fd.load() == kFreeSlot) return &slot;
    }
    return nullptr;
}

void releaseAtExit() {
    serialReleaseLocksForExit();
}

enum class Take { Ours, Busy, Impossible, Again };

// Takes the stale lock `found` away from `path`, never another: it is moved aside first, and
// moved back when what moved is not the file that was read (another program replaced it in
// between). False when a lock is still there.
bool takeAwayStale(const std::string& path, const LockRead& found) {
#if ZT_TEST_HOOKS
    if (g_staleHook) g_staleHook(path);
#endif
    const std::string aside = ourName(folderOf(path), kAsidePrefix, deviceNameOf(path), 0);
    if (::rename(path.c_str(), aside.c_str()) != 0) {
        const int err = errno;
        if (err == ENOENT) return true;  // another program removed it
        debugOut("lock: the stale " + path + " cannot be removed (" + systemErrorText(err) + ")");
        return false;
    }
    if (sameLock(readLock(aside.c_str()), found)) {
        ::unlink(aside.c_str());
        return true;
    }
    // Should a third program have made a lock in the moment this one was away, the two
    // programs that made them both believe they hold the port; a window of microseconds.
    ::rename(aside.c_str(), path.c_str());
    debugOut("lock: " + path + " was made anew by another program as it was found stale");
    return false;
}

// Makes the lock at `path` for a device about to be opened: link() of a complete file either
// makes it or finds one there, so two programs never both believe they hold it.
Take makeLock(const std::string& path, int& claim) {
    HeldLock* slot = freeSlot();
    if (!slot) {
        debugOut("lock: " + std::to_string(kMaxHeldLocks) + " ports held: " + path + " not made");
        return Take::Impossible;
    }
    const std::string dir = folderOf(path);
    const TempLock tmp = writeTemporaryLock(dir, deviceNameOf(path));
    int err = tmp.err;
    if (!tmp.path.empty()) {
        err = ::link(tmp.path.c_str(), path.c_str()) == 0 ? 0 : errno;
        ::unlink(tmp.path.c_str());
    }
    if (err == EEXIST && !tmp.path.empty()) return Take::Again;
    if (err != 0) {
        debugOut("lock: " + cannotMakeText(dir, err) + ": the port is opened without one");
        return Take::Impossible;
    }
    std::snprintf(slot->path, sizeof slot->path, "%s", path.c_str());
    slot->fd.store(kClaimedSlot);
    claim = int(slot - g_held.data());
    return Take::Ours;
}

// One try at taking the lock at `path`.
Take tryTake(const std::string& path, int& claim) {
    std::lock_guard<std::mutex> guard(g_heldMutex);
    const LockRead found = readLock(path.c_str());
    if (found.exists) {
        if (lockIsLive(path, found)) return Take::Busy;
        if (!takeAwayStale(path, found)) return Take::Again;
    }
    return makeLock(path, claim);
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
    const LockRead lock = readLock(path.c_str());
    if (!lock.exists || !ownerRuns(lock.pid, lock.mtime)) return {};
    return {lock.pid, processName(lock.pid)};
}

std::string serialLockProblem() {
    const std::string dir = serialLockDirectory();
    if (dir.empty()) return std::string();
    const TempLock probe = writeTemporaryLock(dir, kProbeName);
    if (probe.path.empty()) return cannotMakeText(dir, probe.err);
    ::unlink(probe.path.c_str());
    return std::string();
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

int serialLockAcquire(const std::string& device, int& claim) {
    claim = -1;
    const std::string path = serialLockPath(device);
    if (path.empty()) {
        if (serialLockDirectory().empty())
            debugOut("lock: no lock directory: " + device + " is opened without a lock file");
        return 0;
    }
    std::call_once(g_atExitOnce, [] { std::atexit(releaseAtExit); });
    for (int i = 0; i < kAcquireTries; ++i) {
        switch (tryTake(path, claim)) {
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

void serialLockBind(int claim, int fd) {
    if (claim < 0 || size_t(claim) >= g_held.size()) return;
    std::lock_guard<std::mutex> guard(g_heldMutex);
    g_held[size_t(claim)].fd.store(fd);
}

void serialLockDrop(int claim) {
    if (claim < 0 || size_t(claim) >= g_held.size()) return;
    std::lock_guard<std::mutex> guard(g_heldMutex);
    HeldLock& slot = g_held[size_t(claim)];
    removeIfOurs(slot.path);
    slot.fd.store(kFreeSlot);
}

void serialLockRelease(int fd) {
    std::lock_guard<std::mutex> guard(g_heldMutex);
    for (HeldLock& slot : g_held) {
        if (slot.fd.load() != fd) continue;
        removeIfOurs(slot.path);
        slot.fd.store(kFreeSlot);
    }
}

void serialReleaseLocksForExit() {
    for (HeldLock& slot : g_held) {
        if (slot.fd.load() != kFreeSlot) removeIfOurs(slot.path);
    }
}

#if ZT_TEST_HOOKS
void setStaleLockHook(std::function<void(const std::string& path)> hook) {
    std::lock_guard<std::mutex> guard(g_heldMutex);
    g_staleHook = std::move(hook);
}
#endif
