// The receive side of TarsaSerial that every platform shares: gReadBuffer,
// the data-pending hand-over from TSWait to TSRead, and the wait for a
// character. The platform's port file supplies the reads (port_platform.h).
#include <cstdarg>
#include <cstring>
#include <memory>

#include "log/tarsa_log.h"
#include "serial/port_platform.h"
#include "serial/serial_port.h"
#include "serial/timing.h"

namespace tarsa {
namespace {

constexpr const char* kClosedTag = "TarsaSerial";
constexpr uint32_t kFirstByteTimeoutMs = 100;

}  // namespace

void PortLog(const TarsaSerial& port, uint32_t level, const char* tag, const char* format, ...) {
    if (!port.log) return;
    va_list args;
    va_start(args, format);
    port.log->WriteV(level, tag, format, args);
    va_end(args);
}

void PortAttachReadBuffer(TarsaSerial& port) {
    if (!port.gReadBuffer) {
        port.ownedBuffer = std::make_unique<char[]>(kReadBufferSize);
        port.gReadBuffer = port.ownedBuffer.get();
        port.bufferOwned = true;
    } else if (port.gReadBuffer != port.ownedBuffer.get()) {
        port.bufferOwned = false;
    }
    memset(port.gReadBuffer, 0, kReadBufferSize);
}

void PortReleaseReadBuffer(TarsaSerial& port) {
    if (port.bufferOwned) {
        port.ownedBuffer.reset();
        port.gReadBuffer = nullptr;
        port.bufferOwned = false;
    }
}

int TSRead(TarsaSerial& port, char* dest, size_t capacity, size_t& outCount) {
    outCount = 0;
    if (!port.gReadBuffer) return kTSErrNoBuffer;

    size_t count = 0;
    size_t held = strnlen(port.gReadBuffer, kReadBufferSize);
    if (held > 0) {
        count = held < capacity ? held : capacity;
        memcpy(dest, port.gReadBuffer, count);
        if (held > capacity) port.dataPending = true;  // the rest is dropped
        outCount = count;
        port.gReadBuffer[0] = '\0';
        PortLog(port, kLogBytes, port.name, "TSRead read %d bytes from gReadBuffer",
                static_cast<int>(count));
    }
    if (port.dataPending) {
        port.dataPending = false;
        return static_cast<int>(count);
    }
    if (port.handle < 0) {
        PortLog(port, kLogOutcome, kClosedTag, "TSRead tried to read from a closed port");
        return kTSErrClosed;
    }
    int error = 0;
    long n = PortReadSome(port, dest + count, capacity - count, error);
    if (n < 0) {
        PortLog(port, kLogOutcome, port.name, "TSRead ReadFile failed (error %d)", error);
        return kTSErrClosed;
    }
    count += static_cast<size_t>(n);
    outCount = count;
    PortLog(port, kLogBytes, port.name, "TSRead read %d btyes", static_cast<int>(count));
    return static_cast<int>(count);
}

int TSFlush(TarsaSerial& port, int mode) {
    if (mode == 1) PortPurgeInput(port);
    if (port.gReadBuffer) port.gReadBuffer[0] = '\0';
    return 0;
}

int TSWait(TarsaSerial& port, uint32_t timeoutMs, char character) {
    if (port.handle < 0) {
        PortLog(port, kLogOutcome, kClosedTag, "TSWait tried to operate on a closed port");
        return kTSErrClosed;
    }
    if (!port.gReadBuffer) return kTSErrNoBuffer;

    const uint32_t start = TickMs();
    char* buf = port.gReadBuffer;
    const size_t keep = kReadBufferSize - 1;
    size_t held = 0;
    buf[0] = '\0';
    int emptyReads = 0;
    for (;;) {
        long n = 0;
        int error = 0;
        if (held < keep) {
            n = PortReadSome(port, buf + held, keep - held, error);
            if (n < 0) {
                PortLog(port, kLogOutcome, port.name, "TSWait ReadFile failed (error %d)", error);
                return kTSErrClosed;
            }
        } else {
            DelayMs(kFirstByteTimeoutMs);  // buffer full: nothing more can be kept
        }
        uint32_t elapsed = TickMs() - start;
        if (n > 0) {
            held += static_cast<size_t>(n);
            buf[held] = '\0';
            if (memchr(buf, character, held)) {
                port.dataPending = true;
                PortLog(port, kLogBytes, port.name, "TSWait found '%c' in %d ms", character,
                        static_cast<int>(elapsed));
                return static_cast<unsigned char>(character);
            }
        }
        // A device that keeps talking without ever sending the character must
        // not stretch the wait, so the time-out is checked after every read.
        if (elapsed > timeoutMs) {
            PortLog(port, kLogBytes, port.name,
                    "TSWait read %d bytes, but never found '%c' in %d ms", static_cast<int>(held),
                    character, static_cast<int>(elapsed));
            return kTSNothing;
        }
        if (n == 0 && ++emptyReads >= 6 && timeoutMs > 400) DelayMs(200);
    }
}

}  // namespace tarsa
