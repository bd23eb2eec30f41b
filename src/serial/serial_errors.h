// How a failed system call of the serial layer becomes a result code.
//
// Every layer above passes serial codes through unchanged and the main
// window turns codes into messages, so a serial failure must never come back
// as a code that another layer also uses: a raw -errno would read as a loader,
// command-link or instrument error (ENOTTY is 25, the instrument's "login
// failed"; EIO is 5, the serial layer's own "in use"). The codes here are
// the serial layer's own; failures that have no code of their own get
// kTSErrSystem, and the system's error number goes to the log.
//
// Each platform's port file classifies its native error numbers into a
// PortFault with its table below (POSIX errno, Win32 GetLastError values)
// and reports TSFaultCode of it, so both platforms give the same codes. The
// tables hold plain numbers and need no platform header.
#pragma once

#include <cstdint>

namespace tarsa {

// Result codes of the serial layer (serial_port.h repeats them for callers).
// -2 and -5 are the values the Win32 calls give for a missing and a busy
// port; the others lie outside every other layer's codes (-1 to -130 and
// -1000 to -1010).
inline constexpr int kTSErrMissing = -2;        // no such device
inline constexpr int kTSErrInUse = -5;          // another program holds the port
inline constexpr int kTSErrNoName = -6;         // TSHostBaud on a port that has no name
inline constexpr int kTSErrClosed = -21;        // port closed, or the system refused a read/write
inline constexpr int kTSErrNoBuffer = -60;      // no receive buffer
inline constexpr int kTSErrSystem = -200;       // any other system failure (number in the log)
inline constexpr int kTSErrNotTerminal = -201;  // the path is not a serial port
inline constexpr int kTSErrIo = -202;           // the device failed or vanished
inline constexpr int kTSErrAccess = -203;       // permission denied (not in the dialout group?)
inline constexpr int kTSErrBaudRate = -204;     // the line speed is not supported

enum class PortFault : uint8_t { kMissing, kInUse, kAccess, kNotTerminal, kIo, kBaudRate, kOther };

// The result code of a fault.
int TSFaultCode(PortFault fault);

// The fault of a POSIX errno value (kOther for the ones without a code).
PortFault TSPosixFault(int err);

// The fault of a Win32 error value as GetLastError returns it.
PortFault TSWin32Fault(uint32_t error);

// TSFaultCode(TSPosixFault(err)).
int TSPosixErrorCode(int err);

}  // namespace tarsa
