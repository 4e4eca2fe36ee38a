// Runs a program of ours as an operator would, with its output gathered.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

// A sanitizer's build starts and ends each process several times slower: a bound on how soon a
// program does something is the shipped build's, and this many times longer under a sanitizer.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kSanitizerSlowdown = 4;
#else
constexpr int kSanitizerSlowdown = 1;
#endif

// A loopback port nothing listens on, for a program told to send there: bound once by the
// system's choice, then given back.
inline int deadLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

struct ProgramResult {
    int status = -1;  // exit status, or -1 when it did not exit normally
    std::string out, err;
};

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The environment of this process with `env`'s "NAME=value" entries set over it.
inline std::vector<std::string> environmentWith(const std::vector<std::string>& env) {
    std::vector<std::string> out;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('=') + 1);
        bool replaced = false;
        for (const std::string& set : env) replaced = replaced || set.rfind(name, 0) == 0;
        if (!replaced) out.push_back(entry);
    }
    out.insert(out.end(), env.begin(), env.end());
    return out;
}

inline std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (std::string& t : texts) out.push_back(t.data());
    out.push_back(nullptr);
    return out;
}

// `restrict` runs in the child before the program starts: limits, privileges. Tests run
// programs from several threads at once, so the child only makes system calls: whatever it
// needs is built before the fork (a lock held by another thread at the fork is never freed).
inline ProgramResult runProgram(const std::vector<std::string>& argv,
                                const std::vector<std::string>& env = {},
                                const std::string& cwd = "",
                                const std::function<void()>& restrict = {}) {
    char outName[] = "/tmp/zt-out-XXXXXX";
    char errName[] = "/tmp/zt-err-XXXXXX";
    int outFd = mkstemp(outName);
    int errFd = mkstemp(errName);
    std::vector<std::string> argText = argv, envText = environmentWith(env);
    const std::vector<char*> args = pointersTo(argText), envp = pointersTo(envText);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(outFd, 1);
        dup2(errFd, 2);
        int nullFd = open("/dev/null", O_RDONLY);
        dup2(nullFd, 0);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        if (restrict) restrict();
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    ProgramResult r;
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    close(outFd);
    close(errFd);
    r.out = slurp(outName);
    r.err = slurp(errName);
    unlink(outName);
    unlink(errName);
    return r;
}
