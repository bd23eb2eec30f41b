// Settings as a whole, radio settings, clock and data erase against a
// scripted logger on a pty: order, checkpoints, re-login, done masks.
#include "link/logger_settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <map>

#include "link/logger_commands.h"
#include "link/logger_test_support.h"
#include "serial/timing.h"

namespace tarsa {
namespace {

using test::Answer;
using test::Ok;

// A logger that keeps its settings as texts: "set -X value" stores, "get -X"
// answers the stored text. Radio answers carry "OK" before their value.
class TableLogger {
  public:
    std::map<std::string, std::string> values;
    std::string identity = "Talox 2.29";
    std::string silentFor;  // a command that gets no answer
    int silentTimes = 0;    // ... this many times (negative: always)

    std::string operator()(const std::string& m) {
        if (m == silentFor && silentTimes != 0) {
            if (silentTimes > 0) --silentTimes;
            return "";
        }
        if (m == "get -ver\r") return Answer(identity);
        if (m == "yes\r") return Ok();
        const std::string line = m.substr(0, m.size() - 1);
        if (line.rfind("get ", 0) == 0) {
            auto it = values.find(line.substr(4));
            if (it == values.end()) return Answer("Unsupported");
            const bool radio = it->first == "-rver" || it->first == "-rch" || it->first == "-rsch";
            return Answer(radio ? "OK\r" + it->second : it->second);
        }
        if (line.rfind("set ", 0) == 0) {
            const size_t space = line.find(' ', 4);
            const std::string key =
                line.substr(4, space == std::string::npos ? std::string::npos : space - 4);
            values[key] = space == std::string::npos ? "" : line.substr(space + 1);
            return Ok();
        }
        return Answer("Unsupported");
    }
};

std::map<std::string, std::string> TaloxSettings() {
    return {{"-i", "NORTH01"},
            {"-devid", "D42"},
            {"-report", "2"},
            {"-depth", "10 20 30 40 50"},
            {"-lat", "+46.50000"},
            {"-long", "-7.25000"},
            {"-tz", "4"},
            {"-site", "North field"},
            {"-sn", "TX-000123"},
            {"-w", "900"},
            {"-padc", "60"},
            {"-ports", "1 2 3 4 5"},
            {"-trait", "246"},  // (255 - 246) | 0x4000: radio and cellular modems
            {"-r", "3"},
            {"-rver", "1A2B"},
            {"-rch", "5"},
            {"-rsch", "1F"},
            {"-data", "11"},
            {"-build", "B2024-07"},
            {"-adc30", "101 201 102 202 103 203 104 204 105 205 250"},
            {"-adc15", "11 21 12 22 13 23 14 24 15 25 180"},
            {"-apn", "internet.example"},
            {"-user", "fielduser"},
            {"-passwd", "s3cret"},
            {"-authkey", "0123456789ABCDEF0123456789ABCDEF"},
            {"-host", "data.example.org"},
            {"-ipport", "8080"}};
}

constexpr uint32_t kAllSettings = 0x0FFFFFFF;

class SettingsTest : public test::LoggerLinkTest {
  protected:
    void SetUp() override {
        test::LoggerLinkTest::SetUp();
        logger_.values = TaloxSettings();
        Script([this](const std::string& m) { return logger_(m); });
        link_->connection.linkKind = kLinkCable;
        link_->connection.baudCode = 2;
    }
    TableLogger logger_;
};

TEST_F(SettingsTest, ReadsEverySettingInOrder) {
    LoggerSettings r;
    uint32_t mask = kAllSettings;
    EXPECT_EQ(DeviceSettings(*link_, &r, &mask, 0), 1);
    EXPECT_EQ(mask, kAllSettings);
    EXPECT_EQ(r.validMask, kAllSettings);
    const std::vector<std::string> order = {
        "get -ver\r",     "get -i\r",     "get -devid\r", "get -report\r", "get -depth\r",
        "get -lat\r",     "get -long\r",  "get -tz\r",    "get -site\r",   "get -sn\r",
        "get -w\r",       "get -padc\r",  "get -ports\r", "get -trait\r",  "get -r\r",
        "get -rver\r",    "get -rch\r",   "get -rsch\r",  "get -data\r",   "get -build\r",
        "get -adc30\r",   "get -adc15\r", "get -apn\r",   "get -user\r",   "get -passwd\r",
        "get -authkey\r", "get -host\r",  "get -ipport\r"};
    EXPECT_EQ(Sent(), order);
    EXPECT_STREQ(r.deviceName, "NORTH01");
    EXPECT_EQ(r.trait, 0x4009u);
    EXPECT_EQ(r.radioChannel, 5);
    EXPECT_EQ(r.radioSubChannel, 31);
    EXPECT_STREQ(r.radioVersion, "1A2B");
    EXPECT_EQ(r.adc15First[4], 15);
    EXPECT_STREQ(r.authKey, "0123456789ABCDEF0123456789ABCDEF");
    EXPECT_EQ(r.ipPort, 8080);
    EXPECT_EQ(r.capabilities, 0x5E7FFF7u);
}

TEST_F(SettingsTest, WritesWhatWasReadToAFactoryFreshLogger) {
    LoggerSettings read;
    uint32_t mask = kAllSettings;
    ASSERT_EQ(DeviceSettings(*link_, &read, &mask, 0), 1);

    logger_.values = {{"-trait", "255"}};  // factory defaults: nothing set
    device_->Clear();
    uint32_t writeMask = mask;
    EXPECT_EQ(DeviceSettings(*link_, &read, &writeMask, 1), 1);
    EXPECT_EQ(writeMask, kAllSettings & ~(kSetIdentity | kSetRadioVersion))
        << "the identity and the radio version are not written";
    for (const std::string& m : Sent()) EXPECT_EQ(m.rfind("set ", 0), 0u) << m;

    LoggerSettings back;
    mask = kAllSettings;
    link_->settings = {};
    logger_.values["-rver"] = "1A2B";
    EXPECT_EQ(DeviceSettings(*link_, &back, &mask, 0), 1);
    EXPECT_STREQ(back.deviceName, read.deviceName);
    EXPECT_STREQ(back.deviceId, read.deviceId);
    EXPECT_STREQ(back.site, read.site);
    EXPECT_STREQ(back.serialNumber, read.serialNumber);
    EXPECT_STREQ(back.buildId, read.buildId);
    EXPECT_STREQ(back.apn, read.apn);
    EXPECT_STREQ(back.apnUser, read.apnUser);
    EXPECT_STREQ(back.apnPassword, read.apnPassword);
    EXPECT_STREQ(back.authKey, read.authKey);
    EXPECT_STREQ(back.host, read.host);
    EXPECT_EQ(back.reportMode, read.reportMode);
    EXPECT_EQ(memcmp(back.depths, read.depths, 5), 0);
    EXPECT_EQ(memcmp(back.ports, read.ports, 5), 0);
    EXPECT_DOUBLE_EQ(back.latitude, read.latitude);
    EXPECT_DOUBLE_EQ(back.longitude, read.longitude);
    EXPECT_EQ(back.timeZone, read.timeZone);
    EXPECT_EQ(back.measurementInterval, read.measurementInterval);
    EXPECT_EQ(back.padc, read.padc);
    EXPECT_EQ(back.trait, read.trait);
    EXPECT_EQ(back.radioMode, read.radioMode);
    EXPECT_EQ(back.radioChannel, read.radioChannel);
    EXPECT_EQ(back.radioSubChannel, read.radioSubChannel);
    EXPECT_EQ(back.dataParameter, read.dataParameter);
    EXPECT_EQ(memcmp(back.adc30First, read.adc30First, 5), 0);
    EXPECT_EQ(memcmp(back.adc30Second, read.adc30Second, 5), 0);
    EXPECT_EQ(memcmp(back.adc15First, read.adc15First, 5), 0);
    EXPECT_EQ(memcmp(back.adc15Second, read.adc15Second, 5), 0);
    EXPECT_EQ(back.ipPort, read.ipPort);
}

TEST_F(SettingsTest, WritingKeepsTheConnectedDevicesIdentityForTheGates) {
    // A record from an older Talox (no site group) written to a 2.29.
    Identify(kDevTypeTalox, 229);
    LoggerSettings old = link_->settings;
    old.capabilities = CapabilitiesFor(kDevTypeTalox, 150, true);
    old.versionNumber = 150;
    strcpy(old.site, "Kept");
    uint32_t mask = kSetSite;
    EXPECT_EQ(DeviceSettings(*link_, &old, &mask, 1), 1);
    EXPECT_EQ(mask, kSetSite);
    EXPECT_EQ(link_->settings.versionNumber, 229);
    EXPECT_EQ(logger_.values["-site"], "Kept");
}

TEST_F(SettingsTest, EmptyAndFailingRequests) {
    Identify(kDevTypeTalox, 229);
    LoggerSettings r;
    uint32_t mask = 0;
    EXPECT_EQ(DeviceSettings(*link_, &r, &mask, 0), 1);
    EXPECT_EQ(mask, kSetIdentity) << "a known identity counts as done";
    mask = 0;
    EXPECT_EQ(DeviceSettings(*link_, &r, &mask, 1), 1);
    EXPECT_EQ(mask, 0u);
    EXPECT_TRUE(Sent().empty());

    EXPECT_EQ(DeviceSettings(*link_, nullptr, &mask, 0), kDCMissingArgument);
    EXPECT_EQ(DeviceSettings(*link_, &r, &mask, 2), kDCOutOfRange);

    // A Talob has no position: both fail, nothing succeeds.
    Identify(kDevTypeTalob, 204);
    r = link_->settings;
    mask = kSetLatitude | kSetLongitude;
    EXPECT_LT(DeviceSettings(*link_, &r, &mask, 1), 0);
    EXPECT_EQ(mask, 0u);
}

TEST_F(SettingsTest, RadioGroupWithoutARadioFails) {
    Identify(kDevTypeTalox, 229);
    logger_.values["-trait"] = "255";
    LoggerSettings r;
    uint32_t mask = kSetRadioGroup;
    EXPECT_EQ(DeviceSettings(*link_, &r, &mask, 0), kDCPartial);
    EXPECT_EQ(mask, kSetIdentity | kSetTrait) << "the trait is read for the radio";
    EXPECT_EQ(Sent(), std::vector<std::string>{"get -trait\r"});
}

TEST_F(SettingsTest, SilentLoggerIsLoggedIntoAgainAndTheSettingRetried) {
    SetTries(2);
    Identify(kDevTypeTalox, 229);
    logger_.silentFor = "get -site\r";
    logger_.silentTimes = 2;  // both tries of one exchange
    LoggerSettings r;
    uint32_t mask = kSetSite | kSetTimeZone;
    EXPECT_EQ(DeviceSettings(*link_, &r, &mask, 0), 1);
    EXPECT_EQ(mask, kSetSite | kSetTimeZone | kSetIdentity);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"get -tz\r", "get -site\r", "get -site\r",
                                                "get -ver\r", "get -site\r"}));
    EXPECT_TRUE(Logged("DeviceSettings re-connected to device"));
    EXPECT_STREQ(r.site, "North field");
}

