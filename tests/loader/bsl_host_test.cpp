// The loader host's framing, retries and invocation rules, against a scripted
// loader on a real pty. Whole updates against the simulated device are in
// bsl_update_test.cpp.
#include "loader/bsl_host.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "log/tarsa_log.h"
#include "serial/timing.h"
#include "support/scripted_device.h"

namespace tarsa {
namespace {

namespace fs = std::filesystem;
using test::ScriptedDevice;

// Answers every framed command with "+" and a carriage return.
std::string AcceptAll(const std::string& message) {
    if (message == "\r" || message == "P") return "";
    return "+\r";
}

class BSLHostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        logPath_ = (fs::temp_directory_path() /
                    ("tarsa_bsl_" + std::to_string(getpid()) + "_" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt"))
                       .string();
        fs::remove(logPath_);
        log_ = std::make_unique<TarsaLog>(logPath_.c_str(), 30, false);
        host_ = std::make_unique<TarsaBSLHost>(log_.get());
    }
    void TearDown() override {
        host_.reset();
        fs::remove(logPath_);
    }
    // Opens the device's port as the host's own and marks it connected.
    void Attach(ScriptedDevice& device, uint32_t tries = 3) {
        ASSERT_TRUE(device.ok());
        ASSERT_EQ(TSOpen(host_->port, device.PortPath().c_str(), 9600), kTSOk);
        host_->connected = true;
        host_->tries = tries;
    }
    std::string LogText() const {
        std::ifstream in(logPath_, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    static std::vector<std::string> StartingWith(const std::vector<std::string>& messages, char c) {
        std::vector<std::string> out;
        for (const auto& m : messages)
            if (!m.empty() && m[0] == c) out.push_back(m);
        return out;
    }

    std::string logPath_;
    std::unique_ptr<TarsaLog> log_;
    std::unique_ptr<TarsaBSLHost> host_;
};

TEST(BSLChecksumTest, SumsSignedBytesAndWrapsAt65535) {
    EXPECT_EQ(BSLChecksum('g', nullptr, 0), 0x0095);
    // 46 + 'g' + 535 * 'z' + 't' = 65535, which is sent as 0000; one more is 0001.
    std::string payload(535, 'z');
    EXPECT_EQ(BSLChecksum('g', (payload + "t").data(), payload.size() + 1), 0x0000);
    EXPECT_EQ(BSLChecksum('g', (payload + "u").data(), payload.size() + 1), 0x0001);
    const char high[] = {'\xF0'};  // taken as -16
    EXPECT_EQ(BSLChecksum('X', high, 1), 46 + 'X' - 16);
}

TEST_F(BSLHostTest, FramesCarryPayloadChecksumAndCarriageReturn) {
    ScriptedDevice device([](const std::string&) { return std::string("+12+\r"); });
    Attach(device);
    char reply[kBSLReplyChars + 1];
    EXPECT_EQ(BSLCommand(*host_, 'g', nullptr, 0, '\r', reply, nullptr), 5);
    EXPECT_STREQ(reply, "+12+\r");
    const uint32_t values[] = {0x1000, 0xABCDE};
    EXPECT_GT(BSLCommand(*host_, 'X', values, 1, '\r', reply, nullptr, false), 0);
    EXPECT_GT(BSLCommand(*host_, '@', values + 1, 1, '\r', reply, nullptr, true), 0);
    // The most values a frame holds: 128 four-digit or 102 five-digit ones.
    const std::vector<uint32_t> many(128, 0xFFFFF);
    EXPECT_GT(BSLCommand(*host_, 'V', many.data(), 128, '\r', reply, nullptr, false), 0);
    EXPECT_GT(BSLCommand(*host_, 'V', many.data(), 102, '\r', reply, nullptr, true), 0);
    auto sent = device.Messages();
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_EQ(sent[3], "V" + std::string(512, 'F') + ".8C84\r");
    EXPECT_EQ(sent[4].size(), 1u + 510u + 6u);
    EXPECT_EQ(sent[0], "g.0095\r");
    char expected[32];
    snprintf(expected, sizeof expected, "X1000.%04X\r", BSLChecksum('X', "1000", 4));
    EXPECT_EQ(sent[1], expected);
    snprintf(expected, sizeof expected, "@ABCDE.%04X\r", BSLChecksum('@', "ABCDE", 5));
    EXPECT_EQ(sent[2], expected);
}

TEST_F(BSLHostTest, RepliesAreClassifiedByTheirFirstTwoCharacters) {
    std::string answer;
    ScriptedDevice device([&](const std::string&) { return answer; });
    Attach(device);
    char reply[kBSLReplyChars + 1];
    struct Case {
        std::string answer;
        int expected;
    };
    const Case cases[] = {
        {"+\r", 2},
        {"\r+\r", 3},
        {"x+", 2},
        {"?\r", kBSLRejected},
        {"-\r", kBSLRejected},
        {"ERROR\r", kBSLRejected},
    };
    for (const Case& c : cases) {
        answer = c.answer;
        EXPECT_EQ(BSLCommand(*host_, 'g', nullptr, 0, '\r', reply, nullptr), c.expected)
            << "answer " << c.answer;
    }
    EXPECT_EQ(LogText().find("BSLCommand"), std::string::npos) << "a rejection is not logged";

    answer = "";
    uint32_t elapsed = 0;
    EXPECT_EQ(BSLCommand(*host_, 'g', nullptr, 0, '\r', reply, &elapsed), kBSLNoReply);
    EXPECT_GE(elapsed, 1000u);
}

TEST_F(BSLHostTest, BadArgumentsAreRefusedWithoutSending) {
    ScriptedDevice device(AcceptAll);
    char reply[kBSLReplyChars + 1];
    std::string tooLong(513, 'A');
    EXPECT_EQ(BSLCommand(*host_, 'W', tooLong.data(), tooLong.size(), '\r', reply, nullptr),
              kBSLNoReply)
        << "nothing is connected yet";
    Attach(device);
    EXPECT_EQ(BSLCommand(*host_, 'W', tooLong.data(), tooLong.size(), '\r', reply, nullptr),
              kBSLOutOfRange);
    EXPECT_EQ(BSLCommand(*host_, 'X', nullptr, 0, '\r', reply, nullptr), kBSLMissingArgument);
    EXPECT_EQ(BSLCommand(*host_, 'g', nullptr, 0, '\r', nullptr, nullptr), kBSLMissingArgument);
    std::vector<uint32_t> values(129, 0);
    EXPECT_EQ(BSLCommand(*host_, 'V', values.data(), values.size(), '+', reply, nullptr, false),
              kBSLOutOfRange);
    // 128 five-digit values are 640 characters: more than a frame carries.
    EXPECT_EQ(BSLCommand(*host_, 'V', values.data(), 128, '+', reply, nullptr, true),
              kBSLOutOfRange);
    EXPECT_EQ(BSLCommand(*host_, 'V', values.data(), 103, '+', reply, nullptr, true),
              kBSLOutOfRange);
    EXPECT_EQ(BSLEraseFlash(*host_, 0xFA00, 0xFC00, false), kBSLOutOfRange);
    EXPECT_TRUE(device.Messages().empty());
}

TEST_F(BSLHostTest, HandOffBorrowsAndReleaseGivesBackWithoutClosing) {
    char buffer[kReadBufferSize];
    EXPECT_EQ(BSLHandOff(*host_, 5, nullptr, "COM3", true, 0), kBSLOutOfRange);
    EXPECT_NE(LogText().find("BSLHandOff called with some NULL parameters"), std::string::npos);

    ScriptedDevice device(AcceptAll);
    ScriptedDevice ownPort(AcceptAll);
    Attach(ownPort);  // a port the host opened itself: closed by the hand-off
    TarsaSerial owner;
    ASSERT_EQ(TSOpen(owner, device.PortPath().c_str(), 9600), kTSOk);
    EXPECT_EQ(BSLHandOff(*host_, owner.handle, buffer, "ttyUSB0", true, 0), 1);
    TarsaSerial other;
    EXPECT_EQ(TSOpen(other, ownPort.PortPath().c_str(), 9600), kTSOk)
        << "the host's own port was left open and locked";
    TSClose(other);
    EXPECT_EQ(host_->tries, 3u);
    EXPECT_TRUE(host_->connected);
    char reply[kBSLReplyChars + 1];
    EXPECT_GT(BSLCommand(*host_, 'g', nullptr, 0, '\r', reply, nullptr), 0);
    EXPECT_EQ(BSLDisconnect(*host_), 1) << "a borrowed port is released, not closed";
    EXPECT_FALSE(host_->connected);
    size_t written = 0;
    EXPECT_EQ(TSWrite(owner, "x", 1, written), 1) << "the owner's port still works";
    TSClose(owner);

    uint32_t start = TickMs();
    EXPECT_EQ(BSLDisconnect(*host_), 0);
    EXPECT_LT(TickMs() - start, 50u) << "no pause when nothing is connected";
}

TEST_F(BSLHostTest, FlashEraseSkipsTheLoaderAndReportsProgressEveryTenthSegment) {
    ScriptedDevice device(AcceptAll);
    Attach(device);
    host_->progress = true;
    std::vector<std::pair<uint32_t, int>> calls;
    host_->progressHook = [&](uint32_t total, uint32_t done, int phase, char op) {
        EXPECT_EQ(total, 116u) << "(end - first) / 512, rounded down";
        EXPECT_EQ(op, 'X');
        calls.emplace_back(done, phase);
        return true;
    };
    EXPECT_GT(BSLEraseFlash(*host_, 0x1100, 0xF9FF, false), 0);
    auto sent = device.Messages();
    ASSERT_EQ(sent.size(), 117u);
    EXPECT_EQ(sent.front().substr(0, 5), "X1100");
    EXPECT_EQ(sent.back().substr(0, 5), "XF900");
    ASSERT_EQ(calls.size(), 13u);
    for (size_t i = 0; i < 12; ++i) EXPECT_EQ(calls[i], std::make_pair(uint32_t(i * 10), 1));
    EXPECT_EQ(calls.back(), std::make_pair(116u, 2));
    EXPECT_NE(LogText().find("BSLEraseFlash successful: segment 1100 to F9FF"), std::string::npos);
}

TEST_F(BSLHostTest, ExtendedEraseJumpsOverTheLoaderFlashTo10000) {
    ScriptedDevice device(AcceptAll);
    Attach(device);
    EXPECT_GT(BSLEraseFlash(*host_, 0x8000, 0x88000, true), 0);
    auto sent = device.Messages();
    ASSERT_EQ(sent.size(), 61u + 960u);
    EXPECT_EQ(sent[60].substr(0, 6), "X0F800");
    EXPECT_EQ(sent[61].substr(0, 6), "X10000");
    EXPECT_EQ(sent.back().substr(0, 6), "X87E00");
}

TEST_F(BSLHostTest, ProgressHookCanStopTheErase) {
    ScriptedDevice device(AcceptAll);
    Attach(device);
    host_->progress = true;
    host_->progressHook = [](uint32_t, uint32_t done, int phase, char) {
        return phase == 2 || done < 20;
    };
    EXPECT_EQ(BSLEraseFlash(*host_, 0x1100, 0xF9FF, false), kBSLStopped);
    EXPECT_EQ(device.Messages().size(), 20u);
    EXPECT_NE(LogText().find("BSLEraseFlash failed with error -40"), std::string::npos);
}

TEST_F(BSLHostTest, InformationEraseSendsOneCommandPerSegment) {
    ScriptedDevice device(AcceptAll);
    Attach(device);
    EXPECT_GT(BSLEraseINFO(*host_, 0x1000, 2, 128, false), 0);
    auto sent = device.Messages();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].substr(0, 5), "X1000");
    EXPECT_EQ(sent[1].substr(0, 5), "X1080");
    EXPECT_NE(LogText().find("BSLEraseINFO successful: 2 segments @ 1000"), std::string::npos);
}

TEST_F(BSLHostTest, UploadSendsAddressThenBlocksAndShortensAddressesWithoutExtension) {
    ScriptedDevice device(AcceptAll);
    Attach(device);
    host_->image.text = "@0FFC0" + std::string(512, 'A') + "@01200" + std::string(600, 'B');
    host_->image.length = static_cast<uint32_t>(host_->image.text.size());
    EXPECT_GT(BSLSendFirmware(*host_, false), 0);
    auto sent = device.Messages();
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_EQ(sent[0].substr(0, 5), "@FFC0");
    EXPECT_EQ(sent[1].substr(0, 513), "W" + std::string(512, 'A'));
    EXPECT_EQ(sent[2].substr(0, 5), "@1200");
    EXPECT_EQ(sent[3].substr(0, 513), "W" + std::string(512, 'B'));
    EXPECT_EQ(sent[4].substr(0, 89), "W" + std::string(88, 'B'));
}

TEST_F(BSLHostTest, RefusedBlockIsReaddressedAndSentAgain) {
    int blocks = 0;
    ScriptedDevice device([&](const std::string& m) -> std::string {
        if (m[0] == 'W' && ++blocks == 2) return "-\r";
        return "+\r";
    });
    Attach(device);
    host_->image.text = "@02000" + std::string(1024, 'C');
    host_->image.length = static_cast<uint32_t>(host_->image.text.size());
    EXPECT_GT(BSLSendFirmware(*host_, false), 0);
    std::vector<std::string> heads;
    for (const auto& m : device.Messages()) heads.push_back(m.substr(0, 5));
    EXPECT_EQ(heads, (std::vector<std::string>{"@2000", "WCCCC", "WCCCC", "@2100", "WCCCC"}));
}

TEST_F(BSLHostTest, UploadRefusesAMissingOrMalformedImage) {
    ScriptedDevice device(AcceptAll);
    Attach(device);
    host_->image.text.clear();
    EXPECT_EQ(BSLSendFirmware(*host_, false), kBSLMissingArgument);
    host_->image.text = "0120012345678";
    EXPECT_EQ(BSLSendFirmware(*host_, false), kBSLOutOfRange);
    host_->image.text = "@01";
    EXPECT_EQ(BSLSendFirmware(*host_, false), kBSLOutOfRange);
    host_->image.text = "@0G200ABCD";
    EXPECT_EQ(BSLSendFirmware(*host_, true), kBSLOutOfRange);
    EXPECT_TRUE(device.Messages().empty());
}

TEST_F(BSLHostTest, VectorsTravelAsSixtyFourDigitsAndWaitForPlus) {
    ScriptedDevice device([](const std::string& m) { return m[0] == 'V' ? "+" : "?\r"; });
    Attach(device);
    for (size_t i = 0; i < kVectorCount; ++i) host_->image.vectors[i] = 0x1240 + i;
    EXPECT_EQ(BSLSendVectors(*host_), 1);
    auto sent = device.Messages();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].size(), 1u + 64u + 6u);
    EXPECT_EQ(sent[0].substr(0, 9), "V12401241");
}

