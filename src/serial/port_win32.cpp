// TarsaSerial on Win32 communications handles.
//
// The port is opened exclusively as "\\.\<name>" (so that COM10 and above
// open too), with the driver's queues at 2048 bytes, a DCB of the chosen
// speed with 8N1, DTR and RTS on and no flow control, and the time-outs
// ReadIntervalTimeout = ReadTotalTimeoutMultiplier = MAXDWORD with
// ReadTotalTimeoutConstant 100: a read returns at once with what is queued,
// or waits up to 100 ms for the first byte and returns as soon as it comes.
// Writes give up after 10 ms per byte plus 100 ms.
//
// The handle is kept in the port's int field: Windows defines kernel handles
// to be 32-bit values that may be truncated and sign-extended, and no valid
// one is negative. Output is drained (FlushFileBuffers) before the line
// speed changes and before the port closes. Failed calls are mapped to the
// layer's own codes through the shared Win32 table (serial_errors.h).
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "log/tarsa_log.h"
#include "serial/port_platform.h"
#include "serial/serial_port.h"
#include "serial/timing.h"

namespace tarsa {
namespace {

constexpr const char* kClosedTag = "TarsaSerial";
constexpr DWORD kQueueBytes = 2048;

HANDLE HandleOf(const TarsaSerial& port) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(port.handle));
}

int StoredHandle(HANDLE h) {
    return static_cast<int>(reinterpret_cast<intptr_t>(h));
}

int CodeOf(DWORD error) {
    return TSFaultCode(TSWin32Fault(error));
}

}  // namespace

void TSDevicePath(const char* portName, char* path, size_t capacity) {
    if (strncmp(portName, "\\\\.\\", 4) == 0) {
        snprintf(path, capacity, "%s", portName);
    } else {
        snprintf(path, capacity, "\\\\.\\%s", portName);
    }
}

int TSOpen(TarsaSerial& port, const char* portName, uint32_t baud) {
    if (port.handle >= 0) {
        PortLog(port, kLogBytes, kClosedTag, "TSOpen found port \"%d\" already open", port.handle);
        TSClose(port);
        DelayMs(100);
    }
    snprintf(port.name, sizeof port.name, "%s", portName ? portName : "");
    if (baud == 0) baud = 9600;

    char path[kPortNameSize + 8];
    TSDevicePath(port.name, path, sizeof path);
    HANDLE h =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        PortLog(port, kLogOutcome, port.name, "TSOpen failed to open comm port (error %lu)", err);
        return CodeOf(err);
    }
    port.handle = StoredHandle(h);

    if (!SetupComm(h, kQueueBytes, kQueueBytes)) {
        PortLog(port, kLogBytes, port.name,
                "TSOpen failed to set buffer size on comm port (error %lu)", GetLastError());
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) {
        const DWORD err = GetLastError();
        PortLog(port, kLogOutcome, port.name,
                "TSOpen failed to retreive DCB on comm port (error %lu)", err);
        if (err == ERROR_INVALID_FUNCTION || err == ERROR_NOT_SUPPORTED) {
            PortLog(port, kLogOutcome, port.name, "TSOpen: %s is not a serial port", path);
        }
        return CodeOf(err);
    }
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDsrSensitivity = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fAbortOnError = 0;
    dcb.wReserved = 0;
    if (!SetCommState(h, &dcb)) {
        const DWORD err = GetLastError();
        PortLog(port, kLogOutcome, port.name, "TSOpen failed to apply DCB on comm port (error %lu)",
                err);
        return CodeOf(err);
    }
    port.baud = baud;
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = 100;
    timeouts.WriteTotalTimeoutMultiplier = 10;
    timeouts.WriteTotalTimeoutConstant = 100;
    if (!SetCommTimeouts(h, &timeouts)) {
        const DWORD err = GetLastError();
        PortLog(port, kLogOutcome, port.name,
                "TSOpen failed to set timeouts on comm port (error %lu)", err);
        return CodeOf(err);
    }
    EscapeCommFunction(h, SETDTR);
    DWORD errors = 0;
    ClearCommError(h, &errors, nullptr);

    PortAttachReadBuffer(port);
    port.dataPending = false;

    PortLog(port, kLogDetail, port.name,
            "TSOpen successfully opened and configured comm port at %d baud",
            static_cast<int>(port.baud));
    return kTSOk;
}

int TSClose(TarsaSerial& port) {
    if (port.handle < 0) return kTSNothing;
    HANDLE h = HandleOf(port);
    port.handle = -1;
    // The last command must reach the device before DTR drops.
    FlushFileBuffers(h);
    EscapeCommFunction(h, CLRDTR);
    const BOOL closed = CloseHandle(h);
    const DWORD err = closed ? 0 : GetLastError();
    PortReleaseReadBuffer(port);
    if (!closed) {
        PortLog(port, kLogOutcome, port.name, "TSClose failed to close comm port (error %lu)", err);
        return CodeOf(err);
    }
    PortLog(port, kLogDetail, port.name, "TSClose closed comm port");
    return kTSOk;
}

long PortReadSome(TarsaSerial& port, char* dest, size_t capacity, int& error) {
    error = 0;
    if (capacity == 0) return 0;
    DWORD got = 0;
    const DWORD want = capacity > MAXDWORD ? MAXDWORD : static_cast<DWORD>(capacity);
    if (!ReadFile(HandleOf(port), dest, want, &got, nullptr)) {
        error = static_cast<int>(GetLastError());
        return -1;
    }
    return static_cast<long>(got);
}

void PortPurgeInput(TarsaSerial& port) {
    if (port.handle >= 0) PurgeComm(HandleOf(port), PURGE_RXCLEAR);
}

int TSWrite(TarsaSerial& port, const void* bytes, size_t length, size_t& outWritten) {
    outWritten = 0;
    if (port.handle < 0) {
        PortLog(port, kLogOutcome, kClosedTag, "TSWrite tried to write to a closed port");
        return kTSErrClosed;
    }
    // One call: the driver applies the write time-out of the whole length.
    DWORD done = 0;
    const DWORD want = length > MAXDWORD ? MAXDWORD : static_cast<DWORD>(length);
    if (!WriteFile(HandleOf(port), bytes, want, &done, nullptr)) {
        PortLog(port, kLogOutcome, port.name, "TSWrite WriteFile failed (error %lu)",
                GetLastError());
        return kTSErrClosed;
    }
    outWritten = done;
    PortLog(port, kLogBytes, port.name, "TSWrite wrote %d bytes", static_cast<int>(done));
    return static_cast<int>(done);
}

int TSHostBaud(TarsaSerial& port, uint32_t baud) {
    if (baud == port.baud) return kTSNothing;
    if (port.name[0] == '\0') return kTSErrNoName;
    if (port.handle < 0) return kTSErrClosed;
    HANDLE h = HandleOf(port);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    DWORD err = 0;
    // What was sent at the old rate must not go out at the new one.
    if (!FlushFileBuffers(h) || !GetCommState(h, &dcb)) {
        err = GetLastError();
    } else {
        dcb.BaudRate = baud;
        if (!SetCommState(h, &dcb)) err = GetLastError();
    }
    if (err != 0) {
        PortLog(port, kLogOutcome, port.name,
                "TSHostBaud failed to apply new baud rate \"%d\" (error %lu)",
                static_cast<int>(baud), err);
        return CodeOf(err);
    }
    port.baud = baud;
    return kTSOk;
}

}  // namespace tarsa
