// The device command link against a simulated device on a real pty.
#include "link/terrel_protocol.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log/tarsa_log.h"
#include "serial/timing.h"
#include "sim/simulator.h"

namespace tarsa {
namespace {

using sim::Reply;
namespace fs = std::filesystem;

class LinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        logPath_ = (fs::temp_directory_path() /
                    ("tarsa_link_" + std::to_string(getpid()) + "_" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt"))
                       .string();
        fs::remove(logPath_);
        log_ = std::make_unique<TarsaLog>(logPath_.c_str(), 30, false);
        link_ = std::make_unique<Terrel_Protocol>(log_.get());
        device_ = sim::Simulator::Start("talox");
        ASSERT_NE(device_, nullptr);
        ASSERT_EQ(TSOpen(link_->port, device_->PortPath().c_str(), 9600), kTSOk);
    }
    void TearDown() override {
        link_.reset();
        device_.reset();
        fs::remove(logPath_);
    }

    std::string LogText() const {
        std::ifstream in(logPath_, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    // Runs one command with a 32-byte answer buffer.
    int Command(const char* command, std::string* answerOut = nullptr, int* lengthOut = nullptr) {
        char answer[32];
        int length = sizeof answer;
        uint32_t elapsed = 0;
        int rc = DeviceCommand(*link_, command, '>', 400, answer, &length, &elapsed);
        if (answerOut) *answerOut = answer;
        if (lengthOut) *lengthOut = length;
        return rc;
    }

    std::string logPath_;
    std::unique_ptr<TarsaLog> log_;
    std::unique_ptr<Terrel_Protocol> link_;
    std::unique_ptr<sim::Simulator> device_;
};

TEST_F(LinkTest, CommandReturnsTheAnswerAndItsByteCount) {
    std::string answer;
    int length = 0;
    int rc = Command("get -ver\r", &answer, &length);
    EXPECT_EQ(answer, "\rTalox 2.29\r>");
    EXPECT_EQ(rc, static_cast<int>(answer.size()));
    EXPECT_EQ(length, rc);
    EXPECT_EQ(device_->Received(), "get -ver\r");
    EXPECT_EQ(device_->CommandCount(), 1);
}

TEST_F(LinkTest, SilenceInEveryTryIsNoAnswerAndEmptiesTheBuffer) {
    device_->SetSilent(true);
    std::string answer = "junk";
    int length = -1;
    EXPECT_EQ(Command("get -ver\r", &answer, &length), kDCNoAnswer);
    EXPECT_EQ(answer, "");
    EXPECT_EQ(length, 0);
    EXPECT_EQ(device_->Received(), "get -ver\rget -ver\rget -ver\r") << "three tries on a cable";
}

TEST_F(LinkTest, SilentLastTryAfterRejectionsIsLastTrySilent) {
    device_->ScriptReplies({Reply::Reject(), Reply::Reject("Unsupported"), Reply::Silent()});
    EXPECT_EQ(Command("get -ver\r"), kDCLastTrySilent);
    EXPECT_EQ(device_->CommandCount(), 3);
}

TEST_F(LinkTest, RejectionsAreRetriedAndAQuestionMarkAnywhereIsARejection) {
    device_->ScriptReplies({Reply::Raw("\rWhat?\r>"), Reply::Reject()});
    std::string answer;
    EXPECT_GT(Command("get -ver\r", &answer), 0);
    EXPECT_EQ(answer, "\rTalox 2.29\r>");
    EXPECT_EQ(device_->CommandCount(), 3);

    device_->SetReject("Unsupported");
    EXPECT_EQ(Command("get -ver\r"), kDCRejected);
    EXPECT_EQ(device_->CommandCount(), 6);
}

TEST_F(LinkTest, EchoIsNeverRetried) {
    device_->SetEcho(true);
    EXPECT_EQ(Command("get -ver\r"), kDCEcho);
    EXPECT_EQ(device_->Received(), "get -ver\r");
    EXPECT_NE(LogText().find(
                  "DeviceCommand is hearing echoed commands -- device is broken? Relay active?"),
              std::string::npos);
}

TEST_F(LinkTest, BarePromptIsAnEmptyAnswerButCountsAsALogin) {
    device_->ScriptReplies({Reply::BarePrompt()});
    EXPECT_EQ(Command("get -ver\r"), kDCEmptyAnswer);
    EXPECT_NE(LogText().find("DeviceCommand: device returned empty answer"), std::string::npos);

    device_->ScriptReplies({Reply::BarePrompt()});
    EXPECT_EQ(LoginCommand(*link_, "LOGGER1"), kDCOk);
    EXPECT_NE(device_->Received().find("login LOGGER1\r"), std::string::npos);
}

TEST_F(LinkTest, OverlongAnswerIsCutToTheBufferAndTheDropIsLogged) {
    std::string longText = "\r" + std::string(100, 'A') + "\r>";
    device_->ScriptReplies({Reply::Raw(longText)});
    std::string answer;
    int length = 0;
    int rc = Command("get -ver\r", &answer, &length);
    EXPECT_EQ(rc, static_cast<int>(longText.size())) << "the result is still the bytes received";
    EXPECT_EQ(length, 31);
    EXPECT_EQ(answer, longText.substr(0, 31));
    EXPECT_NE(LogText().find("DeviceCommand got 72 more bytes than expected (get -ver\r)"),
              std::string::npos);
}

TEST_F(LinkTest, NullAnswerBufferStillReturnsTheByteCount) {
    int rc = DeviceCommand(*link_, "get -ver\r", '>', 400, nullptr, nullptr, nullptr);
    EXPECT_EQ(rc, static_cast<int>(std::string("\rTalox 2.29\r>").size()));
}

TEST_F(LinkTest, SlowDeviceWithinTheExtraWaitIsHeard) {
    LinkOptions options;
    ASSERT_EQ(DeviceOptions(*link_, options, 0), kDCOk);
    options.serialTries = 1;
    ASSERT_EQ(DeviceOptions(*link_, options, 1), kDCOk);
    device_->SetAnswerDelayMs(700);
    EXPECT_EQ(Command("get -ver\r"), kDCNoAnswer) << "400 ms is too short for a 700 ms device";
    DelayMs(400);  // the late answer arrives and is flushed by the next command

    options.extraWaitMs = 1000;
    ASSERT_EQ(DeviceOptions(*link_, options, 1), kDCOk);
    std::string answer;
    EXPECT_GT(Command("get -ver\r", &answer), 0);
    EXPECT_EQ(answer, "\rTalox 2.29\r>");
    EXPECT_EQ(device_->CommandCount(), 2);
}

TEST_F(LinkTest, DeviceThatVanishesMidExchangeGivesANegativeCode) {
    device_->SetAnswerDelayMs(1000);
    std::thread pull([&] {
        DelayMs(150);
        device_->Vanish();
    });
    uint32_t start = TickMs();
    int rc = Command("get -ver\r");
    pull.join();
    EXPECT_LT(rc, 0);
    EXPECT_LT(TickMs() - start, 3000u) << "no retry loop on a dead port";
    EXPECT_LT(Command("get -ver\r"), 0);
}

TEST_F(LinkTest, TraceSinkSeesWhatWasSentAndReceived) {
    std::vector<std::string> traced;
    link_->traceSink = [&](const char* text) { traced.emplace_back(text); };
    LinkOptions options;
    options.trace = 3;
    ASSERT_EQ(DeviceOptions(*link_, options, 1), kDCOk);
    ASSERT_GT(Command("get -ver\r"), 0);
    ASSERT_EQ(traced.size(), 2u);
    EXPECT_EQ(traced[0], "get -ver\r");
    EXPECT_EQ(traced[1], "\rTalox 2.29\r>");
}

TEST_F(LinkTest, LoginSendsTheNameAndChecksItsLength) {
    EXPECT_EQ(LoginCommand(*link_, "NINECHARS"), kDCNameTooLong);
    EXPECT_EQ(device_->Received(), "") << "nothing is sent for a bad name";
    EXPECT_NE(LogText().find("LoginCommand: Device name NINECHARS is wrong length (9 characters)"),
              std::string::npos);

    device_->ScriptReplies({Reply::Raw("\rOK\r>")});
    EXPECT_EQ(LoginCommand(*link_, nullptr), kDCOk);
    EXPECT_EQ(device_->Received(), "login\r");

    device_->ScriptReplies({Reply::Raw("\rhello")});  // no prompt ever comes
    EXPECT_EQ(LoginCommand(*link_, ""), kDCBadAnswer);
}

TEST_F(LinkTest, QueryLearnsTheNameOfTheLoggerThatAnswers) {
    char name[16] = {};
    EXPECT_EQ(QueryCommand(*link_, name, 0), kDCMissingArgument);
    // "\rquery\r" is an empty line and then "query": the logger stays quiet on
    // the empty line and answers the query with its name.
    device_->ScriptReplies({Reply::Silent(), Reply::Raw("LOGGER01\r")});
    EXPECT_EQ(QueryCommand(*link_, name, 1), kDCOk);
    EXPECT_STREQ(name, "LOGGER01");
    EXPECT_NE(LogText().find("QueryCommand heard from: LOGGER01"), std::string::npos);
}

TEST_F(LinkTest, QueryThatHearsItselfReportsAnActiveRelay) {
    char name[16] = {};
    device_->ScriptReplies({Reply::Silent(), Reply::Raw("\rquery\r")});  // a relay repeats it
    EXPECT_EQ(QueryCommand(*link_, name, 1), kDCRelayActive);
    EXPECT_EQ(device_->CommandCount(), 2) << "an echo ends the query at once";
    EXPECT_NE(LogText().find("QueryCommand is hearing \"query\" -- a relay must be active"),
              std::string::npos);
}

TEST_F(LinkTest, WakeSequenceStopsWhenTheHookCancels) {
    LinkOptions options;
    options.progress = 1;
    ASSERT_EQ(DeviceOptions(*link_, options, 1), kDCOk);
    std::vector<uint32_t> seen;
    link_->progressHook = [&](uint32_t total, uint32_t done, int stage) {
        EXPECT_EQ(total, kWakePackets);
        EXPECT_EQ(stage, kStageRunning);
        seen.push_back(done);
        return done < 36;
    };
    EXPECT_EQ(SendWake(*link_), kDCCancelled);
    EXPECT_EQ(seen, (std::vector<uint32_t>{0, 18, 36}));
    DelayMs(50);
    EXPECT_EQ(device_->Received(), std::string(36, '\r'));
    EXPECT_NE(LogText().find("SendWake canceled by user after sending 36 of 909 packets"),
              std::string::npos);
}

TEST_F(LinkTest, WakeSequenceStopsAtTheFirstFailedWrite) {
    device_->Vanish();  // 909 writes to a pulled cable would take 50 s
    EXPECT_EQ(SendWake(*link_), kTSErrClosed);
    EXPECT_NE(LogText().find("SendWake stopped after 0 of 909 packets (error -21)"),
              std::string::npos);
}

TEST(DeviceOptionsTest, RangesAreCheckedAndZeroTriesTakeTheDefaults) {
    Terrel_Protocol link(nullptr);
    LinkOptions options;
    options.serialTries = 13;
    EXPECT_EQ(DeviceOptions(link, options, 1), kDCOutOfRange);
    options = {};
    options.trace = 4;
    EXPECT_EQ(DeviceOptions(link, options, 1), kDCOutOfRange);
    options = {};
    options.extraWaitMs = 30001;
    EXPECT_EQ(DeviceOptions(link, options, 1), kDCOutOfRange);
    LinkOptions current;
    DeviceOptions(link, current, 0);
    EXPECT_EQ(current.serialTries, 3u) << "a refused record changes nothing";
    EXPECT_EQ(current.extraWaitMs, 0u);

    options = {};
    options.serialTries = 0;
    options.radioTries = 0;
    options.extraWaitMs = 30000;
    EXPECT_EQ(DeviceOptions(link, options, 1), kDCOk);
    DeviceOptions(link, current, 0);
    EXPECT_EQ(current.serialTries, 3u);
    EXPECT_EQ(current.radioTries, 5u);
    EXPECT_EQ(current.extraWaitMs, 30000u);

    options.serialTries = 2;
    options.radioTries = 7;
    DeviceOptions(link, options, 1);
    EXPECT_EQ(link.tries, 2u) << "a cable link uses the serial tries";
    link.connection.linkKind = kLinkRadio;
    DeviceOptions(link, options, 1);
    EXPECT_EQ(link.tries, 7u) << "a radio link uses the radio tries";
}

TEST(CheckDeviceNameTest, ClassifiesNames) {
    struct Case {
        const char* name;
        int expected;
    };
    const Case cases[] = {
        {"LOGGER01", kDCOk},
        {"a1b2c3d4", kDCOk},
        {"query", kDCNameReserved},
        {"OK", kDCNameReserved},
        {"ok", kDCOk},
        {"my dev", kDCNameBadChar},
        {"dev:1", kDCNameBadSymbol},
        {"dev,1", kDCNameBadSymbol},
        {"NINECHARS", kDCNameTooLong},
        {"", kDCNameEmpty},
        {nullptr, kDCNameEmpty},
        {"a\x7f", kDCNameBadChar},
        {"a\xff", kDCNameBadChar},
        {"caf\xe9", kDCNameNonAscii},
        {"tab\tx", kDCNameBadChar},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CheckDeviceName(c.name), c.expected) << (c.name ? c.name : "(null)");
    }
}

}  // namespace
}  // namespace tarsa