// A device running application firmware whose loader starts on "boot QUAB".
std::string Application(const std::string& m) {
    if (m == "boot QUAB\r") return "\rOK\r>";
    if (m == "\r") return "$";
    if (m == "P") return "#";
    if (m[0] == 'g') return "+7+\r";
    return "";
}

TEST_F(BSLHostTest, ConnectInvokesGreetsAndReadsTheLoaderVersion) {
    ScriptedDevice device(Application);
    ASSERT_TRUE(device.ok());
    EXPECT_EQ(BSLConnect(*host_, device.PortPath().c_str(), 9600, true, 3), 7);
    EXPECT_EQ(host_->loaderVersion, 7);
    EXPECT_TRUE(host_->connected);
    EXPECT_EQ(device.Messages(), (std::vector<std::string>{"boot QUAB\r", "\r", "P", "g.0095\r"}));
    std::string log = LogText();
    EXPECT_NE(log.find("BSLInvocation successful (1 tries)"), std::string::npos);
    EXPECT_NE(log.find("BSLConnect connected to device running TarsaBSL version 7"),
              std::string::npos);
}

TEST_F(BSLHostTest, ConnectWithoutAVersionReplyFailsAndForgetsAnEarlierVersion) {
    std::string versionReply = "+7+\r";
    ScriptedDevice device(
        [&](const std::string& m) { return m[0] == 'g' ? versionReply : Application(m); });
    ASSERT_TRUE(device.ok());
    ASSERT_EQ(BSLConnect(*host_, device.PortPath().c_str(), 9600, false, 2), 7);
    versionReply = "+\r";  // accepted, but it tells no version
    EXPECT_EQ(BSLConnect(*host_, device.PortPath().c_str(), 9600, false, 2), kBSLBadAnswer);
    EXPECT_EQ(host_->loaderVersion, 0);
    EXPECT_FALSE(host_->connected);
    EXPECT_NE(LogText().find("BSLConnect failed to connect to device (error -110)"),
              std::string::npos);
}

