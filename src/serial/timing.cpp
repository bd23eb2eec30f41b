#include "serial/timing.h"

#include <atomic>
#include <utility>

#include "serial/timing_platform.h"

namespace tarsa {
namespace {

std::atomic<uint64_t> gDelayTotalMs{0};

MessagePump& Pump() {
    static MessagePump pump;
    return pump;
}

}  // namespace

MessagePump SetMessagePump(MessagePump pump) {
    return std::exchange(Pump(), std::move(pump));
}

int DelayMs(uint32_t ms) {
    gDelayTotalMs += ms;
    if (ms < kPumpThresholdMs) {
        PlatformSleepMs(ms);
        return 0;
    }
    uint32_t start = TickMs();
    for (;;) {
        uint32_t now = TickMs();
        if (now < start) start = now;  // the tick wrapped: measure again from here
        uint32_t elapsed = now - start;
        if (elapsed >= ms) break;
        uint32_t remaining = ms - elapsed;
        if (Pump()) {
            Pump()(remaining);
        } else {
            PlatformSleepMs(remaining);
        }
    }
    return 0;
}

uint64_t DelayTotalMs() {
    return gDelayTotalMs.load();
}

}  // namespace tarsa
