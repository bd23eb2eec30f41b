// The serial port on the slave side of a real pseudo-terminal; the test plays
// the device on the master side.
#include "serial/serial_port.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "log/tarsa_log.h"
#include "serial/timing.h"
#include "support/pty_pair.h"

// Every tcdrain of the code under test passes through here on its way to
// the C library, noting the line speed and whether the descriptor was still
// open, so a test can tell that output was drained before a change.
struct DrainSeen {
    int fd;
    speed_t speed;
};
static std::vector<DrainSeen> gDrains;

extern "C" int tcdrain(int fd) {
    using Real = int (*)(int);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "tcdrain"));
    struct termios tio {};
    gDrains.push_back({fd, tcgetattr(fd, &tio) == 0 ? cfgetospeed(&tio) : speed_t(0)});
    return real(fd);
}

namespace tarsa {
namespace {

class SerialPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty_.ok());
        port_.log = &log_;
    }
    void TearDown() override {
        TSClose(port_);
        unlink(logPath_.c_str());
    }

    void Open(uint32_t baud = 9600) {
        ASSERT_EQ(TSOpen(port_, pty_.SlavePath().c_str(), baud), kTSOk);
    }
    std::string Read(size_t capacity = 2048) {
        std::string buf(capacity, '\0');
        size_t count = 99;
        int rc = TSRead(port_, buf.data(), capacity, count);
        EXPECT_GE(rc, 0);
        EXPECT_EQ(static_cast<size_t>(rc < 0 ? 0 : rc), count);
        buf.resize(count);
        return buf;
    }

    test::PtyPair pty_;
    TarsaLog log_{"/dev/null", 40, false};
    TarsaSerial port_;
    const std::string logPath_ = (std::filesystem::temp_directory_path() /
                                  ("tarsa_serial_" + std::to_string(getpid()) + ".txt"))
                                     .string();
};

TEST_F(SerialPortTest, OpenErrorsMapToMissingAndInUse) {
    EXPECT_EQ(TSOpen(port_, "/dev/tarsa-no-such-port", 9600), kTSErrMissing);
    EXPECT_EQ(TSClose(port_), kTSNothing) << "a port whose open failed is closed";

    Open();
    TarsaSerial second;
    EXPECT_EQ(TSOpen(second, pty_.SlavePath().c_str(), 9600), kTSErrInUse);
    EXPECT_EQ(second.handle, -1);

    EXPECT_EQ(TSClose(port_), kTSOk);
    EXPECT_EQ(TSOpen(second, pty_.SlavePath().c_str(), 9600), kTSOk)
        << "closing releases the port for the next program";
    TSClose(second);
}

TEST_F(SerialPortTest, SystemFailuresGetCodesNoOtherLayerUses) {
    // A path that is no terminal (ENOTTY, 25 = the instrument's "login failed").
    TarsaLog log(logPath_.c_str(), 30, false);
    port_.log = &log;
    EXPECT_EQ(TSOpen(port_, "/dev/null", 9600), kTSErrNotTerminal);
    TSClose(port_);
    std::ifstream in(logPath_);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("TSOpen: /dev/null is not a serial port"), std::string::npos) << text;
    port_.log = &log_;  // the local log ends with this test

    // A device that vanished (EIO, 5 = this layer's own "in use").
    Open();
    pty_.CloseMaster();
    EXPECT_EQ(TSHostBaud(port_, 19200), kTSErrIo);
    // Errors without a code of their own.
    EXPECT_EQ(TSPosixErrorCode(EMFILE), kTSErrSystem);
    EXPECT_EQ(TSPosixErrorCode(EXDEV), kTSErrSystem);
}

TEST_F(SerialPortTest, OutputIsDrainedBeforeTheLineSpeedChangesAndBeforeClosing) {
    Open(9600);
    const int fd = port_.handle;
    size_t written = 0;
    ASSERT_EQ(TSWrite(port_, "boot", 4, written), 4);
    gDrains.clear();
    ASSERT_EQ(TSHostBaud(port_, 38400), kTSOk);
    ASSERT_EQ(gDrains.size(), 1u);
    EXPECT_EQ(gDrains[0].fd, fd);
    EXPECT_EQ(gDrains[0].speed, static_cast<speed_t>(B9600)) << "drained after the change";
    EXPECT_EQ(pty_.SlaveSpeed(), static_cast<speed_t>(B38400));

    ASSERT_EQ(TSClose(port_), kTSOk);
    ASSERT_EQ(gDrains.size(), 2u);
    EXPECT_EQ(gDrains[1].fd, fd);
    EXPECT_EQ(gDrains[1].speed, static_cast<speed_t>(B38400)) << "drained after closing";
}

