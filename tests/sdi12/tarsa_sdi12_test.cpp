// SDISendCommand on a real pty against a scripted bus: the bytes on the wire,
// the probe and alternating rounds, the failure codes and answer truncation.
#include "sdi12/tarsa_sdi12.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sdi12/sdi_fixture.h"

namespace tarsa::test {
namespace {

using Texts = std::vector<std::string>;
const char* kIdentity = "013TERREL  7QE   355 A1\r\n";

std::string ProbeOnly(const std::string& c) {
    return c == "?!" ? "0\r\n" : "";
}

TEST_F(SdiTest, AnswerAtOnceIsBreakPauseCommandAndTheFullByteCount) {
    StartTable({{"?I!", kIdentity}});
    char answer[64];
    int length = sizeof answer;
    uint32_t elapsed = 0;
    int rc = SDISendCommand(*sdi_, "?I!", answer, &length, &elapsed);
    EXPECT_EQ(rc, static_cast<int>(strlen(kIdentity)));
    EXPECT_STREQ(answer, kIdentity);
    EXPECT_EQ(length, rc);
    EXPECT_EQ(bus_->Raw(), "|?I!");
    auto events = bus_->Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_GE(events[1].atMs - events[0].atMs, 170);
    EXPECT_GE(elapsed, 170u);
    EXPECT_TRUE(Logged("SDISendCommand sent \"?I!\""));
    EXPECT_NE(LogText().find(std::string("SDISendCommand received \"") + kIdentity + "\""),
              std::string::npos);
}

TEST_F(SdiTest, SilentSensorOffTheBusGivesUpAfterOneAttemptAndOneProbe) {
    StartTable({});
    char answer[16] = "stale";
    int length = sizeof answer;
    EXPECT_EQ(SDISendCommand(*sdi_, "?I!", answer, &length, nullptr), kSDINoAnswer);
    EXPECT_EQ(bus_->Messages(), (Texts{"|", "?I!", "|", "|", "|", "?!"}));
    EXPECT_STREQ(answer, "");
    EXPECT_EQ(length, 0);
    auto e = bus_->Events();
    EXPECT_GE(e[2].atMs - e[1].atMs, 290);  // the whole answer wait came first
    EXPECT_GE(e[3].atMs - e[2].atMs, 25);   // probe breaks 30 ms apart
    EXPECT_GE(e[5].atMs - e[4].atMs, 25);
}

TEST_F(SdiTest, SensorAnsweringOnlyTheProbeGivesProbeOnlyAfterFiveAlternatingRounds) {
    Start(ProbeOnly);
    EXPECT_EQ(SDISendCommand(*sdi_, "?X4!", nullptr, nullptr, nullptr), kSDIProbeOnly);
    const Texts probe = {"|", "|", "|", "?!"};
    Texts expected;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (attempt % 2 == 0) expected.push_back("|");
        expected.push_back("?X4!");
        expected.insert(expected.end(), probe.begin(), probe.end());
    }
    EXPECT_EQ(bus_->Messages(), expected);
}

TEST_F(SdiTest, LateAnswerEndsTheRetriesWithItsByteCount) {
    int asked = 0;
    Start([&asked](const std::string& c) -> std::string {
        if (c == "?!") return "0\r\n";
        return ++asked == 3 ? "0OK\r\n" : "";
    });
    char answer[16];
    int length = sizeof answer;
    EXPECT_EQ(SDISendCommand(*sdi_, "?X5 1!", answer, &length, nullptr), 5);
    EXPECT_STREQ(answer, "0OK\r\n");  // not the probe's answer
    EXPECT_EQ(Commands(), (Texts{"?X5 1!", "?!", "?X5 1!", "?!", "?X5 1!"}));
}

TEST_F(SdiTest, SingleTryThatOnlyTheProbeHearsReturnsZeroBytes) {
    Start(ProbeOnly);
    sdi_->tries = 1;
    char answer[16];
    int length = sizeof answer;
    EXPECT_EQ(SDISendCommand(*sdi_, "?B!", answer, &length, nullptr), 0);
    EXPECT_STREQ(answer, "");
}

TEST_F(SdiTest, LongAnswersAreCutToTheBufferAndTheReplyAndLogged) {
    const std::string longAnswer = "0" + std::string(300, 'x') + "\r\n";
    StartTable({{"?I!", "0123456789\r\n"}, {"?X4!", longAnswer}});
    char answer[6];
    int length = sizeof answer;
    EXPECT_EQ(SDISendCommand(*sdi_, "?I!", answer, &length, nullptr), 12);
    EXPECT_STREQ(answer, "01234");
    EXPECT_EQ(length, 5);
    EXPECT_TRUE(Logged("DeviceCommand got 7 more bytes than expected (?I!)"));

    // Over-long answers stop at the 255 bytes the reply holds.
    char big[400];
    length = sizeof big;
    EXPECT_EQ(SDISendCommand(*sdi_, "?X4!", big, &length, nullptr), 255);
    EXPECT_EQ(std::string(big), longAnswer.substr(0, 255));
    EXPECT_EQ(strlen(sdi_->reply), 255u);
}

TEST_F(SdiTest, PortFailureEndsTheExchangeWithTheSerialCode) {
    StartTable({{"?I!", kIdentity}});
    TSClose(link_->port);
    int length = 10;
    char answer[10];
    EXPECT_EQ(SDISendCommand(*sdi_, "?I!", answer, &length, nullptr), kTSErrClosed);
    EXPECT_EQ(length, 0);
    EXPECT_TRUE(Logged("SDISendCommand got unexpected response (-21) from TCommWrite"));
    EXPECT_EQ(bus_->Raw(), "");

    TarsaSDI12 unlinked(log_.get(), nullptr);
    EXPECT_EQ(SDISendCommand(unlinked, "?I!", nullptr, nullptr, nullptr), kTSErrClosed);
}

}  // namespace
}  // namespace tarsa::test