TEST_F(SettingsTest, LoggerSilentForGoodEndsWithNoAnswer) {
    SetTries(2);
    Identify(kDevTypeTalox, 229);
    logger_.silentFor = "get -site\r";
    logger_.silentTimes = -1;
    LoggerSettings r;
    uint32_t mask = kSetSite | kSetSerialNumber;
    EXPECT_EQ(DeviceSettings(*link_, &r, &mask, 0), kDCNoAnswer);
    EXPECT_EQ(mask, kSetIdentity);
    int siteTries = 0;
    for (const std::string& m : Sent()) siteTries += m == "get -site\r";
    EXPECT_EQ(siteTries, 4) << "two logins in a row, two tries each";
    for (const std::string& m : Sent()) EXPECT_NE(m, "get -sn\r");

    // Over the radio nobody logs in again.
    link_->connection.linkKind = kLinkRadio;
    device_->Clear();
    mask = kSetSite;
    EXPECT_EQ(DeviceSettings(*link_, &r, &mask, 0), kDCNoAnswer);
    EXPECT_EQ(Sent().size(), 2u);
}

TEST_F(SettingsTest, EchoEndsTheWholeRead) {
    Identify(kDevTypeTalox, 229);
    Script([this](const std::string& m) {
        return m == "get -devid\r" ? std::string("get -devid\r\r>") : logger_(m);
    });
    LoggerSettings r;
    uint32_t mask = kSetDeviceId | kSetSite;
    EXPECT_EQ(DeviceSettings(*link_, &r, &mask, 0), kDCEcho);
    EXPECT_EQ(Sent(), std::vector<std::string>{"get -devid\r"});
}

