// Runs a program of ours as an operator would, with its output gathered.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

struct ProgramResult {
    int status = -1;  // exit status, or -1 when it did not exit normally
    std::string out, err;
};

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// `restrict` runs in the child before the program starts: limits, privileges.
inline ProgramResult runProgram(const std::vector<std::string>& argv,
                                const std::vector<std::string>& env = {},
                                const std::string& cwd = "",
                                const std::function<void()>& restrict = {}) {
    char outName[] = "/tmp/zt-out-XXXXXX";
    char errName[] = "/tmp/zt-err-XXXXXX";
    int outFd = mkstemp(outName);
    int errFd = mkstemp(errName);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(outFd, 1);
        dup2(errFd, 2);
        int nullFd = open("/dev/null", O_RDONLY);
        dup2(nullFd, 0);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
        if (restrict) restrict();
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
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
