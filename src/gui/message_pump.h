// The message pumps of the window program: what DelayMs runs while a
// protocol layer pauses during an update, and what a port read runs while it
// waits for a device's next byte.
//
// Each blocks in the event loop until a window event arrives (or the port has
// input, or the time is up), handles what arrived and returns, so a wait
// neither spins nor freezes the window. The caller calls again with the time
// that is left.
#pragma once

#include <cstdint>

namespace tarsa::gui {

// Waits up to `maxWaitMs` for window events and handles them.
void WaitForWindowEvents(uint32_t maxWaitMs);

// Waits up to `maxWaitMs` for window events or for input on the descriptor
// `fd`, handling the events; returns once either came or the time is up.
void WaitForWindowEventsOrInput(int fd, uint32_t maxWaitMs);

// Installs WaitForWindowEvents as the pump of DelayMs (tarsa::SetMessagePump)
// and WaitForWindowEventsOrInput as the port reads' (tarsa::SetInputWaitPump).
void InstallMessagePump();

}  // namespace tarsa::gui
