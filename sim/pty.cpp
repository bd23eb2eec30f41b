// Opening and closing the pseudo-terminal pair of a simulated device, and
// reading the host's line speed from it. Nothing here reads or writes data.
#include "sim/pty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace tarsa::sim {

namespace {

int CloseRetry(int fd) {
    int r;
    do {
        r = ::close(fd);
    } while (r < 0 && errno == EINTR);
    return r;
}

struct SpeedEntry {
    speed_t code;
    int baud;
};

constexpr SpeedEntry kSpeeds[] = {
    {B300, 300},       {B600, 600},       {B1200, 1200},     {B2400, 2400},   {B4800, 4800},
    {B9600, 9600},     {B19200, 19200},   {B38400, 38400},   {B57600, 57600}, {B115200, 115200},
    {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
};

}  // namespace

int PtyOpen(PtyPair& pty) {
    PtyClose(pty);
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) return kPtyOpenFailed;
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        CloseRetry(master);
        return kPtySetupFailed;
    }
    int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        CloseRetry(master);
        return kPtySlaveFailed;
    }
    termios tio{};
    if (::tcgetattr(slave, &tio) != 0) {
        CloseRetry(slave);
        CloseRetry(master);
        return kPtySlaveFailed;
    }
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(slave, TCSANOW, &tio) != 0) {
        CloseRetry(slave);
        CloseRetry(master);
        return kPtySlaveFailed;
    }
    int flags = ::fcntl(master, F_GETFL);
    if (flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0) {
        CloseRetry(slave);
        CloseRetry(master);
        return kPtySetupFailed;
    }
    pty.master = master;
    pty.slave = slave;
    pty.slavePath = name;
    return 1;
}

int PtyCloseMaster(PtyPair& pty) {
    if (pty.master < 0) return 0;
    CloseRetry(pty.master);
    pty.master = -1;
    return 1;
}

int PtyClose(PtyPair& pty) {
    int closed = PtyCloseMaster(pty);
    if (pty.slave >= 0) {
        CloseRetry(pty.slave);
        pty.slave = -1;
        closed = 1;
    }
    return closed;
}

int PtyHostBaud(const PtyPair& pty) {
    int fd = pty.master >= 0 ? pty.master : pty.slave;
    if (fd < 0) return 0;
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return 0;
    speed_t code = ::cfgetospeed(&tio);
    for (const SpeedEntry& e : kSpeeds) {
        if (e.code == code) return e.baud;
    }
    return 0;
}

}  // namespace tarsa::sim
