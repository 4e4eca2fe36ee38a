// What the benchmarks share: the clock, programs started beside the benchmark, v3sim devices,
// data files of short lines.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace bench {

inline double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

inline std::string binDir() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string self(buf, n > 0 ? size_t(n) : 0);
    return self.substr(0, self.rfind('/'));
}

inline pid_t spawn(const std::vector<std::string>& argv, int outFd) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, outFd, 1);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

struct Sim {
    pid_t pid = -1;
    std::string port;
    // Ends after `jobs` writes.
    explicit Sim(const std::vector<std::string>& extra, int jobs = 1) {
        int fds[2];
        if (pipe(fds) != 0) return;
        std::vector<std::string> argv = {binDir() + "/v3sim", "--jobs", std::to_string(jobs)};
        argv.insert(argv.end(), extra.begin(), extra.end());
        pid = spawn(argv, fds[1]);
        close(fds[1]);
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n') port += c;
        close(fds[0]);
    }
    ~Sim() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

// Peak resident memory of this process (VmHWM), in KiB; -1 when it cannot be read.
inline long peakKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

inline std::string makeData(const std::string& path, size_t bytes) {
    std::ofstream out(path, std::ios::binary);
    const std::string line = "TEXT 12 34 1 \"Station ready, line 7\"\n";
    size_t written = 0;
    while (written + line.size() <= bytes) {
        out << line;
        written += line.size();
    }
    out << std::string(bytes - written, 'x');
    return path;
}

}  // namespace bench
