// Time for the write job: a wrapping millisecond tick count and sleeps.
//
// Everything that waits goes through these calls, so a test or a simulated device can
// run the long device waits (a three-minute erase) in virtual time.
#pragma once

#include <cstdint>

// Milliseconds since an arbitrary start, wrapping at 2^32 like the system tick count.
// Compare two readings only by unsigned difference: `now - then > limit`.
uint32_t tickCount();

// Sleeps for `ms` milliseconds of (possibly virtual) time.
void sleepMs(uint32_t ms);

// Gives up the rest of the time slice.
void yieldThread();

// Hooks behind the three calls above, and the real time a blocking wait for input of
// `ms` (virtual) milliseconds may take.
struct ClockHooks {
    uint32_t (*tick)();
    void (*sleep)(uint32_t ms);
    // Microseconds of real time to block when the caller wants to wait `ms`.
    uint64_t (*realWaitUs)(uint32_t ms);
    // Told when a blocking wait of `ms` ended without input, so that a manual clock moves on.
    void (*waited)(uint32_t ms);
};

void setClockHooks(const ClockHooks& hooks);
const ClockHooks& clockHooks();

// Real time run faster: virtual ms = real ms * scale + offset (offset lets a test start near
// the wrap of the tick count). scale 1 and offset 0 is the real clock.
void useScaledClock(uint32_t scale, uint32_t offset);

// Reads ZEMTABULO_TIME_SCALE and ZEMTABULO_TICK_OFFSET from the environment, for end-to-end
// tests of the command-line tool and the simulated device. Unset means the real clock, and so
// does a build configured without ZT_TEST_HOOKS (what is shipped), whatever is set.
void useClockFromEnvironment();
