// Virtual time that moves only when the code waits: each wait for input really blocks for
// `realWaitUs` (so a device thread can answer) and counts as the full slice asked for; each
// sleep counts as its length at once.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/clock.h"

inline std::atomic<uint32_t> g_manualNow{0};
inline std::atomic<uint64_t> g_manualRealWaitUs{0};

inline void installManualClock(uint32_t start, uint64_t realWaitUs = 0) {
    g_manualNow = start;
    g_manualRealWaitUs = realWaitUs;
    setClockHooks(ClockHooks{
        [] { return g_manualNow.load(); },
        [](uint32_t ms) { g_manualNow += ms; },
        [](uint32_t) { return g_manualRealWaitUs.load(); },
        [](uint32_t ms) { g_manualNow += ms; },
    });
}
