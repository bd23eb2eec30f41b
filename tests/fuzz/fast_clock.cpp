// The timing helpers for the fuzz targets, in place of the serial layer's: a
// pause returns at once and moves the tick forward by its length, so the
// protocols' retry pauses and settle times cost no real time while every
// time-out still ends. Linked into the fuzz programs and their replay test
// before the serial library, whose timing object is then never pulled in.
#include <atomic>
#include <ctime>
#include <utility>

#include "serial/timing.h"

namespace tarsa {
namespace {

std::atomic<uint64_t> gSkippedMs{0};
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
    gSkippedMs += ms;
    return 0;
}

uint64_t DelayTotalMs() {
    return gDelayTotalMs.load();
}

uint32_t TickMs() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms =
        static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms + gSkippedMs.load());
}

int32_t UtcOffsetSeconds() {
    return 0;
}

}  // namespace tarsa
