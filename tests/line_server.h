// zemtabulo-line serve as a process of its own on a free loopback port, for the tests and the
// benchmark.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "run_program.h"

class LineServer {
  public:
    LineServer(const std::string& program, const std::string& conninfo,
               const std::vector<std::string>& extra = {}) {
        std::vector<std::string> argText = {program,  "serve",    "--db",
                                            conninfo, "--listen", "127.0.0.1:0"};
        argText.insert(argText.end(), extra.begin(), extra.end());
        const std::vector<char*> args = pointersTo(argText);
        char errName[] = "/tmp/zt-line-err-XXXXXX";
        const int errFd = mkstemp(errName);
        errPath_ = errName;
        int out[2];
        if (errFd < 0 || pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            dup2(errFd, 2);
            close(out[0]);
            execv(args[0], args.data());
            _exit(127);
        }
        close(out[1]);
        close(errFd);
        // "listening on http://127.0.0.1:PORT": the port is known once the socket listens.
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
        close(out[0]);
        const size_t colon = line.rfind(':');
        if (line.rfind("listening on ", 0) == 0 && colon != std::string::npos)
            port_ = std::stoi(line.substr(colon + 1));
    }
    ~LineServer() {
        stop();
        unlink(errPath_.c_str());
    }
    LineServer(const LineServer&) = delete;
    LineServer& operator=(const LineServer&) = delete;

    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    // The exit status after SIGTERM; -1 when it did not exit by itself.
    int stop() {
        if (pid_ <= 0) return status_;
        kill(pid_, SIGTERM);
        int st = 0;
        waitpid(pid_, &st, 0);
        pid_ = -1;
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        return status_;
    }
    std::string errors() const { return slurp(errPath_); }

  private:
    pid_t pid_ = -1;
    int port_ = 0;
    int status_ = -1;
    std::string errPath_;
};
