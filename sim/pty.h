// A pseudo-terminal pair for one simulated device: the simulator works on the
// master side, the program under test opens the slave path like a serial port.
//
// The slave is put into raw mode at 9600 baud when the pair is created, so
// nothing is echoed or translated before the host configures the port. The
// simulator keeps a descriptor of the slave open for the pair's whole life:
// without it the master reports a hang-up whenever the host has the port
// closed. That descriptor takes no lock (no flock, no TIOCEXCL), because the
// host locks the slave exclusively when it opens it.
#pragma once

#include <string>

namespace tarsa::sim {

// posix_openpt failed (no pseudo-terminal available).
inline constexpr int kPtyOpenFailed = -1;
// grantpt, unlockpt or ptsname failed.
inline constexpr int kPtySetupFailed = -2;
// The slave could not be opened or put into raw mode.
inline constexpr int kPtySlaveFailed = -3;

struct PtyPair {
    int master = -1;        // non-blocking, close-on-exec
    int slave = -1;         // the simulator's own slave descriptor, close-on-exec
    std::string slavePath;  // e.g. "/dev/pts/5"
};

// Opens a new pair. Returns 1, or kPtyOpenFailed / kPtySetupFailed / kPtySlaveFailed
// (the pair is then closed).
int PtyOpen(PtyPair& pty);

// Closes the master side only: the host sees its port hang up. Returns 1, 0 when
// already closed.
int PtyCloseMaster(PtyPair& pty);

// Closes both sides. Returns 1, 0 when nothing was open.
int PtyClose(PtyPair& pty);

// The line speed the host configured, read from the master (master and slave
// share one termios record). Returns the rate in baud, 0 when unknown.
int PtyHostBaud(const PtyPair& pty);

}  // namespace tarsa::sim