TEST_F(BSLHostTest, BootRequestAtAppSpeedGreetingAtLoaderSpeed) {
    ScriptedDevice device(Application);
    ASSERT_TRUE(device.ok());
    EXPECT_EQ(BSLConnect(*host_, device.PortPath().c_str(), 38400, false, 3), 7);
    auto speeds = device.Speeds();
    ASSERT_EQ(speeds.size(), 4u);
    EXPECT_EQ(speeds[0], static_cast<speed_t>(B9600));
    EXPECT_EQ(speeds[1], static_cast<speed_t>(B38400));
    EXPECT_EQ(speeds[3], static_cast<speed_t>(B38400));
}

TEST_F(BSLHostTest, LoaderAlreadyTakingCommandsIsNotGreeted) {
    ScriptedDevice device([](const std::string& m) -> std::string {
        if (m == "boot QUAB\r") return "?\r";
        if (m[0] == 'g') return "+3+\r";
        return "";
    });
    Attach(device);
    EXPECT_EQ(BSLInvocation(*host_, 9600), 1);
    EXPECT_EQ(device.Messages().size(), 1u);
    EXPECT_NE(LogText().find("BSLInvocation found the TarsaBSL already active"), std::string::npos);
}

TEST_F(BSLHostTest, InvocationOutcomesFollowTheApplicationsAnswer) {
    std::string answer;
    ScriptedDevice device([&](const std::string& m) { return m == "boot QUAB\r" ? answer : ""; });
    Attach(device);
    answer = "\rERROR\r>";
    EXPECT_EQ(BSLInvocation(*host_, 9600), kBSLBadAnswer);
    EXPECT_EQ(device.Messages().size(), 3u) << "ERROR is retried tries times";
    answer = "\rTarsaBSL MISSING\r>";
    EXPECT_EQ(BSLInvocation(*host_, 9600), kBSLNoLoader);
    EXPECT_EQ(device.Messages().size(), 4u) << "a missing loader ends at once";
    host_->tries = 0;
    EXPECT_EQ(BSLInvocation(*host_, 9600), kBSLNoAttempt);
}

