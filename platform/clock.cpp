// What every backend's clock shares.
#include <cstdlib>

#include "platform/clock.h"

#ifndef ZT_TEST_HOOKS
#error "ZT_TEST_HOOKS must be 0 or 1 (the CMake option of the same name)"
#endif

void useClockFromEnvironment() {
#if ZT_TEST_HOOKS
    const char* scale = std::getenv("ZEMTABULO_TIME_SCALE");
    const char* offset = std::getenv("ZEMTABULO_TICK_OFFSET");
    unsigned long s = scale ? std::strtoul(scale, nullptr, 10) : 1;
    unsigned long o = offset ? std::strtoul(offset, nullptr, 10) : 0;
    if (s == 0 || s > 100000) s = 1;
    useScaledClock(uint32_t(s), uint32_t(o));
#else
    // A shipped program: a stray setting must not shorten the device's waits.
    useScaledClock(1, 0);
#endif
}