TEST_F(SettingsTest, ProgressHookSeesEachSettingAndMayCancel) {
    Identify(kDevTypeTalox, 229);
    LinkOptions options;
    DeviceOptions(*link_, options, 0);
    options.progress = 1;
    DeviceOptions(*link_, options, 1);
    std::vector<std::pair<uint32_t, int>> calls;
    link_->progressHook = [&](uint32_t total, uint32_t done, int stage) {
        EXPECT_EQ(total, 3u);
        calls.emplace_back(done, stage);
        return !(stage == kStageRunning && done == 1);
    };
    LoggerSettings r;
    uint32_t mask = kSetSite | kSetTimeZone | kSetReportMode;
    EXPECT_EQ(DeviceSettings(*link_, &r, &mask, 0), kDCCancelled);
    EXPECT_EQ(calls, (std::vector<std::pair<uint32_t, int>>{{0, 1}, {1, 1}, {1, 2}}));
    EXPECT_TRUE(Logged("DeviceSettings canceled by user after getting 2 of 3 settings"));
    EXPECT_EQ(Sent(), std::vector<std::string>{"get -report\r"});
}

TEST_F(SettingsTest, OldTaloIdentityComesFromShow) {
    SetTries(1);
    Script([](const std::string& m) {
        if (m == "show\r")
            return Answer("ID: OLDONE\rVersion: 1.70\rRadio: 2\rWake: 300\rResets: 0");
        if (m == "hertz\r") return Answer("20");
        return Answer("Unsupported");
    });
    LoggerSettings r;
    uint32_t mask = kSetName | kSetWake | kSetRadioMode | kSetPadc;
    EXPECT_EQ(DeviceSettings(*link_, &r, &mask, 0), 1);
    EXPECT_EQ(mask, kSetName | kSetWake | kSetRadioMode | kSetPadc | kSetIdentity);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"get -ver\r", "get -ver\r", "show\r", "hertz\r"}));
    EXPECT_STREQ(r.deviceName, "OLDONE");
    EXPECT_EQ(r.measurementInterval, 300);
    EXPECT_EQ(r.radioMode, 2);
    EXPECT_EQ(r.padc, 20);

    // Firmware older than 1.10 is refused. A cable login leaves an old Talo
    // known by its type only.
    link_->settings = {};
    link_->settings.typeCode = kDevTypeTalo;
    Script([](const std::string& m) {
        return m == "show\r" ? Answer("ID: ANCIENT\rVersion: 1.02") : Answer("Unsupported");
    });
    mask = kSetName;
    EXPECT_EQ(DeviceSettings(*link_, &r, &mask, 0), kDCNotSupported);
    EXPECT_TRUE(Logged("DeviceSettings: old Stovar model 007 not supported"));
}

