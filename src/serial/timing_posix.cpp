// The clock and sleep of the timing helpers on POSIX systems.
#include <cerrno>
#include <ctime>

#include "serial/timing.h"
#include "serial/timing_platform.h"

namespace tarsa {

void PlatformSleepMs(uint32_t ms) {
    struct timespec req {
        static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L
    };
    struct timespec rem {};
    while (nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
}

uint32_t TickMs() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms =
        static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

int32_t UtcOffsetSeconds() {
    time_t now = time(nullptr);
    struct tm utc {};
    gmtime_r(&now, &utc);
    utc.tm_isdst = 0;
    time_t asLocal = mktime(&utc);
    struct tm local {};
    localtime_r(&now, &local);
    int32_t offset = static_cast<int32_t>(now - asLocal);
    if (local.tm_isdst > 0) offset += 3600;
    return offset;
}

}  // namespace tarsa
