// The simulated Zl4 radio modem and the loggers behind it, driven with raw
// bytes: AT command mode, sleeping loggers that wake on carriage returns,
// "query", login by name, logout; and a logger's own modem reached through
// "get -rch" and, on old firmware, "term".
#include <unistd.h>

#include <string>

#include "gtest/gtest.h"
#include "sim/port_client.h"
#include "sim/simulator.h"

namespace tarsa::sim {
namespace {

using test::PortClient;

RadioStation Station(const std::string& name, int channel = 1) {
    RadioStation s;
    s.config.settings["i"] = name;
    s.config.radioChannel = channel;
    s.config.wakeCarriageReturns = 5;
    return s;
}

struct Radio {
    std::unique_ptr<Simulator> sim;
    PortClient port;

    explicit Radio(DeviceConfig config) {
        sim = Simulator::Start("zl4", std::move(config));
        if (sim) port.Open(sim->PortPath());
    }
    bool Ready() const { return sim && port.fd >= 0; }
    // Sends bytes and reads until `until` or 250 ms of waiting (the radio
    // answers within 20 ms).
    std::string Ask(const std::string& bytes, const std::string& until) {
        if (!port.Send(bytes)) return "send failed";
        return port.ReadUntil(until, 250);
    }
    void Wake(int carriageReturns) {
        for (int i = 0; i < carriageReturns; ++i) port.Send("\r");
        port.ReadFor(100);
    }
};

TEST(SimRadio, ModemCommandModeReadsWritesSavesAndLeaves) {
    DeviceConfig config;
    config.radioChannel = 3;
    config.radioSubChannel = 0x1A2B;
    Radio r(config);
    ASSERT_TRUE(r.Ready());
    // In data mode AT commands go to the radio, where nobody answers.
    EXPECT_EQ(r.Ask("ATHP\r", "\r"), "");
    EXPECT_EQ(r.Ask("+++", "K\r"), "OK\r");
    EXPECT_EQ(r.sim->Settings()["mode"], "command");
    EXPECT_EQ(r.Ask("ATHP\r", "\r"), "3\r");
    EXPECT_EQ(r.Ask("ATDT\r", "\r"), "1A2B\r");
    EXPECT_EQ(r.Ask("ATVR\r", "\r"), "1046\r");
    EXPECT_EQ(r.Ask("ATHP5\r", "\r"), "OK\r");
    EXPECT_EQ(r.Ask("ATDTbeef\r", "\r"), "OK\r");
    EXPECT_EQ(r.Ask("ATHP7\r", "\r"), "ERROR\r");
    EXPECT_EQ(r.Ask("ATDT10000\r", "\r"), "ERROR\r");
    EXPECT_EQ(r.Ask("ATXX\r", "\r"), "ERROR\r");
    EXPECT_EQ(r.Ask("hello\r", "\r"), "ERROR\r");
    EXPECT_EQ(r.sim->Settings()["saved_rch"], "3");
    EXPECT_EQ(r.Ask("ATWR\r", "\r"), "OK\r");
    auto s = r.sim->Settings();
    EXPECT_EQ(s["rch"], "5");
    EXPECT_EQ(s["rsch"], "BEEF");
    EXPECT_EQ(s["saved_rch"], "5");
    EXPECT_EQ(s["saved_rsch"], "BEEF");
    EXPECT_EQ(r.Ask("ATCN\r", "\r"), "OK\r");
    EXPECT_EQ(r.sim->Settings()["mode"], "data");
    EXPECT_EQ(r.Ask("ATHP\r", "\r"), "");
    // "+++" followed by more bytes is data, not the escape.
    EXPECT_EQ(r.Ask("+++ATHP\r", "\r"), "");
    EXPECT_EQ(r.sim->Settings()["mode"], "data");
}

TEST(SimRadio, SleepingLoggerWakesOnCarriageReturnsThenAnswersQueryAndLogin) {
    DeviceConfig config;
    config.stations.push_back(Station("STN1"));
    Radio r(config);
    ASSERT_TRUE(r.Ready());
    // Asleep: neither query nor login is heard.
    EXPECT_EQ(r.Ask("\rquery\r", "\r"), "");
    EXPECT_EQ(r.Ask("login STN1\r", ">"), "");
    // Four carriage returns are not enough to wake it, five are.
    r.Wake(3);
    EXPECT_EQ(r.Ask("\rquery\r", "\r"), "");
    r.Wake(5);
    EXPECT_EQ(r.Ask("\rquery\r", "\r"), "STN1\r");
    // Awake but not logged in, other commands get no answer.
    EXPECT_EQ(r.Ask("get -ver\r", ">"), "");
    EXPECT_EQ(r.Ask("login OTHER\r", ">"), "");
    EXPECT_EQ(r.Ask("login STN1\r", ">"), "\rOK\r>");
    EXPECT_EQ(r.Ask("get -ver\r", ">"), "\rTalox 2.29\r>");
    EXPECT_EQ(r.Ask("set -site Ridge\r", ">"), "\rOK\r>");
    EXPECT_EQ(r.sim->StationSettings(0)["site"], "Ridge");
    // Logout ends the session silently and the logger sleeps again.
    EXPECT_EQ(r.Ask("logout\r", ">"), "");
    EXPECT_EQ(r.Ask("login STN1\r", ">"), "");
    EXPECT_EQ(r.Ask("get -ver\r", ">"), "");
}

TEST(SimRadio, OnlyLoggersOnTheModemsChannelHearAndAllOfThemAnswer) {
    DeviceConfig config;
    config.stations = {Station("NEAR1"), Station("FAR2", 4), Station("NEAR3")};
    Radio r(config);
    ASSERT_TRUE(r.Ready());
    r.Wake(5);
    EXPECT_EQ(r.Ask("query\r", "NEAR3\r"), "NEAR1\rNEAR3\r");
    // On channel 4 only the far one hears.
    EXPECT_EQ(r.Ask("+++", "K\r"), "OK\r");
    EXPECT_EQ(r.Ask("ATHP4\r", "\r"), "OK\r");
    EXPECT_EQ(r.Ask("ATCN\r", "\r"), "OK\r");
    EXPECT_EQ(r.Ask("query\r", "\r"), "");
    r.Wake(5);
    EXPECT_EQ(r.Ask("query\r", "\r"), "FAR2\r");
    EXPECT_EQ(r.Ask("login FAR2\r", ">"), "\rOK\r>");
    EXPECT_EQ(r.Ask("get -i\r", ">"), "\rFAR2\r>");
}

TEST(SimRadio, LoggerFallsAsleepAfterItsAwakeTime) {
    DeviceConfig config;
    RadioStation s = Station("NAP");
    s.config.awakeMs = 300;
    config.stations.push_back(s);
    Radio r(config);
    ASSERT_TRUE(r.Ready());
    r.Wake(5);
    EXPECT_EQ(r.Ask("login NAP\r", ">"), "\rOK\r>");
    ::usleep(400'000);
    EXPECT_EQ(r.Ask("get -ver\r", ">"), "");
    EXPECT_EQ(r.Ask("query\r", "\r"), "");
}

TEST(SimRadio, StartRefusesUnknownStations) {
    DeviceConfig config;
    RadioStation s = Station("X");
    s.device = "toaster";
    config.stations.push_back(s);
    EXPECT_EQ(Simulator::Start("zl4", config), nullptr);
    config.stations = {Station("BAD NAME")};
    EXPECT_EQ(Simulator::Start("zl4", config), nullptr);
}

TEST(SimRadio, LoggersOwnModemThroughGetSetAndNoRadio) {
    DeviceConfig config;
    config.radioModem = true;
    config.radioChannel = 2;
    auto sim = Simulator::Start("talox", config);
    ASSERT_TRUE(sim);
    PortClient port;
    ASSERT_TRUE(port.Open(sim->PortPath()));
    EXPECT_EQ(port.Ask("get -rch\r"), "\rOK\r2\r>");
    EXPECT_EQ(port.Ask("get -rsch\r"), "\rOK\r10\r>");
    EXPECT_EQ(port.Ask("get -rver\r"), "\rOK\r1046\r>");
    EXPECT_EQ(port.Ask("set -rch 6\r"), "\rOK\r\rOK\r>");
    EXPECT_EQ(port.Ask("set -rch 7\r"), "\rOK\r\rERROR\r>");
    EXPECT_EQ(port.Ask("set -rsch FFFF\r"), "\rOK\r\rOK\r>");
    EXPECT_EQ(port.Ask("get -rsch\r"), "\rOK\rFFFF\r>");
    EXPECT_EQ(sim->Settings()["rch"], "6");

    auto bare = Simulator::Start("talox");
    ASSERT_TRUE(bare);
    PortClient p2;
    ASSERT_TRUE(p2.Open(bare->PortPath()));
    EXPECT_EQ(p2.Ask("get -rver\r"), "\rNo Radio\r>");
    EXPECT_EQ(p2.Ask("set -rch 1\r"), "\rNo Radio\r>");
}

TEST(SimRadio, OldTaloReachesItsModemThroughTerm) {
    DeviceConfig config;
    config.version = "1.72";
    config.radioModem = true;
    auto sim = Simulator::Start("talo", config);
    ASSERT_TRUE(sim);
    PortClient port;
    ASSERT_TRUE(port.Open(sim->PortPath()));
    ASSERT_TRUE(port.Send("term\r"));
    EXPECT_EQ(port.ReadUntil("TERM\r", 500), "\rTERM\r");
    ASSERT_TRUE(port.Send("+++"));
    EXPECT_EQ(port.ReadUntil("K\r", 500), "OK\r");
    ASSERT_TRUE(port.Send("ATHP3\r"));
    EXPECT_EQ(port.ReadUntil("\r", 500), "OK\r");
    ASSERT_TRUE(port.Send("ATVR\r"));
    EXPECT_EQ(port.ReadUntil("\r", 500), "1046\r");
    ASSERT_TRUE(port.Send("ATCN\r"));
    EXPECT_EQ(port.ReadUntil("\r", 500), "OK\r");
    EXPECT_EQ(port.Ask("term\r"), "\r>");
    EXPECT_EQ(sim->Settings()["rch"], "3");
    EXPECT_EQ(port.Ask("show\r").substr(0, 9), "\rID: TALO");

    // Without a modem "term" is refused and the logger stays itself.
    config.radioModem = false;
    auto bare = Simulator::Start("talo", config);
    ASSERT_TRUE(bare);
    PortClient p2;
    ASSERT_TRUE(p2.Open(bare->PortPath()));
    EXPECT_EQ(p2.Ask("term\r"), "\r?\r>");
}

}  // namespace
}  // namespace tarsa::sim
