// Lock files for serial ports on POSIX systems, the convention terminal programs share: a file
// LCK..<device> in the lock directory holding the owner's pid as "%10d\n". serialOpen honours
// them and holds one while the port is open; `zemtabulo-cli ports` reads them.
#pragma once

#include <functional>
#include <string>

// The lock directory: $ZEMTABULO_LOCK_DIR when set in a build with ZT_TEST_HOOKS (tests), else
// the first of /var/lock and /run/lock that exists. Empty when there is none: ports are then
// opened without lock files.
std::string serialLockDirectory();

// The lock file that stands for `device`, symbolic links resolved first so that two names of
// one device share one lock. Empty when there is no lock directory or no such device.
std::string serialLockPath(const std::string& device);

// The live process that a lock file names as the owner of `device` (ourselves included);
// pid 0 when the port is not locked or its lock is stale: the process has ended (a zombie
// too), or the pid now belongs to a process that started after the lock was made.
struct PortOwner {
    int pid = 0;
    std::string program;  // from /proc/PID/comm; empty when unknown
};
PortOwner serialPortOwner(const std::string& device);

// What stops this process from making lock files in the lock directory, as a line for the
// operator; empty when nothing does, or when there is no lock directory.
std::string serialLockProblem();

// The command name of process `pid` (its comm, without the line end); empty when unknown.
std::string processName(int pid, const std::string& procRoot = "/proc");

// The lowest pid whose command name is `comm` exactly; 0 when none runs.
int findProcessNamed(const std::string& comm, const std::string& procRoot = "/proc");

// For the POSIX serial backend, before `device` is opened: takes its lock, so that a port
// another program holds is never opened. 0 when the lock is ours now, or when locking is
// impossible (no lock directory, one we cannot write: told by debugOut); EBUSY when a live
// process holds it. A stale lock is removed first. `claim` is set to the lock's number for
// serialLockBind and serialLockDrop, or -1 when no lock file was made.
int serialLockAcquire(const std::string& device, int& claim);
// The device opened as descriptor `fd`: its lock now goes with serialLockRelease(fd).
void serialLockBind(int claim, int fd);
// The device did not open: its lock goes now.
void serialLockDrop(int claim);
// Removes the lock taken for descriptor `fd`, if any, before the descriptor is closed.
void serialLockRelease(int fd);

// Test hook, in builds with ZT_TEST_HOOKS only: `hook` runs with the lock's path after a lock
// was read and found stale, before it is taken away, so that a test can make a fresh lock in
// between as another program would. An empty function removes the hook.
void setStaleLockHook(std::function<void(const std::string& path)> hook);
