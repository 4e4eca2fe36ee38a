// Serial port lock files as other programs leave them, and processes to name in them.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "temp_dir.h"

extern char** environ;

// The lock file text naming `pid`, as terminal programs write it.
inline std::string lockText(int pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", pid);
    return text;
}

// A `sleep` process that runs until the object goes: a live owner other than us.
struct Sleeper {
    pid_t pid = -1;
    Sleeper() {
        const char* argv[] = {"sleep", "60", nullptr};
        // posix_spawn returns once the child runs `sleep`, so its command name is right.
        if (posix_spawnp(&pid, "sleep", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
            pid = -1;
    }
    ~Sleeper() {
        if (pid <= 0) return;
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    Sleeper(const Sleeper&) = delete;
    Sleeper& operator=(const Sleeper&) = delete;
};

// A pid that surely runs no process: a child's, after it ended and was reaped.
inline int deadPid() {
    pid_t pid = fork();
    if (pid == 0) _exit(0);
    waitpid(pid, nullptr, 0);
    return int(pid);
}

// A child that has ended and that nobody reaps while the object lives: a zombie.
struct Zombie {
    pid_t pid = fork();
    Zombie() {
        if (pid == 0) _exit(0);
        siginfo_t info{};
        // Waits for the end without reaping it.
        if (pid > 0 && waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT) != 0) pid = -1;
    }
    ~Zombie() {
        if (pid > 0) waitpid(pid, nullptr, 0);
    }
    Zombie(const Zombie&) = delete;
    Zombie& operator=(const Zombie&) = delete;
};

// A temporary lock directory, given to this process (and the programs it starts) through
// ZEMTABULO_LOCK_DIR while the object lives.
struct LockDir : TempDir {
    LockDir() { setenv("ZEMTABULO_LOCK_DIR", path.c_str(), 1); }
    ~LockDir() { unsetenv("ZEMTABULO_LOCK_DIR"); }
    // The names in the folder, sorted and joined by blanks.
    std::string listing() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        std::string out;
        for (const std::string& n : names) out += (out.empty() ? "" : " ") + n;
        return out;
    }
};
