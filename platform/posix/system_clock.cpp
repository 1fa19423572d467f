// POSIX implementation of the system clock and time zone.
#include "platform/system_clock.h"

#include <time.h>

namespace kx {

uint32_t systemTickCountMs() {
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u +
                        static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

int32_t systemGmtOffsetHours() {
    tzset();
    // `timezone` is the standard-time offset in seconds west of GMT, i.e. the bias.
    const long biasMinutes = timezone / 60;
    return static_cast<int32_t>(-biasMinutes / 60);
}

}  // namespace kx