TEST_F(SettingsTest, ClockWithoutSecondsCounterSetsTimeThenDate) {
    Identify(kDevTypeTalox, 229);
    int64_t value = 86400 + 3600 + 60 + 1;  // 2000-01-02 01:01:01
    EXPECT_EQ(DeviceTime(*link_, &value, 1), 1);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"set -t 1:1:1\r", "set -d 2000-1-2\r"}));
    EXPECT_TRUE(Logged("DeviceTime set device time to 1:01:01"));
    EXPECT_TRUE(Logged("DeviceTime set device date to 2000-1-2"));

    device_->Clear();
    value = 0;
    const int64_t before = static_cast<int64_t>(time(nullptr)) + UtcOffsetSeconds() - 946684800;
    EXPECT_EQ(DeviceTime(*link_, &value, 1), 1);
    EXPECT_GE(value, before);
    EXPECT_LE(value, before + 2) << "now is stored back";
    const time_t shifted = static_cast<time_t>(value + 946684800);
    struct tm f {};
    gmtime_r(&shifted, &f);
    char date[64];
    snprintf(date, sizeof date, "set -d %d-%d-%d\r", f.tm_year + 1900, f.tm_mon + 1, f.tm_mday);
    EXPECT_EQ(Sent().back(), date);
}

TEST_F(SettingsTest, ClockWithSecondsCounter) {
    Identify(10, 100);  // the reader keeps a seconds counter
    Script([](const std::string& m) {
        if (m == "get -sec\r") return Answer("765432100");
        return Ok();
    });
    int64_t value = 0;
    EXPECT_EQ(DeviceTime(*link_, &value, 1), 1);
    EXPECT_GT(value, 0);
    EXPECT_EQ(Sent(), std::vector<std::string>{"set -sec " + std::to_string(value) + "\r"});

    EXPECT_EQ(DeviceTime(*link_, &value, 0), 1);
    EXPECT_EQ(value, 765432100);

    Script([](const std::string&) { return Answer("4294967295"); });
    EXPECT_EQ(DeviceTime(*link_, &value, 0), kDCBadAnswer);
    EXPECT_EQ(value, -1);
    EXPECT_TRUE(Logged("DeviceTime failed with error -30"));
}

