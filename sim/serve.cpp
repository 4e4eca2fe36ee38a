// The device's life: the line comes up, what the tool writes is taken (no faster than --rate)
// and answered, until an end condition.
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "platform/clock.h"
#include "sim/device.h"
#include "sim/port.h"
#include "sim/sim.h"

std::atomic<int> g_stopRequested{0};

namespace {

constexpr int kExitFailed = 1;
// Bytes read from the line at a time.
constexpr size_t kReadSize = 4096;
// Longest real wait between two looks at the stop flag.
constexpr int kLoopWaitMs = 500;
// Before the device goes away after its last reply: how long the tool may take to read it,
// and a grace period after, so that closing the line does not flush the reply.
constexpr int kLastReplyBoundMs = 2000;
constexpr int kLingerMs = 100;
// With --rate, bytes are taken in steps of at least this many clock ms worth, and of at least
// this much real time (a fast clock would otherwise wake the device for every few bytes).
constexpr uint32_t kRateStepMs = 20;
constexpr uint64_t kRateStepRealUs = 5000;
constexpr uint32_t kRateStepMaxMs = 60000;
// With --rate, how far the tool may write ahead of the device, as a serial driver's transmit
// queue lets it; beyond that its writes block.
constexpr size_t kLineQueueBytes = 3000;

using RealClock = std::chrono::steady_clock;

// The line between the tool and the device: what the tool wrote and the device has not yet
// taken, and the token bucket (in clock time) that --rate takes it by.
struct Line {
    std::string queued;
    uint32_t rate = 0;  // bytes per clock second; 0 unlimited
    double tokens = 0;
    double step = 0;   // bytes taken at a time
    double burst = 0;  // most tokens kept: some room for wake-ups that come late
    uint32_t last = 0;
    bool toolHeld = false;
    RealClock::time_point lastInput = RealClock::now();
};

void lineStart(Line& line, uint32_t rate) {
    uint32_t stepMs = kRateStepMs;
    while (clockHooks().realWaitUs(stepMs) < kRateStepRealUs && stepMs < kRateStepMaxMs)
        stepMs *= 2;
    line.rate = rate;
    line.step = std::max(1.0, double(rate) * stepMs / 1000.0);
    line.burst = 2 * line.step;
    line.tokens = line.step;
    line.last = tickCount();
}

void refill(Line& line) {
    uint32_t now = tickCount();
    line.tokens = std::min(line.burst, line.tokens + double(now - line.last) * line.rate / 1000.0);
    line.last = now;
}

// The bucket waits for a step's worth of bytes, or for all that is queued when that is less.
double needed(const Line& line) {
    return std::min(line.step, double(line.queued.size()));
}

// How many queued bytes the device may take now.
size_t takeable(Line& line) {
    if (line.rate == 0 || line.queued.empty()) return line.queued.size();
    refill(line);
    if (line.tokens < needed(line)) return 0;
    return std::min(line.queued.size(), size_t(line.tokens));
}

// Real ms until takeable() gives more than 0, at most kLoopWaitMs.
int msUntilTakeable(Line& line) {
    if (line.queued.empty()) return kLoopWaitMs;
    if (line.rate == 0) return 0;
    refill(line);
    double missing = needed(line) - line.tokens;
    if (missing <= 0) return 0;
    auto clockMs = uint32_t(std::ceil(missing * 1000.0 / line.rate));
    uint64_t realUs = clockHooks().realWaitUs(clockMs);
    return int(std::clamp<uint64_t>((realUs + 999) / 1000, 1, kLoopWaitMs));
}

// The tool's writes block while the device is a driver queue's worth behind.
void regulate(Port& port, Line& line) {
    if (line.rate == 0) return;
    bool hold = line.queued.size() >= kLineQueueBytes;
    if (hold == line.toolHeld) return;
    portHoldTool(port, hold);
    line.toolHeld = hold;
}

// The poll time-out in real ms: the rest of the idle time, at most kLoopWaitMs; -1 when the
// idle time has passed.
int idleTimeout(const SimOptions& o, const Line& line) {
    if (o.idleSeconds <= 0) return kLoopWaitMs;
    auto idle = std::chrono::duration<double>(o.idleSeconds);
    auto left = idle - (RealClock::now() - line.lastInput);
    if (left <= left.zero()) return -1;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left).count() + 1;
    return int(std::min<long long>(ms, kLoopWaitMs));
}

enum class Turn { Go, End, Failed };

// Waits for input, or for the rate to let queued bytes through; false when the line is gone.
bool receive(Port& port, Line& line, int timeoutMs) {
    pollfd fds[2] = {{port.master.get(), POLLIN, 0}, {port.openWatch.get(), POLLIN, 0}};
    if (poll(fds, 2, timeoutMs) <= 0) return true;  // time-out, or a signal to look at
    // A close first: it happened before anything a new opener wrote.
    if (fds[1].revents & POLLIN) portWatch(port);
    if (!(fds[0].revents & POLLIN)) {
        if (fds[0].revents) realSleepMs(kLoopWaitMs / 10);  // a hang-up without input: don't spin
        return true;
    }
    char buf[kReadSize];
    long n = portRead(port, buf, sizeof buf);
    if (n < 0) return false;
    if (n > 0) {
        line.queued.append(buf, size_t(n));
        line.lastInput = RealClock::now();
    }
    return true;
}

Turn afterFeed(Port& port, FeedResult result) {
    switch (result) {
        case FeedResult::Go:
            return Turn::Go;
        case FeedResult::HungUp:
            return Turn::End;
        case FeedResult::JobsDone:
            portAwaitTaken(port, kLastReplyBoundMs);
            realSleepMs(kLingerMs);
            simLog(*port.options, false, "all jobs done; ending");
            return Turn::End;
    }
    return Turn::Go;
}

Turn serveOnce(Device& device, Line& line) {
    Port& port = *device.port;
    int timeout = idleTimeout(*port.options, line);
    if (timeout < 0) {
        simLog(*port.options, false, "idle; ending");
        return Turn::End;
    }
    if (!receive(port, line, std::min(timeout, msUntilTakeable(line)))) {
        simLog(*port.options, true, "the line is gone");
        return Turn::Failed;
    }
    regulate(port, line);
    size_t n = takeable(line);
    if (n == 0) return Turn::Go;
    FeedResult result = deviceFeed(device, line.queued.data(), n);
    line.queued.erase(0, n);
    if (line.rate != 0) line.tokens -= double(n);
    line.lastInput = RealClock::now();
    regulate(port, line);
    return afterFeed(port, result);
}

}  // namespace

int runSim(const SimOptions& options) {
    Port port;
    if (!portOpen(port, options)) return kExitFailed;
    std::printf("%s\n", port.slavePath.c_str());
    std::fflush(stdout);
    simLog(options, false, "device on " + port.slavePath);

    Device device;
    device.port = &port;
    Line line;
    lineStart(line, options.rate);
    while (!g_stopRequested.load()) {
        Turn turn = serveOnce(device, line);
        if (turn == Turn::End) return 0;
        if (turn == Turn::Failed) return kExitFailed;
    }
    simLog(options, false, "stopped");
    return 0;
}
