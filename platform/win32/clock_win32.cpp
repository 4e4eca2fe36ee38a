// Time on Windows: the system tick count, Sleep, and the same scaled clock as on POSIX.
#include <windows.h>


#include "platform/clock.h"

namespace {

uint32_t g_scale = 1;
uint32_t g_offset = 0;
const ULONGLONG g_baseMs = GetTickCount64();

// The real clock is the system's own tick count, wrap included.
uint32_t realTick() {
    return GetTickCount();
}

uint32_t scaledTick() {
    const ULONGLONG realMs = GetTickCount64() - g_baseMs;
    return uint32_t(realMs * g_scale + g_offset);
}

uint64_t scaledWaitUs(uint32_t ms) {
    return uint64_t(ms) * 1000u / g_scale;
}

void scaledSleep(uint32_t ms) {
    // Sleep(0) gives up the rest of the time slice.
    if (ms == 0) {
        Sleep(0);
        return;
    }
    const uint64_t us = scaledWaitUs(ms);
    Sleep(DWORD(us / 1000u));
}

void noteWaited(uint32_t) {}

ClockHooks g_hooks{realTick, scaledSleep, scaledWaitUs, noteWaited};

}  // namespace

uint32_t tickCount() {
    return g_hooks.tick();
}
void sleepMs(uint32_t ms) {
    g_hooks.sleep(ms);
}
void yieldThread() {
    g_hooks.sleep(0);
}

void setClockHooks(const ClockHooks& hooks) {
    g_hooks = hooks;
}
const ClockHooks& clockHooks() {
    return g_hooks;
}

void useScaledClock(uint32_t scale, uint32_t offset) {
    g_scale = scale == 0 ? 1 : scale;
    g_offset = offset;
    const bool real = g_scale == 1 && g_offset == 0;
    g_hooks = ClockHooks{real ? realTick : scaledTick, scaledSleep, scaledWaitUs, noteWaited};
}
