// Whole connections against the simulated loggers: every setting of a
// logger with non-default settings is read, written to a second logger of
// the same model fresh from the factory, and read back field by field.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "link/logger_connection.h"
#include "link/logger_settings.h"
#include "link/terrel_protocol.h"
#include "sim/simulator.h"

namespace tarsa {
namespace {

constexpr uint32_t kAllSettings = 0x0FFFFFFF;

struct Connected {
    std::unique_ptr<sim::Simulator> device;
    std::unique_ptr<Terrel_Protocol> link;
    int connectResult = 0;

    Connected(const std::string& model, sim::DeviceConfig config, int8_t baudCode = 2) {
        device = sim::Simulator::Start(model, std::move(config));
        link = std::make_unique<Terrel_Protocol>(nullptr);
        if (!device) return;
        ConnectionRequest request;
        snprintf(request.portName, sizeof request.portName, "%s", device->PortPath().c_str());
        request.linkKind = kLinkCable;
        request.baudCode = baudCode;
        connectResult = ConnectDevice(*link, &request);
    }
};

void ExpectSameSettings(const LoggerSettings& a, const LoggerSettings& b) {
    EXPECT_STREQ(a.deviceName, b.deviceName);
    EXPECT_STREQ(a.deviceId, b.deviceId);
    EXPECT_STREQ(a.serialNumber, b.serialNumber);
    EXPECT_STREQ(a.site, b.site);
    EXPECT_STREQ(a.buildId, b.buildId);
    EXPECT_STREQ(a.radioVersion, b.radioVersion);
    EXPECT_STREQ(a.apn, b.apn);
    EXPECT_STREQ(a.apnUser, b.apnUser);
    EXPECT_STREQ(a.apnPassword, b.apnPassword);
    EXPECT_STREQ(a.authKey, b.authKey);
    EXPECT_STREQ(a.host, b.host);
    EXPECT_EQ(a.trait, b.trait);
    EXPECT_EQ(a.measurementInterval, b.measurementInterval);
    EXPECT_EQ(a.padc, b.padc);
    EXPECT_EQ(a.timeZone, b.timeZone);
    EXPECT_EQ(a.dataParameter, b.dataParameter);
    EXPECT_EQ(a.reportMode, b.reportMode);
    EXPECT_EQ(a.radioMode, b.radioMode);
    EXPECT_EQ(a.radioChannel, b.radioChannel);
    EXPECT_EQ(a.radioSubChannel, b.radioSubChannel);
    EXPECT_EQ(a.ipPort, b.ipPort);
    EXPECT_DOUBLE_EQ(a.latitude, b.latitude);
    EXPECT_DOUBLE_EQ(a.longitude, b.longitude);
    EXPECT_EQ(memcmp(a.ports, b.ports, 5), 0);
    EXPECT_EQ(memcmp(a.depths, b.depths, 5), 0);
    EXPECT_EQ(memcmp(a.adc30First, b.adc30First, 5), 0);
    EXPECT_EQ(memcmp(a.adc30Second, b.adc30Second, 5), 0);
    EXPECT_EQ(memcmp(a.adc15First, b.adc15First, 5), 0);
    EXPECT_EQ(memcmp(a.adc15Second, b.adc15Second, 5), 0);
}

// Reads everything from `source`, writes it to a factory-fresh logger of the
// same model and hardware, reads that back and compares. `expectedDone` is
// what the model can give; `notWritable` what it cannot take back.
void RoundTrip(const std::string& model, sim::DeviceConfig source, uint32_t expectedDone,
               uint32_t notWritable, LoggerSettings* readOut = nullptr) {
    sim::DeviceConfig fresh;
    fresh.version = source.version;
    fresh.radioModem = source.radioModem;
    fresh.cellular = source.cellular;

    Connected a(model, source);
    ASSERT_NE(a.device, nullptr);
    ASSERT_EQ(a.connectResult, 1);
    LoggerSettings read;
    uint32_t mask = kAllSettings;
    const int readResult = DeviceSettings(*a.link, &read, &mask, 0);
    EXPECT_EQ(mask, expectedDone);
    EXPECT_EQ(readResult, expectedDone == kAllSettings ? 1 : kDCPartial)
        << "settings the model lacks are failures of the whole";
    if (readOut) *readOut = read;

    Connected b(model, fresh);
    ASSERT_NE(b.device, nullptr);
    ASSERT_EQ(b.connectResult, 1);
    uint32_t writeMask = mask & ~notWritable;
    EXPECT_EQ(DeviceSettings(*b.link, &read, &writeMask, 1), 1);
    EXPECT_EQ(writeMask, mask & ~(notWritable | kSetIdentity | kSetRadioVersion));

    LoggerSettings back;
    b.link->settings = {};
    uint32_t backMask = kAllSettings;
    DeviceSettings(*b.link, &back, &backMask, 0);
    EXPECT_EQ(backMask, expectedDone);
    ExpectSameSettings(read, back);
}

TEST(LoggerRoundTrip, TaloxWithEverySettingAwayFromItsDefault) {
    sim::DeviceConfig config;
    config.cellular = true;
    config.radioModem = true;
    config.radioChannel = 3;
    config.radioSubChannel = 0x2A;
    config.settings = {{"i", "LAKE4"},
                       {"sn", "TX-000123"},
                       {"devid", "D7"},
                       {"report", "3"},
                       {"depth", "10 20 30 40 255"},
                       {"site", "North shore, pier 2"},
                       {"lat", "46.5"},
                       {"long", "-122.25"},
                       {"tz", "-20"},
                       {"w", "900"},
                       {"padc", "50"},
                       {"ports", "1 0 2 0 3"},
                       {"r", "2"},
                       {"data", "-17"},
                       {"build", "B2291"},
                       {"adc30", "101 201 102 202 103 203 104 204 105 205"},
                       {"adc15", "11 21 12 22 13 23 14 24 15 25"},
                       {"apn", "m2m.example"},
                       {"user", "lake"},
                       {"passwd", "s3cret"},
                       {"authkey", "0123456789abcdef0123456789ABCDEF"},
                       {"host", "data.example.org"},
                       {"ipport", "4001"}};
    LoggerSettings read;
    RoundTrip("talox", config, kAllSettings, 0, &read);
    EXPECT_STREQ(read.site, "North shore, pier 2");
    EXPECT_EQ(read.trait, 0x4009u);
    EXPECT_EQ(read.radioChannel, 3);
    EXPECT_EQ(read.radioSubChannel, 0x2A);
    EXPECT_EQ(read.adc30Second[4], 205);
    EXPECT_STREQ(read.authKey, "0123456789abcdef0123456789ABCDEF");
}

TEST(LoggerRoundTrip, Talob) {
    sim::DeviceConfig config;
    config.settings = {{"i", "TB2"},   {"sn", "TB-77"},        {"w", "120"},
                       {"padc", "25"}, {"ports", "5 4 3 2 1"}, {"build", "B77"}};
    RoundTrip("talob", config,
              kSetName | kSetSerialNumber | kSetIdentity | kSetTrait | kSetWake | kSetPorts |
                  kSetPadc | kSetBuildId,
              kSetTrait);
}

TEST(LoggerRoundTrip, Brisen) {
    sim::DeviceConfig config;
    config.radioChannel = 4;
    config.radioSubChannel = 0x123;
    config.settings = {{"i", "BR9"}, {"sn", "BR-1"}, {"data", "42"}};
    RoundTrip(
        "br", config,
        kSetName | kSetSerialNumber | kSetIdentity | kSetTrait | kSetDataParameter | kSetRadioGroup,
        kSetTrait);
}

TEST(LoggerRoundTrip, TaloWithOldFirmware) {
    sim::DeviceConfig config;
    config.version = "1.70";
    config.radioModem = true;
    config.radioChannel = 2;
    config.radioSubChannel = 0x31;
    config.settings = {{"i", "OLD1"}, {"w", "600"}, {"r", "1"}, {"padc", "30"}};
    RoundTrip(
        "talo", config,
        kSetName | kSetIdentity | kSetWake | kSetRadioMode | kSetPadc | kSetTrait | kSetRadioGroup,
        kSetTrait);
}

TEST(LoggerRoundTrip, TaloxAtAHigherLineSpeed) {
    sim::DeviceConfig config;
    config.settings = {{"site", "Fast"}};
    Connected c("talox", config, 6);
    ASSERT_NE(c.device, nullptr);
    ASSERT_EQ(c.connectResult, 1);
    EXPECT_EQ(c.link->port.baud, 115200u);
    LoggerSettings r;
    uint32_t mask = kSetSite;
    EXPECT_EQ(DeviceSettings(*c.link, &r, &mask, 0), 1);
    EXPECT_STREQ(r.site, "Fast");
    EXPECT_EQ(DisconnectDevice(*c.link, 0), 1);
    EXPECT_NE(c.device->Received().find("set -baud 0\r"), std::string::npos);
}

TEST(LoggerRoundTrip, ClockAndEraseOnASimulatedTalox) {
    Connected c("talox", {});
    ASSERT_EQ(c.connectResult, 1);
    int64_t now = 0;
    ASSERT_EQ(DeviceTime(*c.link, &now, 1), 1);
    int64_t clock = 0;
    ASSERT_EQ(DeviceTime(*c.link, &clock, 0), 1);
    EXPECT_GE(clock, now);
    EXPECT_LE(clock, now + 3);

    LoggerSettings r;
    uint32_t mask = kSetName;
    ASSERT_EQ(DeviceSettings(*c.link, &r, &mask, 0), 1);
    EXPECT_EQ(EraseData(*c.link), 1);
    strcpy(c.link->settings.deviceName, "OTHER");
    const size_t before = c.device->Received().size();
    EXPECT_EQ(EraseData(*c.link), kDCIdentityMismatch);
    EXPECT_EQ(c.device->Received().substr(before), "get -i\r");
}

sim::DeviceConfig RadioLinkWith(int wakeCarriageReturns) {
    sim::RadioStation station;
    station.device = "talox";
    station.config.radioModem = true;
    station.config.radioChannel = 3;
    station.config.radioSubChannel = 0x20;
    station.config.wakeCarriageReturns = wakeCarriageReturns;
    station.config.settings = {{"i", "RADIO1"}, {"site", "Far hill"}};
    sim::DeviceConfig modem;
    modem.stations.push_back(station);
    return modem;
}

ConnectionRequest RadioRequest(const sim::Simulator& device, const char* name) {
    ConnectionRequest request;
    snprintf(request.portName, sizeof request.portName, "%s", device.PortPath().c_str());
    request.linkKind = kLinkRadio;
    snprintf(request.deviceName, sizeof request.deviceName, "%s", name);
    request.configureRadio = 1;
    request.radioChannel = 3;
    request.radioSubChannel = 0x20;
    return request;
}

TEST(LoggerRadio, ModemIsTunedThenTheLoggerFoundByQueryAndLoggedIn) {
    auto device = sim::Simulator::Start("zl4", RadioLinkWith(1));
    ASSERT_NE(device, nullptr);
    Terrel_Protocol link(nullptr);
    ConnectionRequest request = RadioRequest(*device, "");
    ASSERT_EQ(ConnectDevice(link, &request), 1);
    EXPECT_STREQ(request.deviceName, "RADIO1");
    EXPECT_EQ(device->Settings()["rch"], "3") << "the modem was tuned to the logger";

    LoggerSettings r;
    uint32_t mask = kSetSite | kSetRadioGroup;
    EXPECT_EQ(DeviceSettings(link, &r, &mask, 0), 1);
    EXPECT_STREQ(r.site, "Far hill");
    EXPECT_EQ(r.trait & kTraitRadio, kTraitRadio);
    EXPECT_EQ(r.radioChannel, 3) << "known from the connection, not asked";
    EXPECT_EQ(r.radioSubChannel, 0x20);
    EXPECT_EQ(mask & kSetRadioGroup, kSetRadioChannel | kSetRadioSubChannel);

    EXPECT_EQ(DisconnectDevice(link, 0), 1) << "the logger is asleep after its logout";
}

TEST(LoggerRadio, ModemSettingsAreReadInCommandMode) {
    auto device = sim::Simulator::Start("zl4", RadioLinkWith(1));
    ASSERT_NE(device, nullptr);
    Terrel_Protocol link(nullptr);
    ASSERT_EQ(TSOpen(link.port, device->PortPath().c_str(), 9600), kTSOk);
    int32_t channel = -1, sub = -1;
    char version[9] = {};
    uint32_t bits = kSetRadioGroup;
    EXPECT_EQ(Zl4Config(link, &channel, &sub, version, 0, &bits), 1);
    EXPECT_EQ(bits, kSetRadioGroup);
    EXPECT_EQ(channel, 1);
    EXPECT_EQ(sub, 0x10);
    EXPECT_STREQ(version, "1046");
}

// Slow (about a minute): a sleeping logger needs the whole wake sequence.
TEST(LoggerRadio, SleepingLoggerIsWokenAndLoggedInByName) {
    auto device = sim::Simulator::Start("zl4", RadioLinkWith(20));
    ASSERT_NE(device, nullptr);
    Terrel_Protocol link(nullptr);
    LinkOptions options;
    DeviceOptions(link, options, 0);
    options.radioTries = 1;
    ASSERT_EQ(DeviceOptions(link, options, 1), kDCOk);
    ConnectionRequest request = RadioRequest(*device, "RADIO1");
    ASSERT_EQ(ConnectDevice(link, &request), 1);
    EXPECT_STREQ(link.settings.deviceName, "RADIO1");
    LoggerSettings r;
    uint32_t mask = kSetSite;
    EXPECT_EQ(DeviceSettings(link, &r, &mask, 0), 1);
    EXPECT_STREQ(r.site, "Far hill");
}

}  // namespace
}  // namespace tarsa
