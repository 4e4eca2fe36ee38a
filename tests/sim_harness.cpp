#include "sim_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

extern char** environ;

namespace {

constexpr int kStartTimeoutMs = 5000;
constexpr int kStopTimeoutMs = 5000;
constexpr int kReapPollMs = 5;

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? int(left.count()) : 0;
}

// The parent's environment with `extra` entries added or replacing those of the same name.
std::vector<std::string> childEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    for (const std::string& entry : extra) {
        std::string key = entry.substr(0, entry.find('=') + 1);
        std::erase_if(env, [&](const std::string& e) { return e.rfind(key, 0) == 0; });
        env.push_back(entry);
    }
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

std::string makeCaptureFile() {
    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir && *dir ? dir : "/tmp") + "/v3sim-capture-XXXXXX";
    int fd = mkstemp(path.data());
    if (fd < 0) return std::string();
    close(fd);
    return path;
}

int exitStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

SimProcess::~SimProcess() {
    stop();
    if (!capturePath_.empty()) unlink(capturePath_.c_str());
}

bool SimProcess::start(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    stop();
    if (!capturePath_.empty()) unlink(capturePath_.c_str());
    slavePath.clear();
    capturePath_ = makeCaptureFile();
    int out[2];
    if (capturePath_.empty() || pipe2(out, O_CLOEXEC) != 0) return false;

    std::vector<std::string> argv{V3SIM_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.insert(argv.end(), {"--capture", capturePath_});
    std::vector<std::string> envp = childEnvironment(env);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    // Only stdin, stdout and stderr: a port the test holds open must not live on in the device
    // (its close there would look like the test closing it).
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, V3SIM_PATH, &actions, nullptr, pointers(argv).data(),
                         pointers(envp).data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    stdoutFd_ = out[0];
    if (rc != 0) {
        close(stdoutFd_);
        stdoutFd_ = -1;
        return false;
    }
    pid_ = pid;
    if (readSlavePath(kStartTimeoutMs)) return true;
    stop();
    return false;
}

bool SimProcess::readSlavePath(int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string line;
    for (;;) {
        pollfd pfd{stdoutFd_, POLLIN, 0};
        if (poll(&pfd, 1, msLeft(deadline)) <= 0) return false;
        char c;
        if (read(stdoutFd_, &c, 1) != 1) return false;  // the device ended before it came up
        if (c == '\n') break;
        line += c;
    }
    slavePath = line;
    return !slavePath.empty();
}

std::string SimProcess::captured() const {
    std::ifstream in(capturePath_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool SimProcess::received(const std::string& text, int timeoutMs) const {
    for (int waited = 0; waited < timeoutMs; waited += 10, poll(nullptr, 0, 10))
        if (captured().find(text) != std::string::npos) return true;
    return false;
}

void SimProcess::reap(int status) {
    status_ = status;
    pid_ = -1;
    if (stdoutFd_ >= 0) close(stdoutFd_);
    stdoutFd_ = -1;
}

int SimProcess::wait(int timeoutMs) {
    if (pid_ <= 0) return status_;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            reap(exitStatus(status));
            return status_;
        }
        if (r < 0) {  // not our child any more: nothing to wait for
            reap(-1);
            return -1;
        }
        if (msLeft(deadline) == 0) return -1;
        poll(nullptr, 0, kReapPollMs);
    }
}

int SimProcess::stop() {
    if (pid_ <= 0) return status_;
    kill(pid_, SIGTERM);
    if (wait(kStopTimeoutMs) >= 0 || pid_ <= 0) return status_;
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    reap(exitStatus(status));
    return status_;
}

std::string simDataSum(const std::string& dataBytes) {
    unsigned sum = 0;
    for (unsigned char c : dataBytes) sum = (sum + c) & 0xffffu;
    char buf[5];
    std::snprintf(buf, sizeof buf, "%04X", sum);
    return buf;
}

std::string framed(const std::string& text) {
    unsigned sum = 0;
    for (const unsigned char c : text) sum ^= c;
    static const char kHex[] = "0123456789abcdef";
    return '\x02' + text + '\x03' + kHex[sum >> 4] + kHex[sum & 0xf];
}
