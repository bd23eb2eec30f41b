// The simulator's switches that the fault matrix relies on: a cut at the
// n-th command with a given start (power loss or vanished port), a device
// that comes back on a new pty with its state, and the loader disturbances
// that repeat (every n-th block refused, every n-th answer garbled).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "sim/port_client.h"
#include "sim/simulator.h"

namespace {

using tarsa::sim::Cut;
using tarsa::sim::Simulator;
using tarsa::sim::test::PortClient;

std::string Frame(char letter, const std::string& payload) {
    int sum = 46 + letter;
    for (char c : payload) sum += static_cast<signed char>(c);
    char tail[8];
    snprintf(tail, sizeof tail, ".%04X\r", sum % 65535);
    return std::string(1, letter) + payload + tail;
}

// A Talox whose loader takes commands, on an open port.
struct LoaderSession {
    std::unique_ptr<Simulator> sim = Simulator::Start("talox");
    PortClient port;
    bool Open() {
        if (!sim || !port.Open(sim->PortPath())) return false;
        port.Send("boot QUAB\r");
        port.ReadUntil("OK\r", 1000);
        port.Send("\r");
        port.ReadUntil("$", 1000);
        port.Send("P");
        return port.ReadUntil("#", 1000) == "#";
    }
};

class CutSwitch : public ::testing::TestWithParam<Cut::Kind> {};

TEST_P(CutSwitch, FallsOnTheNthMatchingCommandAndTheDeviceComesBackWithItsSettings) {
    tarsa::sim::DeviceConfig config;
    config.settings = {{"site", "Lake 4"}};
    auto sim = Simulator::Start("talox", config);
    ASSERT_TRUE(sim);
    PortClient port;
    ASSERT_TRUE(port.Open(sim->PortPath()));
    sim->SetCut({GetParam(), "get -site", 2, false});

    EXPECT_EQ(port.Ask("get -site\r"), "\rLake 4\r>");
    EXPECT_EQ(port.Ask("get -w\r"), "\r300\r>") << "other commands do not count";
    EXPECT_FALSE(sim->CutDone());
    EXPECT_EQ(port.Ask("get -site\r", 300), "") << "the cut command is not answered";
    EXPECT_TRUE(sim->CutDone());

    if (GetParam() == Cut::Kind::Vanish) {
        port.ReadFor(100);
        EXPECT_TRUE(port.eof) << "the host sees its port go";
        port.Close();
        ASSERT_TRUE(sim->Reconnect());
        ASSERT_TRUE(port.Open(sim->PortPath()));
    } else {
        EXPECT_EQ(port.Ask("get -site\r", 300), "") << "the power stays off";
        sim->PowerOn();
    }
    EXPECT_EQ(port.Ask("get -site\r"), "\rLake 4\r>");
    EXPECT_EQ(port.Ask("get -site\r"), "\rLake 4\r>") << "a cut happens once";
    EXPECT_EQ(sim->State(), "application");
}

INSTANTIATE_TEST_SUITE_P(Kinds, CutSwitch,
                         ::testing::Values(Cut::Kind::PowerLoss, Cut::Kind::Vanish));

TEST(CutSwitch, PowerLossAfterAnExecutedLoaderCommandLeavesTheLoaderWaiting) {
    LoaderSession s;
    ASSERT_TRUE(s.Open());
    s.sim->SetCut({Cut::Kind::PowerLoss, "X1300", 1, true});
    s.port.Send(Frame('X', "1300"));
    EXPECT_EQ(s.port.ReadFor(300), "") << "the answer is lost with the power";
    EXPECT_EQ(s.sim->Flash()[0x1200], 0xFF) << "the erase was done";
    EXPECT_EQ(s.sim->State(), "loader waiting");
}

TEST(CutSwitch, RepeatedDisturbancesHitEveryNthLoaderCommandOnce) {
    LoaderSession s;
    ASSERT_TRUE(s.Open());
    s.sim->SetRefuseEveryBlock(3);
    std::string answers;
    for (int i = 0; i < 6; ++i) {
        s.port.Send(Frame('@', "2000"));
        s.port.ReadUntil("\r", 500);
        s.port.Send(Frame('W', "3412"));  // the same data again is accepted
        answers += s.port.ReadUntil("\r", 500);
    }
    EXPECT_EQ(answers, "+\r+\r-\r+\r+\r-\r");

    s.sim->SetRefuseEveryBlock(0);
    s.sim->SetGarbleEveryFrame(2);
    answers.clear();
    for (int i = 0; i < 4; ++i) {
        s.port.Send(Frame('@', "2000"));
        answers += s.port.ReadUntil("\r", 500);
    }
    EXPECT_EQ(answers, "+\r\xAB\r+\r\xAB\r");
}

}  // namespace