TEST_F(SerialPortTest, BaudZeroOpensAt9600AndHostBaudChangesTheLine) {
    Open(0);
    EXPECT_EQ(port_.baud, 9600u);
    EXPECT_EQ(pty_.SlaveSpeed(), static_cast<speed_t>(B9600));

    EXPECT_EQ(TSHostBaud(port_, 9600), kTSNothing);
    EXPECT_EQ(TSHostBaud(port_, 38400), kTSOk);
    EXPECT_EQ(port_.baud, 38400u);
    EXPECT_EQ(pty_.SlaveSpeed(), static_cast<speed_t>(B38400));

    EXPECT_EQ(TSHostBaud(port_, 12345), kTSErrBaudRate);
    EXPECT_EQ(port_.baud, 38400u) << "a refused rate leaves the current one";

    TarsaSerial unnamed;
    EXPECT_EQ(TSHostBaud(unnamed, 19200), kTSErrNoName);
}

TEST_F(SerialPortTest, BareNamesAreLookedUpUnderDev) {
    char path[80];
    TSDevicePath("ttyUSB0", path, sizeof path);
    EXPECT_STREQ(path, "/dev/ttyUSB0");
    TSDevicePath("/dev/pts/3", path, sizeof path);
    EXPECT_STREQ(path, "/dev/pts/3");

    std::string bare = pty_.SlavePath().substr(strlen("/dev/"));
    ASSERT_EQ(TSOpen(port_, bare.c_str(), 9600), kTSOk);
    EXPECT_STREQ(port_.name, bare.c_str()) << "the name is kept as given: it is the log tag";
}

TEST_F(SerialPortTest, WriteReachesTheDeviceAndReadReturnsWhatArrived) {
    Open();
    size_t written = 0;
    EXPECT_EQ(TSWrite(port_, "get -ver\r", 9, written), 9);
    EXPECT_EQ(written, 9u);
    EXPECT_EQ(pty_.Drain(), "get -ver\r");

    pty_.Send("\rTalox 2.29\r>");
    EXPECT_EQ(Read(), "\rTalox 2.29\r>");
    EXPECT_EQ(Read(), "") << "a silent line gives 0 bytes after the first-byte time-out";
}

TEST_F(SerialPortTest, WaitFindsTheCharacterAndTheNextReadReturnsOnlyTheBuffer) {
    Open();
    pty_.Send("\rOK\r>");
    EXPECT_EQ(TSWait(port_, 1000, '>'), '>');
    EXPECT_TRUE(port_.dataPending);
    pty_.Send("late");
    EXPECT_EQ(Read(), "\rOK\r>") << "data pending: no port read after a successful wait";
    EXPECT_FALSE(port_.dataPending);
    EXPECT_EQ(Read(), "late");
}

TEST_F(SerialPortTest, WaitTimeoutLeavesBytesForTheNextRead) {
    Open();
    pty_.Send("abc");
    EXPECT_EQ(TSWait(port_, 150, '>'), 0);
    EXPECT_FALSE(port_.dataPending);
    pty_.Send("def");
    EXPECT_EQ(Read(), "abcdef");
}

TEST_F(SerialPortTest, WaitWithZeroTimeoutReturnsAfterOneEmptyRead) {
    Open();
    EXPECT_EQ(TSWait(port_, 0, '>'), 0);
    pty_.Send("x>");
    EXPECT_EQ(TSWait(port_, 0, '>'), '>') << "a character in the first chunk is still found";
}

TEST_F(SerialPortTest, ReadSmallerThanTheBufferReturnsExactlyCapacityAndDropsTheRest) {
    Open();
    pty_.Send("hello world>");
    ASSERT_EQ(TSWait(port_, 1000, '>'), '>');
    EXPECT_EQ(Read(5), "hello");
    EXPECT_EQ(Read(), "") << "the rest of the buffered text was discarded";
}

TEST_F(SerialPortTest, FlushDiscardsBufferedAndQueuedInput) {
    Open();
    pty_.Send("stale>");
    ASSERT_EQ(TSWait(port_, 0, '!'), 0);  // "stale>" now sits in gReadBuffer
    pty_.Send("queued");
    usleep(20000);
    EXPECT_EQ(TSFlush(port_, 1), 0);
    EXPECT_EQ(Read(), "");
}

