// The message pump of the window program: what DelayMs runs while a
// protocol layer pauses during an update.
//
// It blocks in the event loop until a window event arrives or the time is
// up, handles what arrived and returns, so a pause neither spins nor freezes
// the window. DelayMs calls it again with the time that is left.
#pragma once

#include <cstdint>

namespace tarsa::gui {

// Waits up to `maxWaitMs` for window events and handles them.
void WaitForWindowEvents(uint32_t maxWaitMs);

// Installs WaitForWindowEvents as the pump of DelayMs (tarsa::SetMessagePump).
void InstallMessagePump();

}  // namespace tarsa::gui
