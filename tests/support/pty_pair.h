// A pseudo-terminal pair for serial-layer tests: the code under test opens the
// slave path as its port; the test plays the device on the master side.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <string>

namespace tarsa::test {

class PtyPair {
  public:
    PtyPair() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        const char* name = ptsname(master_);
        if (!name) return;
        slavePath_ = name;
        // Hold the slave open so the master never sees a hang-up between the
        // test's opens and closes, and start it raw (no echo of what we send).
        keepSlave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        struct termios tio {};
        if (keepSlave_ >= 0 && tcgetattr(keepSlave_, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(keepSlave_, TCSANOW, &tio);
        }
    }
    ~PtyPair() {
        CloseMaster();
        if (keepSlave_ >= 0) close(keepSlave_);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0 && keepSlave_ >= 0; }
    const std::string& SlavePath() const { return slavePath_; }
    int master() const { return master_; }

    void Send(const std::string& bytes) const {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) return;
            done += static_cast<size_t>(n);
        }
    }

    // Everything the code under test has written, waiting up to `waitMs` for
    // the first byte and a little longer for the rest.
    std::string Drain(int waitMs = 200) const {
        std::string out;
        struct pollfd pfd {
            master_, POLLIN, 0
        };
        int timeout = waitMs;
        while (poll(&pfd, 1, timeout) > 0 && (pfd.revents & POLLIN)) {
            char buf[512];
            ssize_t n = read(master_, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<size_t>(n));
            timeout = 20;
        }
        return out;
    }

    // The line speed the slave side is set to (master and slave share it).
    speed_t SlaveSpeed() const {
        struct termios tio {};
        tcgetattr(master_, &tio);
        return cfgetospeed(&tio);
    }

    void CloseMaster() {
        if (master_ >= 0) close(master_);
        master_ = -1;
    }

  private:
    int master_ = -1;
    int keepSlave_ = -1;
    std::string slavePath_;
};

}  // namespace tarsa::test