TEST_F(BSLHostTest, AttachHandlesActiveWaitingAndWrongGreetings) {
    std::string onReturn, onP;
    ScriptedDevice device([&](const std::string& m) {
        return m == "\r" ? onReturn : m == "P" ? onP : std::string();
    });
    Attach(device);
    onReturn = "?\r";
    EXPECT_EQ(BSLAttach(*host_), 1);
    EXPECT_EQ(device.Messages().size(), 1u);

    onReturn = "?";  // no carriage return: go on to the greeting
    onP = "#";
    EXPECT_EQ(BSLAttach(*host_), 1);
    EXPECT_EQ(device.Messages().size(), 3u);

    onReturn = "$";
    onP = "x";
    EXPECT_EQ(BSLAttach(*host_), kBSLBadAnswer);
    EXPECT_EQ(device.Messages().size(), 9u);
}

TEST_F(BSLHostTest, CheckTellsTheLoaderStates) {
    std::string onReturn;
    ScriptedDevice device([&](const std::string& m) { return m == "\r" ? onReturn : ""; });
    ASSERT_TRUE(device.ok());
    onReturn = "$";
    EXPECT_EQ(BSLCheck(*host_, device.PortPath().c_str(), 9600), kBSLWaitingForHost);
    EXPECT_TRUE(host_->connected) << "the check leaves the port open";
    onReturn = "?\r";
    EXPECT_EQ(BSLCheck(*host_, device.PortPath().c_str(), 9600), kBSLAlreadyActive);
    onReturn = "";
    EXPECT_EQ(BSLCheck(*host_, device.PortPath().c_str(), 9600), kBSLNoReply);
    EXPECT_EQ(BSLCheck(*host_, "/dev/tarsa-none", 9600) < 0, true);
}

TEST_F(BSLHostTest, ConnectFailureClosesThePort) {
    ScriptedDevice device([](const std::string& m) -> std::string {
        return m == "boot QUAB\r" ? "\rTarsaBSL MISSING\r>" : "";
    });
    ASSERT_TRUE(device.ok());
    EXPECT_EQ(BSLConnect(*host_, device.PortPath().c_str(), 9600, false, 3), kBSLNoLoader);
    EXPECT_FALSE(host_->connected);
    EXPECT_LT(host_->port.handle, 0);
    EXPECT_NE(LogText().find("BSLConnect failed to connect to device (error -112)"),
              std::string::npos);
    EXPECT_EQ(BSLConnect(*host_, "", 9600, false, 3), kBSLMissingArgument);
}

TEST_F(BSLHostTest, CompiledInImageLoadsCleanly) {
    EXPECT_EQ(host_->constructorError, 0);
    EXPECT_EQ(host_->image.label, "Talox 2.29");
    EXPECT_EQ(host_->image.typeCode, 3);
    EXPECT_EQ(host_->image.length, 113780u);
}

}  // namespace
}  // namespace tarsa
