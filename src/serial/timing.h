// Timing helpers shared by every protocol layer: a message-pumping pause, a
// free-running millisecond tick and the local offset from UTC.
//
// Pauses of 170 ms or more hand their waiting to a message pump that a front
// end installs (a window toolkit dispatches its events there, so the window
// repaints during long protocol waits). Without a pump they sleep. Either way
// the wait blocks in the kernel; nothing here spins.
#pragma once

#include <cstdint>
#include <functional>

namespace tarsa {

// Waits up to `maxWaitMs` while dispatching user-interface events, returning
// early when events were handled. Installed by front ends; may be empty.
using MessagePump = std::function<void(uint32_t maxWaitMs)>;

// Installs the pump used by DelayMs for pauses of 170 ms or more; an empty
// function restores plain sleeping. Returns the previous pump.
MessagePump SetMessagePump(MessagePump pump);

// Pauses below this length never call the message pump.
inline constexpr uint32_t kPumpThresholdMs = 170;

// Blocks for `ms` milliseconds; returns 0.
int DelayMs(uint32_t ms);

// Total milliseconds asked of DelayMs since the program started (the
// protocol's own pauses); benchmarks use it to compute their floor.
uint64_t DelayTotalMs();

// Free-running millisecond count from a monotonic clock, truncated to 32 bits;
// subtract two readings (unsigned) to time an operation.
uint32_t TickMs();

// Local offset from UTC in seconds, positive east of Greenwich, including one
// hour while daylight saving time is in force.
int32_t UtcOffsetSeconds();

}  // namespace tarsa
