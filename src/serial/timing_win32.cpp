// The clock and sleep of the timing helpers on Windows: the performance
// counter (the system tick count when there is none) and Sleep, which blocks.
#include <windows.h>

#include <ctime>

#include "serial/timing.h"
#include "serial/timing_platform.h"

namespace tarsa {

void PlatformSleepMs(uint32_t ms) {
    Sleep(ms);
}

uint32_t TickMs() {
    static const LONGLONG perMs = [] {
        LARGE_INTEGER frequency{};
        return QueryPerformanceFrequency(&frequency) ? frequency.QuadPart / 1000 : 0;
    }();
    LARGE_INTEGER count{};
    if (perMs > 0 && QueryPerformanceCounter(&count)) {
        return static_cast<uint32_t>(count.QuadPart / perMs);
    }
    return GetTickCount();
}

int32_t UtcOffsetSeconds() {
    time_t now = time(nullptr);
    struct tm utc {};
    gmtime_s(&utc, &now);
    utc.tm_isdst = 0;
    time_t asLocal = mktime(&utc);
    struct tm local {};
    localtime_s(&local, &now);
    int32_t offset = static_cast<int32_t>(now - asLocal);
    if (local.tm_isdst > 0) offset += 3600;
    return offset;
}

}  // namespace tarsa