TEST_F(SerialPortTest, ClosedPortRefusesEveryOperation) {
    size_t n = 0;
    char buf[8];
    EXPECT_EQ(TSRead(port_, buf, sizeof buf, n), kTSErrNoBuffer);
    EXPECT_EQ(TSWrite(port_, "x", 1, n), kTSErrClosed);
    EXPECT_EQ(TSWait(port_, 10, '>'), kTSErrClosed);

    Open();
    EXPECT_EQ(TSClose(port_), kTSOk);
    EXPECT_EQ(port_.gReadBuffer, nullptr) << "the owned buffer is freed on close";
    EXPECT_EQ(TSClose(port_), kTSNothing);
}

TEST_F(SerialPortTest, LentBufferSurvivesCloseAndIsReused) {
    char lent[kReadBufferSize];
    port_.gReadBuffer = lent;
    Open();
    EXPECT_FALSE(port_.bufferOwned);
    EXPECT_EQ(TSClose(port_), kTSOk);
    EXPECT_EQ(port_.gReadBuffer, lent);
    size_t n = 0;
    char buf[8];
    EXPECT_EQ(TSRead(port_, buf, sizeof buf, n), kTSErrClosed);
}

TEST_F(SerialPortTest, VanishedDeviceGivesAnErrorNotAHang) {
    Open();
    pty_.CloseMaster();
    size_t n = 0;
    char buf[64];
    EXPECT_EQ(TSRead(port_, buf, sizeof buf, n), kTSErrClosed);
    EXPECT_EQ(TSWait(port_, 5000, '>'), kTSErrClosed);
}

// A window installs an input-wait pump: a read that finds nothing queued
// waits in it (handing over the port's descriptor and the time left) until
// the device's bytes come; a read with bytes queued never calls it.
TEST_F(SerialPortTest, AReadThatMustWaitWaitsInTheInputPump) {
    Open();
    std::vector<uint32_t> asked;
    std::vector<int> fds;
    bool answered = false;
    InputWaitPump previous = SetInputWaitPump([&](int fd, uint32_t maxWaitMs) {
        asked.push_back(maxWaitMs);
        fds.push_back(fd);
        if (asked.size() == 2 && !answered) {  // an "event" was handled, then the answer comes
            pty_.Send("\rOK\r>");
            answered = true;
        }
        struct pollfd pfd {
            fd, POLLIN, 0
        };
        poll(&pfd, 1, asked.size() == 1 ? 10 : static_cast<int>(maxWaitMs));
    });
    EXPECT_EQ(Read(), "\rOK\r>");
    ASSERT_EQ(asked.size(), 2u) << "called again after a turn that brought no byte";
    EXPECT_EQ(fds, (std::vector<int>{port_.handle, port_.handle}));
    EXPECT_LE(asked[0], 100u);
    EXPECT_LT(asked[1], asked[0]) << "the second wait gets only the time that is left";

    asked.clear();
    pty_.Send("queued");
    usleep(20000);
    EXPECT_EQ(Read(), "queued");
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(Read(), "") << "a silent line still ends after the first-byte time-out";
    EXPECT_FALSE(asked.empty());
    SetInputWaitPump(std::move(previous));
}

TEST_F(SerialPortTest, ReopeningAnOpenPortClosesItFirst) {
    Open();
    int first = port_.handle;
    Open(19200);
    EXPECT_GE(port_.handle, 0);
    EXPECT_EQ(port_.baud, 19200u);
    (void)first;
    TarsaSerial other;
    EXPECT_EQ(TSOpen(other, pty_.SlavePath().c_str(), 9600), kTSErrInUse)
        << "the reopened port is still held exclusively";
}

}  // namespace
}  // namespace tarsa

namespace tarsa {
namespace {

// A user who may not open the port gets its own code and a hint in the log.
// Needs root to drop to another user; skipped otherwise.
TEST(SerialPortPermissionTest, PermissionDeniedNamesTheDialoutGroup) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as an unprivileged user";
    test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    ASSERT_EQ(chmod(pty.SlavePath().c_str(), 0600), 0);
    std::string logPath = "/tmp/tarsa_perm_" + std::to_string(getpid()) + ".txt";
    int fd = open(logPath.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0666);
    ASSERT_GE(fd, 0);
    fchmod(fd, 0666);
    close(fd);

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(100);
        TarsaLog log(logPath.c_str(), 30, false);
        TarsaSerial port;
        port.log = &log;
        int rc = TSOpen(port, pty.SlavePath().c_str(), 9600);
        _exit(rc == kTSErrAccess ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "TSOpen did not return kTSErrAccess";
    std::ifstream in(logPath);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("TSOpen failed to open comm port (error 13)"), std::string::npos);
    EXPECT_NE(text.find("'dialout' group"), std::string::npos);
    unlink(logPath.c_str());
}

}  // namespace
}  // namespace tarsa
