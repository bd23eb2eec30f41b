// The serial port object: the program's only path to a device.
//
// One `TarsaSerial` record wraps an open serial device with six operations
// (TSOpen, TSClose, TSRead, TSWrite, TSWait, TSHostBaud) plus TSFlush. The line
// is raw 8N1 with no flow control and DTR and RTS raised while open. A read
// waits at most 100 ms for its first byte and returns as soon as bytes arrive;
// a write gives up after 10 ms per byte plus 100 ms. The port is opened
// exclusively: a second opener is refused with kTSErrInUse.
//
// `gReadBuffer` is the receive text through which TSWait hands what it has
// read to the next TSRead; the data-pending flag tells that TSRead to return
// only what is buffered. The buffer is either owned by the port (allocated by
// TSOpen, freed by TSClose) or lent by the object that embeds the port.
//
// Not thread-safe: one thread (the user-interface thread) uses a port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "serial/serial_errors.h"

namespace tarsa {

class TarsaLog;

inline constexpr int kTSOk = 1;       // opened, closed, baud rate changed
inline constexpr int kTSNothing = 0;  // nothing to do, or a wait timed out
// Failures (serial_errors.h, where the system's error numbers are mapped):
//   kTSErrMissing      -2    no such device
//   kTSErrInUse        -5    another program holds the port
//   kTSErrNoName       -6    TSHostBaud on a port that has no name
//   kTSErrClosed       -21   port closed, or the system refused a read/write
//   kTSErrNoBuffer     -60   no receive buffer
//   kTSErrSystem       -200  any other system failure (its number is logged)
//   kTSErrNotTerminal  -201  the path is not a serial port
//   kTSErrIo           -202  the device failed or vanished
//   kTSErrAccess       -203  permission denied (not in the dialout group?)
//   kTSErrBaudRate     -204  the line speed is not supported
// No operation returns a raw -errno: it would collide with other layers' codes.

inline constexpr size_t kReadBufferSize = 2048;
inline constexpr size_t kPortNameSize = 64;

struct TarsaSerial {
    TarsaLog* log = nullptr;
    int handle = -1;  // file descriptor; negative when no port is open
    uint32_t baud = 0;
    char name[kPortNameSize + 1] = {};  // port name as given to TSOpen; the log tag
    char* gReadBuffer = nullptr;        // kReadBufferSize bytes, NUL-terminated text
    bool dataPending = false;
    bool bufferOwned = false;
    std::unique_ptr<char[]> ownedBuffer;  // storage behind gReadBuffer when owned
};

// Opens `portName` (a device path such as /dev/ttyUSB0, or a bare name looked
// up under /dev) at `baud` (0 means 9600). An open port is closed first.
// Returns 1, kTSErrMissing, kTSErrInUse, kTSErrAccess, kTSErrNotTerminal,
// kTSErrBaudRate, kTSErrIo, kTSErrNoBuffer or kTSErrSystem.
int TSOpen(TarsaSerial& port, const char* portName, uint32_t baud);

// Lets what was written go out on the line, then closes the port.
// Returns 1 when closed, 0 when no port was open, or a failure code when
// closing failed.
int TSClose(TarsaSerial& port);

// Reads into `dest`: what gReadBuffer holds first, then the port (waiting up
// to 100 ms for the first byte). Returns the count (also in `outCount`),
// kTSErrNoBuffer or kTSErrClosed.
int TSRead(TarsaSerial& port, char* dest, size_t capacity, size_t& outCount);

// Writes all `length` bytes. Returns the count (also in `outWritten`) or kTSErrClosed.
int TSWrite(TarsaSerial& port, const void* bytes, size_t length, size_t& outWritten);

// Empties gReadBuffer; with mode 1 also discards what the driver has received.
// Returns 0.
int TSFlush(TarsaSerial& port, int mode);

// Reads into gReadBuffer until `character` arrives. Returns the character, 0
// on time-out (what arrived stays for the next TSRead), kTSErrClosed or
// kTSErrNoBuffer.
int TSWait(TarsaSerial& port, uint32_t timeoutMs, char character);

// Changes the host's line speed once what was written has gone out at the
// old one. Returns 1 changed, 0 already at that rate, kTSErrNoName,
// kTSErrBaudRate, kTSErrIo (the device vanished) or kTSErrSystem.
int TSHostBaud(TarsaSerial& port, uint32_t baud);

// The device path TSOpen uses for `portName`: names that begin with "/" are
// taken as they are, others are looked up under /dev.
void TSDevicePath(const char* portName, char* path, size_t capacity);

}  // namespace tarsa