TEST_F(SettingsTest, ClockReadsTheDateAndTimeForm) {
    Identify(kDevTypeTalox, 229);
    struct tm fields {};
    fields.tm_year = 2024 - 1900;
    fields.tm_mon = 4;
    fields.tm_mday = 6;
    fields.tm_hour = 12;
    fields.tm_min = 34;
    fields.tm_sec = 56;
    const int64_t expected = static_cast<int64_t>(timegm(&fields)) - 946684800;

    Script([](const std::string&) { return Answer("Date\\Time: 2024-05-06 12:34:56"); });
    int64_t value = 0;
    EXPECT_EQ(DeviceTime(*link_, &value, 0), 1);
    EXPECT_EQ(value, expected);
    EXPECT_EQ(Sent(), std::vector<std::string>{"get -t\r"});

    Script([](const std::string&) { return Answer("2024-05-06 12:34:56"); });
    EXPECT_EQ(DeviceTime(*link_, &value, 0), 1) << "read from the start without the label";
    EXPECT_EQ(value, expected);

    Script([](const std::string&) { return Answer("Date\\Time: 2024-05-06"); });
    EXPECT_EQ(DeviceTime(*link_, &value, 0), kDCBadAnswer);
    EXPECT_EQ(value, -1);

    Identify(kDevTypeTalo, 170, false);
    Script([](const std::string&) { return Answer("Date\\Time: 2024-05-06 12:34:56"); });
    device_->Clear();
    EXPECT_EQ(DeviceTime(*link_, &value, 0), 1);
    EXPECT_EQ(Sent(), std::vector<std::string>{"time\r"});

    Identify(kDevTypeBrisen, 110);  // no clock
    value = 5;
    EXPECT_EQ(DeviceTime(*link_, &value, 0), -1);
    EXPECT_EQ(value, -1);
}

