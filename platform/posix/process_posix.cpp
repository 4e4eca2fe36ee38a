#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/process.h"

extern char** environ;

namespace {

// posix_spawn's file actions, freed however the start goes.
struct SpawnActions {
    posix_spawn_file_actions_t actions;
    SpawnActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
};

struct SpawnAttributes {
    posix_spawnattr_t attr;
    SpawnAttributes() { posix_spawnattr_init(&attr); }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attr); }
};

void closeFd(intptr_t& fd) {
    if (fd >= 0) ::close(int(fd));
    fd = -1;
}

}  // namespace

ChildProcess::~ChildProcess() {
    if (started() && status_ < 0) {
        kill();
        wait();
    }
    closeFd(out_);
}

int ChildProcess::start(const std::vector<std::string>& argv, bool quietErrors) {
    if (argv.empty() || started()) return EINVAL;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return errno;
    SpawnActions fa;
    posix_spawn_file_actions_addopen(&fa.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa.actions, fds[1], STDOUT_FILENO);
    if (quietErrors)
        posix_spawn_file_actions_addopen(&fa.actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // The child starts with default signal handling and nothing blocked, whatever this
    // process has set up for its own interrupt handling.
    SpawnAttributes sa;
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&sa.attr, &none);
    posix_spawnattr_setsigdefault(&sa.attr, &defaults);
    posix_spawnattr_setflags(&sa.attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int err = posix_spawn(&pid, args[0], &fa.actions, &sa.attr, args.data(), environ);
    ::close(fds[1]);
    if (err != 0) {
        ::close(fds[0]);
        return err;
    }
    pid_ = pid;
    out_ = fds[0];
    status_ = -1;
    return 0;
}

long long ChildProcess::read(char* buf, size_t n) {
    for (;;) {
        ssize_t got = ::read(int(out_), buf, n);
        if (got >= 0) return got;
        if (errno != EINTR) return -1;
    }
}

void ChildProcess::terminate() {
    if (started() && status_ < 0) ::kill(pid_t(pid_), SIGTERM);
}

void ChildProcess::kill() {
    if (started() && status_ < 0) ::kill(pid_t(pid_), SIGKILL);
}

int ChildProcess::wait() {
    if (!started()) return -1;
    if (status_ >= 0) return status_;
    int st = 0;
    while (waitpid(pid_t(pid_), &st, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return status_;
}

std::string selfExecutablePath() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return std::string();
    return std::string(buf, size_t(n));
}

intptr_t parentProcessId() { return intptr_t(getppid()); }

void onInterrupt(std::function<void(int signal)> handler) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    // A terminal that closes under the program is an interrupt too: every device is recorded.
    sigaddset(&set, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set, handler = std::move(handler)] {
        int sig = 0;
        while (sigwait(&set, &sig) != 0) {
        }
        handler(sig);
    }).detach();
}
