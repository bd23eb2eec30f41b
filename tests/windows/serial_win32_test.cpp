// The Windows serial port against a simulated Talox at 9600 baud on the COM
// port named by TARSA_TEST_COMPORT (wine maps it to the simulator's pty).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "serial/port_enum.h"
#include "serial/serial_port.h"

namespace tarsa {
namespace {

class Win32SerialTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* name = std::getenv("TARSA_TEST_COMPORT");
        ASSERT_TRUE(name && name[0]) << "TARSA_TEST_COMPORT names no port";
        ASSERT_EQ(TSOpen(port_, name, 0), kTSOk);
    }
    void TearDown() override { TSClose(port_); }

    // The answer to `command` up to the prompt, or what came within 2 s.
    std::string Ask(const std::string& command, int* waited = nullptr) {
        size_t written = 0;
        EXPECT_EQ(TSWrite(port_, command.data(), command.size(), written),
                  static_cast<int>(command.size()));
        const int found = TSWait(port_, 2000, '>');
        if (waited) *waited = found;
        return ReadAll();
    }
    std::string ReadAll() {
        std::string text(kReadBufferSize, '\0');
        size_t count = 0;
        const int rc = TSRead(port_, text.data(), text.size(), count);
        EXPECT_GE(rc, 0);
        text.resize(count);
        return text;
    }

    TarsaSerial port_;
};

TEST_F(Win32SerialTest, OpensAt9600AndAnEmptyReadWaitsAboutTheFirstByteTimeOut) {
    EXPECT_EQ(port_.baud, 9600u);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadAll(), "");
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    EXPECT_GE(ms, 80) << "a read waits up to 100 ms for its first byte";
    EXPECT_LT(ms, 2000) << "and no longer";
}

TEST_F(Win32SerialTest, WriteReachesTheDeviceAndItsAnswerIsRead) {
    int found = 0;
    const std::string answer = Ask("get -ver\r", &found);
    EXPECT_EQ(found, '>');
    EXPECT_NE(answer.find("2.10"), std::string::npos) << answer;
}

TEST_F(Win32SerialTest, FlushDiscardsWhatTheDriverHolds) {
    size_t written = 0;
    ASSERT_EQ(TSWrite(port_, "get -ver\r", 9, written), 9);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));  // the answer is queued
    EXPECT_EQ(TSFlush(port_, 1), 0);
    EXPECT_EQ(ReadAll(), "");
}

TEST_F(Win32SerialTest, BaudChangeReachesTheLine) {
    EXPECT_EQ(TSHostBaud(port_, 9600), kTSNothing);
    ASSERT_EQ(TSHostBaud(port_, 19200), kTSOk);
    EXPECT_EQ(port_.baud, 19200u);
    int found = 0;
    const std::string wrong = Ask("get -ver\r", &found);
    EXPECT_EQ(wrong.find("2.10"), std::string::npos) << "a 9600-baud device is not understood";
    ASSERT_EQ(TSHostBaud(port_, 9600), kTSOk);
    Ask("\r");  // ends the line the garbled bytes began on the device
    TSFlush(port_, 1);
    const std::string right = Ask("get -ver\r", &found);
    EXPECT_NE(right.find("2.10"), std::string::npos) << right;
}

TEST(Win32SerialOpenTest, MissingPortAndClosedPort) {
    TarsaSerial port;
    EXPECT_EQ(TSOpen(port, "COM77", 9600), kTSErrMissing);
    EXPECT_EQ(TSClose(port), kTSNothing);
    size_t count = 0;
    EXPECT_EQ(TSWrite(port, "x", 1, count), kTSErrClosed);
    EXPECT_EQ(TSHostBaud(port, 19200), kTSErrClosed);
    char path[32];
    TSDevicePath("COM12", path, sizeof path);
    EXPECT_STREQ(path, "\\\\.\\COM12");
}

// Wine lists no mapped port through the device manager; the forced probe of
// COM1 to COM16 opens them.
TEST(Win32PortListTest, ForcedProbeFindsTheMappedPortInNumberOrder) {
    const std::string name =
        std::getenv("TARSA_TEST_COMPORT") ? std::getenv("TARSA_TEST_COMPORT") : "";
    TarsaSerial port;
    CommPortEntry entries[kCommPortCapacity];
    size_t count = kCommPortCapacity;
    ASSERT_EQ(CommPortEnum(port, entries, &count, true), kCommPortOk);
    bool found = false;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) {
            EXPECT_LT(entries[i - 1].number, entries[i].number);
        }
        if (name != entries[i].name) continue;
        found = true;
        EXPECT_EQ(std::string(entries[i].description), name + " Communications Port");
    }
    EXPECT_TRUE(found) << name << " is not among " << count << " ports";
}

}  // namespace
}  // namespace tarsa
