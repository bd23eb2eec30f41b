// The clock and the plain sleep under the timing helpers, one file per
// platform (timing_posix.cpp, timing_win32.cpp). TickMs and UtcOffsetSeconds
// of timing.h live there too.
#pragma once

#include <cstdint>

namespace tarsa {

// Blocks the calling thread for `ms` milliseconds in the kernel.
void PlatformSleepMs(uint32_t ms);

}  // namespace tarsa