TEST_F(SettingsTest, EraseChecksTheIdentityFirst) {
    Identify(kDevTypeTalox, 229, true, "NORTH01");
    logger_.values["-i"] = "SOUTH02";
    EXPECT_EQ(EraseData(*link_), kDCIdentityMismatch);
    EXPECT_EQ(Sent(), std::vector<std::string>{"get -i\r"}) << "\"yes\" is not sent";
    EXPECT_TRUE(Logged("EraseData: Identity mismatch. Class: NORTH01, Device: SOUTH02"));

    logger_.values["-i"] = "NORTH01";
    EXPECT_EQ(EraseData(*link_), 1);
    EXPECT_EQ(Sent().back(), "yes\r");
    EXPECT_TRUE(Logged("InitializeDevice erased device data"));

    Script([](const std::string& m) {
        return m == "yes\r" ? Answer("DataFlash FAIL") : Answer("NORTH01");
    });
    EXPECT_EQ(EraseData(*link_), kDCDataFlash);

    SetTries(1);
    Script([](const std::string&) { return std::string("\r\r>"); });
    EXPECT_EQ(EraseData(*link_), kDCIdentityMismatch) << "an empty name answer";
    EXPECT_TRUE(Logged("EraseData failed checking the identity of device (error -36)"));
}

TEST_F(SettingsTest, OldTaloEraseUsesShowAndItsOwnPrompt) {
    Identify(kDevTypeTalo, 170, false, "OLDONE");
    Script([](const std::string& m) {
        if (m == "show\r") return Answer("ID: OLDONE\rVersion: 1.70");
        if (m == "yes\r") return std::string("\rOK, erased!");
        return Answer("Unsupported");
    });
    EXPECT_EQ(EraseData(*link_), 1);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"show\r", "yes\r"}));
}

TEST_F(SettingsTest, RadioSettingsThroughTheLogger) {
    Identify(kDevTypeTalox, 229);
    int32_t channel = 0, sub = 0;
    char version[9] = {};
    uint32_t bits = kSetRadioGroup;
    EXPECT_EQ(MSRadioCommand(*link_, &channel, &sub, version, 0, &bits), 1);
    EXPECT_EQ(bits, kSetRadioGroup);
    EXPECT_EQ(channel, 5);
    EXPECT_EQ(sub, 31);
    EXPECT_STREQ(version, "1A2B");

    device_->Clear();
    channel = 6;
    sub = 0xABC;
    bits = kSetRadioChannel | kSetRadioSubChannel;
    EXPECT_EQ(MSRadioCommand(*link_, &channel, &sub, nullptr, 1, &bits), 1);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"set -rch 6\r", "set -rsch ABC\r"}));

    // A channel outside 0..6 is not a channel.
    SetTries(1);
    logger_.values["-rch"] = "9";
    bits = kSetRadioChannel;
    EXPECT_EQ(MSRadioCommand(*link_, &channel, &sub, nullptr, 0, &bits), kDCBadAnswer);
    EXPECT_EQ(bits, 0u);
    EXPECT_TRUE(Logged("MSRadioCommand could not find rch"));

    // "00..." as the version means no radio.
    logger_.values["-rver"] = "0000";
    bits = kSetRadioGroup;
    EXPECT_EQ(MSRadioCommand(*link_, &channel, &sub, version, 0, &bits), kDCNoRadio);
    EXPECT_EQ(bits, 0u);
    EXPECT_TRUE(Logged("MSRadioCommand couldn't find a radio"));
}

TEST_F(SettingsTest, RadioSettingsOverTheRadioLink) {
    Identify(kDevTypeTalox, 229);
    link_->connection.linkKind = kLinkRadio;
    link_->connection.configureRadio = 1;
    link_->connection.radioChannel = 4;
    link_->connection.radioSubChannel = 77;
    int32_t channel = 0, sub = 0;
    char version[9] = "x";
    uint32_t bits = kSetRadioGroup;
    EXPECT_EQ(MSRadioCommand(*link_, &channel, &sub, version, 0, &bits), 1);
    EXPECT_EQ(bits, 0xC00u);
    EXPECT_EQ(channel, 4);
    EXPECT_EQ(sub, 77);
    EXPECT_STREQ(version, "");
    bits = kSetRadioChannel;
    EXPECT_EQ(MSRadioCommand(*link_, &channel, &sub, nullptr, 1, &bits), kDCNotWritable);
    EXPECT_EQ(bits, 0u);
    EXPECT_TRUE(Sent().empty());
    link_->connection.linkKind = kLinkNone;  // nothing to log out from at the end
}

}  // namespace
}  // namespace tarsa
