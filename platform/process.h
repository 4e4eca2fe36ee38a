// Child processes with their standard output on a pipe, and the operator's interrupt
// (Ctrl-C, SIGTERM). Several devices are written by several processes of the single-device
// job, so that one device's fault cannot touch another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A started child. Destroying a running child ends it (see terminate) and waits for it.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    // Starts argv[0] with the arguments that follow. Its standard input is the null device, its
    // standard output this end's pipe; its standard error is ours, or the null device with
    // `quietErrors`. 0 on success, else the system's error code.
    int start(const std::vector<std::string>& argv, bool quietErrors);
    bool started() const { return pid_ != 0; }
    // The process id (the process HANDLE on Windows).
    intptr_t id() const { return pid_; }

    // Blocks until some output is there. The count read, 0 at the end of the output (the child
    // and its heirs have closed it), -1 on failure.
    long long read(char* buf, size_t n);

    // Asks the child to end as an interrupt would (SIGTERM; on Windows it is ended at once).
    void terminate();
    // Ends the child at once.
    void kill();
    // Waits for the child to end. Its exit status; 128 + the signal's number when a signal
    // ended it.
    int wait();

private:
    intptr_t pid_ = 0;             // process id, or the process HANDLE on Windows
    intptr_t out_ = -1;            // read end of the output pipe (fd or HANDLE)
    int status_ = -1;              // once waited for
};

// The path of the running program, for starting more of itself.
std::string selfExecutablePath();

// The id of this process's parent, taken at a job's start and looked at again later: a parent
// that died leaves the process to another, whose id differs. 0 where the system does not tell
// (Windows), and a parent gone shows only as a pipe that no longer takes the output.
intptr_t parentProcessId();

// Runs `handler` on a thread of its own at the first interrupt (SIGINT, SIGTERM, SIGHUP,
// Ctrl-C, Ctrl-Break, the console closed), with the signal's number (SIGINT 2, SIGTERM 15,
// SIGHUP 1). Later
// interrupts are ignored. Call before starting any other thread: on POSIX the signals are
// blocked in the calling thread and those it starts.
void onInterrupt(std::function<void(int signal)> handler);
