// Virtual time that moves only when the code waits: each wait for input really blocks for
// `realWaitUs` (so a device thread can answer) and counts as the full slice asked for; each
// sleep counts as its length at once. A wait that crosses the moment set with atManualTime
// ends there instead, once the event has run (e.g. a reply put on the line and readable).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <utility>

#include "platform/clock.h"

inline std::atomic<uint32_t> g_manualNow{0};
inline std::atomic<uint64_t> g_manualRealWaitUs{0};
// Set before the wait by the thread that waits; run on it.
inline uint32_t g_manualEventAt = 0;
inline std::function<void()> g_manualEvent;

inline void atManualTime(uint32_t at, std::function<void()> event) {
    g_manualEventAt = at;
    g_manualEvent = std::move(event);
}

inline void installManualClock(uint32_t start, uint64_t realWaitUs = 0) {
    g_manualNow = start;
    g_manualRealWaitUs = realWaitUs;
    g_manualEvent = nullptr;
    setClockHooks(ClockHooks{
        [] { return g_manualNow.load(); },
        [](uint32_t ms) { g_manualNow += ms; },
        [](uint32_t) { return g_manualRealWaitUs.load(); },
        [](uint32_t ms) {
            // Unsigned difference: the event may lie across the wrap of the tick count.
            const bool crossed = g_manualEvent && uint32_t(g_manualEventAt - g_manualNow) <= ms;
            g_manualNow = crossed ? g_manualEventAt : g_manualNow + ms;
            if (crossed) std::exchange(g_manualEvent, nullptr)();
        },
    });
}
