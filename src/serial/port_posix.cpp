// TarsaSerial on POSIX terminals (termios).
//
// The descriptor is non-blocking; every wait is a poll() in the kernel: a read
// polls up to 100 ms for its first byte (through the input-wait pump of
// timing.h when a window installed one) and then takes what is queued, a write
// polls for room until 10 ms per byte plus 100 ms have passed. Exclusive use
// is TIOCEXCL (other openers are refused by the kernel) plus an flock() that
// also holds against privileged openers. Modem-control ioctls that a pseudo-
// terminal does not support (ENOTTY, EINVAL) are ignored.
//
// Output is drained (tcdrain) before the line speed changes and before the
// port closes. Failed system calls are mapped to the layer's own codes
// (serial_errors.h), never returned as -errno.
//
// All system calls of the port live in this file and are retried on EINTR.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "log/tarsa_log.h"
#include "serial/port_platform.h"
#include "serial/serial_port.h"
#include "serial/timing.h"

namespace tarsa {
namespace {

constexpr const char* kClosedTag = "TarsaSerial";
constexpr uint32_t kFirstByteTimeoutMs = 100;

template <typename Call>
auto RetryEintr(Call call) {
    decltype(call()) r;
    do {
        r = call();
    } while (r == -1 && errno == EINTR);
    return r;
}

bool SpeedFor(uint32_t baud, speed_t& speed) {
    struct Pair {
        uint32_t baud;
        speed_t speed;
    };
    static constexpr Pair kSpeeds[] = {
        {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},   {4800, B4800},
        {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600}, {115200, B115200},
        {230400, B230400}, {460800, B460800}, {921600, B921600},
    };
    for (const Pair& p : kSpeeds) {
        if (p.baud == baud) {
            speed = p.speed;
            return true;
        }
    }
    return false;
}

// Lets what was written leave the host before the line changes or closes.
// Without flow control the driver always drains, within its queue's time at
// the line speed; a pseudo-terminal returns at once. Returns 0 or errno.
int Drain(int fd) {
    return RetryEintr([&] { return tcdrain(fd); }) == 0 ? 0 : errno;
}

// A terminal call that failed on `path`: logs what the code alone cannot tell.
int TerminalFailure(const TarsaSerial& port, const char* path, int err) {
    if (err == ENOTTY) {
        PortLog(port, kLogOutcome, port.name, "TSOpen: %s is not a serial port", path);
    }
    return TSPosixErrorCode(err);
}

void SetModemLines(int fd, bool raise) {
    int lines = TIOCM_DTR | TIOCM_RTS;
    // Pseudo-terminals and some adapters have no modem lines; that is fine.
    RetryEintr([&] { return ioctl(fd, raise ? TIOCMBIS : TIOCMBIC, &lines); });
}

// Waits up to `timeoutMs` for `pfd` to have input. Without an input-wait
// pump this is one poll(). With one (a window), the wait goes through the
// pump, which handles window events until input comes or the time is up, and
// the descriptor is looked at again after each turn. Returns poll()'s result.
int WaitForInput(struct pollfd& pfd, uint32_t timeoutMs) {
    const uint32_t start = TickMs();
    int ready = RetryEintr([&] { return poll(&pfd, 1, 0); });
    while (ready == 0) {
        const uint32_t elapsed = TickMs() - start;
        if (elapsed >= timeoutMs) break;
        const uint32_t remaining = timeoutMs - elapsed;
        if (!PumpUntilInput(pfd.fd, remaining)) {
            return RetryEintr([&] { return poll(&pfd, 1, static_cast<int>(remaining)); });
        }
        ready = RetryEintr([&] { return poll(&pfd, 1, 0); });
    }
    return ready;
}

// Waits up to `timeoutMs` for input, then reads what is queued into `dest`.
// Returns the bytes read (0 on time-out) or -1 with errno set. A hang-up
// (the device vanished) is reported as EIO.
ssize_t ReadWithTimeout(int fd, char* dest, size_t capacity, uint32_t timeoutMs) {
    if (capacity == 0) return 0;
    struct pollfd pfd {
        fd, POLLIN, 0
    };
    int ready = WaitForInput(pfd, timeoutMs);
    if (ready < 0) return -1;
    if (ready == 0) return 0;
    ssize_t n = RetryEintr([&] { return read(fd, dest, capacity); });
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    if (n == 0 && (pfd.revents & (POLLHUP | POLLERR))) {
        errno = EIO;
        return -1;
    }
    return n;
}

}  // namespace

void TSDevicePath(const char* portName, char* path, size_t capacity) {
    if (portName[0] == '/') {
        snprintf(path, capacity, "%s", portName);
    } else {
        snprintf(path, capacity, "/dev/%s", portName);
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

    int fd = RetryEintr([&] { return open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    if (fd < 0) {
        int err = errno;
        PortLog(port, kLogOutcome, port.name, "TSOpen failed to open comm port (error %d)", err);
        if (err == EACCES || err == EPERM) {
            PortLog(port, kLogOutcome, port.name,
                    "TSOpen: permission denied on %s; add the user to the 'dialout' group "
                    "(sudo usermod -aG dialout $USER) and log in again",
                    path);
        }
        return TSPosixErrorCode(err);
    }
    // Refuse the port when another program holds it, and keep others out.
    if (RetryEintr([&] { return flock(fd, LOCK_EX | LOCK_NB); }) != 0) {
        int err = errno;
        close(fd);
        PortLog(port, kLogOutcome, port.name, "TSOpen failed to open comm port (error %d)", EBUSY);
        return TSPosixErrorCode(err == EWOULDBLOCK ? EBUSY : err);
    }
    port.handle = fd;
    RetryEintr([&] { return ioctl(fd, TIOCEXCL); });

    struct termios tio {};
    if (RetryEintr([&] { return tcgetattr(fd, &tio); }) != 0) {
        int err = errno;
        PortLog(port, kLogOutcome, port.name,
                "TSOpen failed to retreive DCB on comm port (error %d)", err);
        return TerminalFailure(port, path, err);
    }
    speed_t speed;
    if (!SpeedFor(baud, speed)) {
        PortLog(port, kLogOutcome, port.name, "TSOpen failed to apply DCB on comm port (error %d)",
                EINVAL);
        return kTSErrBaudRate;
    }
    port.baud = baud;
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    if (RetryEintr([&] { return tcsetattr(fd, TCSANOW, &tio); }) != 0) {
        int err = errno;
        PortLog(port, kLogOutcome, port.name, "TSOpen failed to apply DCB on comm port (error %d)",
                err);
        return TerminalFailure(port, path, err);
    }
    SetModemLines(fd, true);

    PortAttachReadBuffer(port);
    port.dataPending = false;

    PortLog(port, kLogDetail, port.name,
            "TSOpen successfully opened and configured comm port at %d baud",
            static_cast<int>(port.baud));
    return kTSOk;
}

int TSClose(TarsaSerial& port) {
    if (port.handle < 0) return kTSNothing;
    int fd = port.handle;
    port.handle = -1;
    // The last command must reach the device before DTR drops; a device
    // that has vanished has nothing to drain, and the port closes anyway.
    Drain(fd);
    SetModemLines(fd, false);
    // Clear exclusive mode so that the next opener of this terminal is not
    // refused by a flag that outlives our descriptor.
    RetryEintr([&] { return ioctl(fd, TIOCNXCL); });
    int rc = close(fd);  // never retried: Linux releases the descriptor even on EINTR
    int err = errno;
    PortReleaseReadBuffer(port);
    if (rc != 0 && err != EINTR) {
        PortLog(port, kLogOutcome, port.name, "TSClose failed to close comm port (error %d)", err);
        return TSPosixErrorCode(err);
    }
    PortLog(port, kLogDetail, port.name, "TSClose closed comm port");
    return kTSOk;
}

int TSWrite(TarsaSerial& port, const void* bytes, size_t length, size_t& outWritten) {
    outWritten = 0;
    if (port.handle < 0) {
        PortLog(port, kLogOutcome, kClosedTag, "TSWrite tried to write to a closed port");
        return kTSErrClosed;
    }
    const char* p = static_cast<const char*>(bytes);
    const uint32_t budgetMs = 10u * static_cast<uint32_t>(length) + 100u;
    const uint32_t start = TickMs();
    size_t done = 0;
    while (done < length) {
        ssize_t n = RetryEintr([&] { return write(port.handle, p + done, length - done); });
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            PortLog(port, kLogOutcome, port.name, "TSWrite WriteFile failed (error %d)", errno);
            return kTSErrClosed;
        }
        uint32_t elapsed = TickMs() - start;
        if (elapsed >= budgetMs) break;  // write time-out: report what went out
        struct pollfd pfd {
            port.handle, POLLOUT, 0
        };
        int ready = RetryEintr([&] { return poll(&pfd, 1, static_cast<int>(budgetMs - elapsed)); });
        if (ready < 0 || (pfd.revents & (POLLERR | POLLHUP))) {
            PortLog(port, kLogOutcome, port.name, "TSWrite WriteFile failed (error %d)",
                    ready < 0 ? errno : EIO);
            return kTSErrClosed;
        }
    }
    outWritten = done;
    PortLog(port, kLogBytes, port.name, "TSWrite wrote %d bytes", static_cast<int>(done));
    return static_cast<int>(done);
}

void PortPurgeInput(TarsaSerial& port) {
    if (port.handle >= 0) RetryEintr([&] { return tcflush(port.handle, TCIFLUSH); });
}

long PortReadSome(TarsaSerial& port, char* dest, size_t capacity, int& error) {
    const ssize_t n = ReadWithTimeout(port.handle, dest, capacity, kFirstByteTimeoutMs);
    error = n < 0 ? errno : 0;
    return static_cast<long>(n);
}

int TSHostBaud(TarsaSerial& port, uint32_t baud) {
    if (baud == port.baud) return kTSNothing;
    if (port.name[0] == '\0') return kTSErrNoName;
    if (port.handle < 0) return kTSErrClosed;
    struct termios tio {};
    speed_t speed;
    int err = 0;
    if (!SpeedFor(baud, speed)) {
        err = EINVAL;
    } else if ((err = Drain(port.handle)) != 0) {
        // What was sent at the old rate must not go out at the new one.
    } else if (RetryEintr([&] { return tcgetattr(port.handle, &tio); }) != 0) {
        err = errno;
    } else {
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
        if (RetryEintr([&] { return tcsetattr(port.handle, TCSANOW, &tio); }) != 0) err = errno;
    }
    if (err != 0) {
        PortLog(port, kLogOutcome, port.name,
                "TSHostBaud failed to apply new baud rate \"%d\" (error %d)",
                static_cast<int>(baud), err);
        return TSPosixErrorCode(err);
    }
    port.baud = baud;
    return kTSOk;
}

}  // namespace tarsa
