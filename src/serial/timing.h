// Timing helpers shared by every protocol layer: a message-pumping pause, a
// free-running millisecond tick and the local offset from UTC.
//
// Pauses of 170 ms or more hand their waiting to a message pump that a front
// end installs (a window toolkit dispatches its events there, so the window
// repaints during long protocol waits). Without a pump they sleep. A port
// read that must wait for a device hands its wait to the input-wait pump in
// the same way, when one is installed. Either way the wait blocks in the
// kernel; nothing here spins.
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

// Waits up to `maxWaitMs` for user-interface events or for input on the
// descriptor `fd`, dispatching the events that arrive, and returns as soon
// as either came or the time is up. Installed by front ends; may be empty.
using InputWaitPump = std::function<void(int fd, uint32_t maxWaitMs)>;

// Installs the pump a port read waits in while no byte has arrived; an empty
// function leaves the read waiting in the kernel alone (the command line
// installs none). Returns the previous pump.
InputWaitPump SetInputWaitPump(InputWaitPump pump);

// Runs the installed input-wait pump once. Returns false, without waiting,
// when none is installed.
bool PumpUntilInput(int fd, uint32_t maxWaitMs);

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
