#include <cerrno>
#include <ctime>
#include <sched.h>

#include "platform/clock.h"

namespace {

uint64_t monotonicUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000u + uint64_t(ts.tv_nsec) / 1000u;
}

void sleepUs(uint64_t us) {
    timespec ts{time_t(us / 1000000u), long(us % 1000000u) * 1000};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

uint32_t g_scale = 1;
uint32_t g_offset = 0;
const uint64_t g_baseUs = monotonicUs();

uint32_t scaledTick() {
    uint64_t realMs = (monotonicUs() - g_baseUs) / 1000u;
    return uint32_t(realMs * g_scale + g_offset);
}

uint64_t scaledWaitUs(uint32_t ms) { return uint64_t(ms) * 1000u / g_scale; }

void scaledSleep(uint32_t ms) {
    if (ms == 0) {
        sched_yield();
        return;
    }
    sleepUs(scaledWaitUs(ms));
}

void noteWaited(uint32_t) {}

ClockHooks g_hooks{scaledTick, scaledSleep, scaledWaitUs, noteWaited};

}  // namespace

uint32_t tickCount() { return g_hooks.tick(); }
void sleepMs(uint32_t ms) { g_hooks.sleep(ms); }
void yieldThread() { g_hooks.sleep(0); }

void setClockHooks(const ClockHooks& hooks) { g_hooks = hooks; }
const ClockHooks& clockHooks() { return g_hooks; }

void useScaledClock(uint32_t scale, uint32_t offset) {
    g_scale = scale == 0 ? 1 : scale;
    g_offset = offset;
    g_hooks = ClockHooks{scaledTick, scaledSleep, scaledWaitUs, noteWaited};
}
