// What each platform's port file (port_posix.cpp, port_win32.cpp) gives the
// shared receive side (port_receive.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarsa {

struct TarsaSerial;

// Reads what the open port has queued into `dest`, waiting up to 100 ms for
// the first byte. Returns the count (0 on time-out) or -1 with the system's
// error number in `error`; a device that vanished is an error.
long PortReadSome(TarsaSerial& port, char* dest, size_t capacity, int& error);

// Discards what the driver has received and not yet read; nothing when the
// port is closed.
void PortPurgeInput(TarsaSerial& port);

// Gives the port its receive buffer on open: the caller's own (set before
// TSOpen) or one the port owns, emptied either way.
void PortAttachReadBuffer(TarsaSerial& port);

// Frees the receive buffer on close when the port owns it.
void PortReleaseReadBuffer(TarsaSerial& port);

// Writes a line to the port's diagnostic log, when it has one.
void PortLog(const TarsaSerial& port, uint32_t level, const char* tag, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

}  // namespace tarsa
