// Drives the simulated device (v3sim) from tests: a child process on a pseudo-terminal whose
// received bytes are captured to a file.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// The XOR frame as the device and the tool send it, written apart from the product's framer:
// STX, text, ETX, two lowercase hex digits of the XOR of the text's bytes.
std::string framed(const std::string& text);

// Runs build/bin/v3sim as a child process on a pseudo-terminal.
struct SimProcess {
    SimProcess() = default;
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;
    ~SimProcess();  // stops the process if running

    // Starts v3sim with `args` (plus --capture <temp file>); waits (max 5 s) for the slave path.
    // `env` entries such as "ZEMTABULO_TIME_SCALE=50" are set in the child. False when the
    // device did not come up (then it is not running).
    bool start(const std::vector<std::string>& args = {}, const std::vector<std::string>& env = {});

    std::string slavePath;         // the device path the tool opens
    std::string captured() const;  // bytes the device received so far
    // Waits until the device has received `text`; false when it has not within `timeoutMs`.
    bool received(const std::string& text, int timeoutMs = 60000) const;

    // Waits for the process to end by itself; its exit status (128 + signal when a signal
    // ended it), or -1 on time-out.
    int wait(int timeoutMs);
    // SIGTERM, wait (SIGKILL after 5 s), exit status. The last status when not running.
    int stop();

    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    const std::string& capturePath() const { return capturePath_; }

  private:
    bool readSlavePath(int timeoutMs);
    void reap(int status);

    pid_t pid_ = -1;
    int status_ = -1;
    int stdoutFd_ = -1;  // kept open while the child runs, so it never writes into a closed pipe
    std::string capturePath_;
};

// The sum v3sim reports by default for a save that received `dataBytes`: their 16-bit byte
// sum as four upper-case hex digits.
std::string simDataSum(const std::string& dataBytes);
