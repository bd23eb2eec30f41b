// The logger setting commands against a scripted device on a pty: the exact
// commands sent, the read rules, the range checks, the gates and log lines.
#include "link/logger_commands.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "link/logger_test_support.h"
#include "serial/timing.h"

namespace tarsa {
namespace {

using test::Answer;
using test::Ok;

class CommandsTest : public test::LoggerLinkTest {
  protected:
    void SetUp() override {
        test::LoggerLinkTest::SetUp();
        Identify(kDevTypeTalox, 229);
    }
    // Answers "OK" to every set and `reads[command]` to a get.
    void Answers(std::map<std::string, std::string> reads) {
        Script([reads](const std::string& m) -> std::string {
            if (m.rfind("set ", 0) == 0) return Ok();
            auto it = reads.find(m);
            return it == reads.end() ? Answer("Unsupported") : it->second;
        });
    }
};

TEST_F(CommandsTest, WritesSendTheExactCommand) {
    Answers({});
    char name[9] = "SITE42";
    char devid[9] = "DEV7";
    char site[32] = "North field";
    char sn[16] = "SN12345";
    char build[17] = "B-2024.1";
    int32_t report = 3, tz = -20, wake = 600, padc = 50, data = 7, rmode = 2;
    uint8_t depths[5] = {1, 2, 3, 4, 255};
    uint8_t ports[5] = {0, 9, 8, 7, 6};
    double lat = 46.5, lon = -7.25;
    EXPECT_EQ(NameCommand(*link_, name, 1), 1);
    EXPECT_EQ(DeviceIDCommand(*link_, devid, 1), 1);
    EXPECT_EQ(ReportCommand(*link_, &report, 1), 1);
    EXPECT_EQ(DepthCommand(*link_, depths, 1), 1);
    EXPECT_EQ(SiteCommand(*link_, site, 1), 1);
    EXPECT_EQ(LatitudeCommand(*link_, &lat, 1), 1);
    EXPECT_EQ(LongitudeCommand(*link_, &lon, 1), 1);
    EXPECT_EQ(TimeZoneCommand(*link_, &tz, 1), 1);
    EXPECT_EQ(SNCommand(*link_, sn, 1), 1);
    EXPECT_EQ(WakeCommand(*link_, &wake, 1), 1);
    EXPECT_EQ(PADCCommand(*link_, &padc, 1), 1);
    EXPECT_EQ(PortsCommand(*link_, ports, 1), 1);
    EXPECT_EQ(DataParameterCommand(*link_, &data, 1), 1);
    EXPECT_EQ(TarsaBuildCommand(*link_, build, 1), 1);
    EXPECT_EQ(RmodeCommand(*link_, &rmode, 1), 1);
    const std::vector<std::string> expected = {"set -i SITE42\r",
                                               "set -devid DEV7\r",
                                               "set -report 3\r",
                                               "set -depth 1 2 3 4 255\r",
                                               "set -site North field\r",
                                               "set -lat +46.50000\r",
                                               "set -long -7.25000\r",
                                               "set -tz -20\r",
                                               "set -sn SN12345\r",
                                               "set -w 600\r",
                                               "set -padc 50\r",
                                               "set -ports 0 9 8 7 6\r",
                                               "set -data 7\r",
                                               "set -build B-2024.1\r",
                                               "set -r 2\r"};
    EXPECT_EQ(Sent(), expected);
    EXPECT_TRUE(Logged("SiteCommand set site to \"North field\""));
    EXPECT_TRUE(Logged("LatitudeCommand set latitude to +46.50000"));
}

TEST_F(CommandsTest, ReadsFollowTheirRules) {
    Answers({{"get -i\r", Answer("LOGGER01")},
             {"get -devid\r", Answer("DEV7")},
             {"get -report\r", Answer(" 3")},
             {"get -depth\r", Answer("1 2 3 400 5")},
             {"get -site\r", Answer("  North field")},
             {"get -lat\r", Answer("-33.12345")},
             {"get -long\r", Answer("+151.5")},
             {"get -tz\r", Answer("-20")},
             {"get -sn\r", Answer("SN 12345")},
             {"get -w\r", Answer("600")},
             {"get -padc\r", Answer("50")},
             {"get -ports\r", Answer("0 9 8 7 6")},
             {"get -data\r", Answer("7")},
             {"get -build\r", Answer("B-2024.1")},
             {"get -r\r", Answer("2")}});
    LoggerSettings r;
    EXPECT_EQ(NameCommand(*link_, r.deviceName, 0), 1);
    EXPECT_EQ(DeviceIDCommand(*link_, r.deviceId, 0), 1);
    EXPECT_EQ(ReportCommand(*link_, &r.reportMode, 0), 1);
    EXPECT_EQ(DepthCommand(*link_, r.depths, 0), 1);
    EXPECT_EQ(SiteCommand(*link_, r.site, 0), 1);
    EXPECT_EQ(LatitudeCommand(*link_, &r.latitude, 0), 1);
    EXPECT_EQ(LongitudeCommand(*link_, &r.longitude, 0), 1);
    EXPECT_EQ(TimeZoneCommand(*link_, &r.timeZone, 0), 1);
    EXPECT_EQ(SNCommand(*link_, r.serialNumber, 0), 1);
    EXPECT_EQ(WakeCommand(*link_, &r.measurementInterval, 0), 1);
    EXPECT_EQ(PADCCommand(*link_, &r.padc, 0), 1);
    EXPECT_EQ(PortsCommand(*link_, r.ports, 0), 1);
    EXPECT_EQ(DataParameterCommand(*link_, &r.dataParameter, 0), 1);
    EXPECT_EQ(TarsaBuildCommand(*link_, r.buildId, 0), 1);
    EXPECT_EQ(RmodeCommand(*link_, &r.radioMode, 0), 1);
    EXPECT_STREQ(r.deviceName, "LOGGER01");
    EXPECT_STREQ(r.deviceId, "DEV7");
    EXPECT_EQ(r.reportMode, 3);
    EXPECT_EQ(std::vector<int>(r.depths, r.depths + 5), (std::vector<int>{1, 2, 3, 255, 5}))
        << "a depth above 255 becomes 255";
    EXPECT_STREQ(r.site, "North field") << "leading white space is skipped, inner kept";
    EXPECT_DOUBLE_EQ(r.latitude, -33.12345);
    EXPECT_DOUBLE_EQ(r.longitude, 151.5);
    EXPECT_EQ(r.timeZone, -20);
    EXPECT_STREQ(r.serialNumber, "SN 12345") << "the serial number is the whole line";
    EXPECT_EQ(r.measurementInterval, 600);
    EXPECT_EQ(r.padc, 50);
    EXPECT_EQ(std::vector<int>(r.ports, r.ports + 5), (std::vector<int>{0, 9, 8, 7, 6}));
    EXPECT_EQ(r.dataParameter, 7);
    EXPECT_STREQ(r.buildId, "B-2024.1");
    EXPECT_EQ(r.radioMode, 2);
}

TEST_F(CommandsTest, TextsAreCutToTheirField) {
    Answers({{"get -site\r", Answer("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123")},
             {"get -i\r", Answer("NINECHARS")},
             {"get -sn\r", Answer("0123456789ABCDEFGH")}});
    LoggerSettings r;
    EXPECT_EQ(SiteCommand(*link_, r.site, 0), 1);
    EXPECT_STREQ(r.site, "ABCDEFGHIJKLMNOPQRSTUVWXY");
    EXPECT_EQ(NameCommand(*link_, r.deviceName, 0), 1);
    EXPECT_STREQ(r.deviceName, "NINECHAR");
    EXPECT_EQ(SNCommand(*link_, r.serialNumber, 0), 1);
    EXPECT_STREQ(r.serialNumber, "0123456789ABCDE");
}

TEST_F(CommandsTest, BadAnswersGiveTheirCodesAndKeepTheField) {
    SetTries(1);
    Answers({{"get -site\r", "\r\r>"},
             {"get -report\r", Answer("none")},
             {"get -depth\r", Answer("1 2 x")},
             {"get -lat\r", Answer("north")},
             {"get -i\r", "\r\r>"},
             {"get -build\r", "\r>"}});
    LoggerSettings r;
    strcpy(r.site, "old");
    r.reportMode = 9;
    r.depths[0] = 77;
    r.latitude = 1.5;
    EXPECT_EQ(SiteCommand(*link_, r.site, 0), kDCEmptyAnswer);
    EXPECT_STREQ(r.site, "old");
    EXPECT_EQ(ReportCommand(*link_, &r.reportMode, 0), kDCBadAnswer);
    EXPECT_EQ(r.reportMode, 9);
    EXPECT_TRUE(Logged("ReportCommand could not find device report mode"));
    EXPECT_TRUE(Logged("ReportCommand failed with error -30"));
    EXPECT_EQ(DepthCommand(*link_, r.depths, 0), kDCBadAnswer);
    EXPECT_EQ(r.depths[0], 77);
    EXPECT_TRUE(Logged("DepthCommand only found 2 of 5 port depths"));
    EXPECT_EQ(LatitudeCommand(*link_, &r.latitude, 0), kDCEmptyAnswer);
    EXPECT_DOUBLE_EQ(r.latitude, 1.5);
    EXPECT_TRUE(Logged("LatitudeCommand could not find device latitude"));
    EXPECT_EQ(NameCommand(*link_, r.deviceName, 0), kDCEmptyName);
    EXPECT_FALSE(Logged("NameCommand failed")) << "an empty name answer is not logged";
    EXPECT_EQ(TarsaBuildCommand(*link_, r.buildId, 0), kDCEmptyAnswer);

    // A write that the device does not confirm.
    Script([](const std::string&) { return Answer("Done"); });
    EXPECT_EQ(SiteCommand(*link_, r.site, 1), kDCBadAnswer);
    EXPECT_TRUE(Logged("SiteCommand failed with error -30"));
}

TEST_F(CommandsTest, SerialNumberReadIsTriedAgainUntilItHasAValue) {
    int asked = 0;
    Script([&asked](const std::string& m) {
        if (m != "get -sn\r") return Answer("Unsupported");
        return ++asked < 3 ? std::string("\r\r\r>") : Answer("SN9");
    });
    char sn[16] = {};
    EXPECT_EQ(SNCommand(*link_, sn, 0), 1);
    EXPECT_STREQ(sn, "SN9");
    EXPECT_EQ(asked, 3);

    asked = 0;
    Script([&asked](const std::string&) {
        ++asked;
        return std::string("\r\r\r>");
    });
    EXPECT_EQ(SNCommand(*link_, sn, 0), kDCBadAnswer);
    EXPECT_EQ(asked, 3) << "tried as often as the link's tries";
}

TEST_F(CommandsTest, LatitudeZeroClearsAndTimeZoneMinusTwoTakesTheComputersOffset) {
    Answers({});
    double zero = 0.0;
    EXPECT_EQ(LatitudeCommand(*link_, &zero, 1), 1);
    EXPECT_EQ(LongitudeCommand(*link_, &zero, 1), 1);
    int32_t tz = -2;
    EXPECT_EQ(TimeZoneCommand(*link_, &tz, 1), 1);
    const int32_t expected = UtcOffsetSeconds() / 900;
    EXPECT_EQ(tz, expected) << "the offset is stored back";
    EXPECT_EQ(Sent(), (std::vector<std::string>{"set -lat \r", "set -long \r",
                                                "set -tz " + std::to_string(expected) + "\r"}));
    EXPECT_EQ(TimeZoneCommand(*link_, nullptr, 1), kDCMissingArgument);
}

TEST_F(CommandsTest, RangeChecksSendNothing) {
    Answers({});
    int32_t negative = -5;
    EXPECT_EQ(WakeCommand(*link_, &negative, 1), kDCOutOfRange);
    EXPECT_EQ(PADCCommand(*link_, &negative, 1), kDCOutOfRange);
    char reserved[9] = "show";
    EXPECT_EQ(NameCommand(*link_, reserved, 1), kDCNameReserved);
    EXPECT_TRUE(Logged("NameCommand: \"show\" is an illegal device name (error -52)"));
    char spaced[9] = "a b";
    EXPECT_EQ(NameCommand(*link_, spaced, 1), kDCNameBadChar);
    uint8_t a[5] = {1, 1, 1, 1, 1}, b[5] = {1, 1, 1, 1, 1};
    EXPECT_EQ(ADCcalCommand(*link_, 3, a, b, 1), kDCOutOfRange);
    EXPECT_EQ(ADCcalCommand(*link_, 1, nullptr, b, 1), kDCMissingArgument);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(CommandsTest, GatesReturnMinusOneAndSendNothing) {
    // A Talob 2.00 has neither the site group nor position nor ADC calibration.
    Identify(kDevTypeTalob, 200);
    Answers({});
    LoggerSettings r;
    memset(r.depths, 7, 5);
    EXPECT_EQ(DeviceIDCommand(*link_, r.deviceId, 0), -1);
    EXPECT_EQ(ReportCommand(*link_, &r.reportMode, 1), -1);
    EXPECT_EQ(DepthCommand(*link_, r.depths, 0), -1);
    EXPECT_EQ(std::vector<int>(r.depths, r.depths + 5), std::vector<int>(5, 255));
    EXPECT_EQ(SiteCommand(*link_, r.site, 1), -1);
    EXPECT_EQ(LatitudeCommand(*link_, &r.latitude, 0), -1);
    EXPECT_EQ(LongitudeCommand(*link_, &r.longitude, 1), -1);
    EXPECT_EQ(TimeZoneCommand(*link_, &r.timeZone, 0), -1);
    EXPECT_EQ(ADCcalCommand(*link_, 1, r.adc30First, r.adc30Second, 0), -1);
    EXPECT_EQ(DataParameterCommand(*link_, &r.dataParameter, 0), -1);
    EXPECT_EQ(TarsaBuildCommand(*link_, r.buildId, 0), -1) << "build identifier from 2.04 only";
    EXPECT_EQ(APNCommand(*link_, r.apn, 0), -1);
    EXPECT_EQ(TraitCommand(*link_, &r.trait, 1), kDCNotWritable);

    // A Brisen has no ports, wake or radio mode.
    Identify(kDevTypeBrisen, 110);
    memset(r.ports, 7, 5);
    EXPECT_EQ(PortsCommand(*link_, r.ports, 0), -1);
    EXPECT_EQ(std::vector<int>(r.ports, r.ports + 5), std::vector<int>(5, 0));
    EXPECT_EQ(WakeCommand(*link_, &r.measurementInterval, 0), -1);
    EXPECT_EQ(PADCCommand(*link_, &r.padc, 0), -1);
    EXPECT_EQ(RmodeCommand(*link_, &r.radioMode, 0), -1);

    // Old Talo firmware cannot write its serial number.
    Identify(kDevTypeTalo, 165, false);
    EXPECT_EQ(SNCommand(*link_, r.serialNumber, 1), -1);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(CommandsTest, CellularSettingsNeedACellularTalox) {
    Answers({{"get -apn\r", Answer("internet.example")},
             {"get -user\r", Answer("fielduser")},
             {"get -passwd\r", Answer("s3cret-pass")},
             {"get -authkey\r", Answer("0123456789abcdef0123456789ABCDEF")},
             {"get -host\r", Answer("data.example.org")},
             {"get -ipport\r", Answer("8080")}});
    LoggerSettings r;
    link_->settings.trait = kTraitValid;  // no cellular modem
    EXPECT_EQ(APNCommand(*link_, r.apn, 0), -1);
    EXPECT_TRUE(Sent().empty());

    link_->settings.trait = kTraitValid | kTraitCellular;
    EXPECT_EQ(APNCommand(*link_, r.apn, 0), 1);
    EXPECT_EQ(APNUserCommand(*link_, r.apnUser, 0), 1);
    EXPECT_EQ(APNPasswdCommand(*link_, r.apnPassword, 0), 1);
    EXPECT_EQ(AuthKeyCommand(*link_, r.authKey, 0), 1);
    EXPECT_EQ(HostCommand(*link_, r.host, 0), 1);
    EXPECT_EQ(IPPortCommand(*link_, &r.ipPort, 0), 1);
    EXPECT_STREQ(r.apn, "internet.example");
    EXPECT_STREQ(r.apnUser, "fielduser");
    EXPECT_STREQ(r.apnPassword, "s3cret-pass");
    EXPECT_STREQ(r.authKey, "0123456789abcdef0123456789ABCDEF");
    EXPECT_STREQ(r.host, "data.example.org");
    EXPECT_EQ(r.ipPort, 8080);

    EXPECT_EQ(APNPasswdCommand(*link_, r.apnPassword, 1), 1);
    EXPECT_EQ(AuthKeyCommand(*link_, r.authKey, 1), 1);
    const auto sent = Sent();
    EXPECT_EQ(sent[sent.size() - 2], "set -passwd s3cret-pass\r");
    EXPECT_EQ(sent.back(), "set -authkey 0123456789abcdef0123456789ABCDEF\r");

    // Credentials never reach the log, which goes to the maker with feedback.
    const std::string log = LogText();
    EXPECT_EQ(log.find("s3cret-pass"), std::string::npos);
    EXPECT_EQ(log.find("0123456789abcdef"), std::string::npos);
    EXPECT_TRUE(Logged("APNPasswdCommand found APN password \"****\""));
    EXPECT_TRUE(Logged("AuthKeyCommand set authkey to \"****\""));
    EXPECT_TRUE(Logged("APNCommand found APN \"internet.example\""));
}

TEST_F(CommandsTest, AuthKeyIsCheckedAndFallsBackToTheTeaKey) {
    link_->settings.trait = kTraitValid | kTraitCellular;
    Answers({{"get -teakey\r", Answer("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF0")}});
    char shortKey[33] = "0123456789abcdef0123456789abcde";  // 31 digits
    char badKey[33] = "0123456789abcdef0123456789abcdeg";
    EXPECT_EQ(AuthKeyCommand(*link_, shortKey, 1), kDCOutOfRange);
    EXPECT_EQ(AuthKeyCommand(*link_, badKey, 1), kDCOutOfRange);
    EXPECT_TRUE(Sent().empty());

    SetTries(1);
    char key[33] = {};
    EXPECT_EQ(AuthKeyCommand(*link_, key, 0), 1);
    EXPECT_STREQ(key, "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF0");
    EXPECT_EQ(Sent(), (std::vector<std::string>{"get -authkey\r", "get -teakey\r"}));
    EXPECT_TRUE(Logged("AuthKeyCommand found authkey (as teakey) \"****\""));
}

TEST_F(CommandsTest, TraitIsTheComplementOfTheStoredByte) {
    Answers({{"get -trait\r", Answer("253")}});
    uint32_t trait = 0;
    EXPECT_EQ(TraitCommand(*link_, &trait, 0), 1);
    EXPECT_EQ(trait, 0x4002u);
    EXPECT_EQ(TraitCommand(*link_, &trait, 1), 1);
    EXPECT_EQ(Sent().back(), "set -trait 253\r");

    Answers({{"get -trait\r", Answer("300")}});
    EXPECT_EQ(TraitCommand(*link_, &trait, 0), kDCBadAnswer) << "not a byte";
    EXPECT_EQ(trait, 0x4002u);

    Identify(kDevTypeBrisen, 110);
    EXPECT_EQ(TraitCommand(*link_, &trait, 0), 1);
    EXPECT_EQ(trait, 0x4001u);
    EXPECT_TRUE(Logged("TraitCommand: set trait to 16385 for Brisen"));
}

TEST_F(CommandsTest, TraitOfALoggerThatDoesNotStoreItIsEmulated) {
    // A Talo with new firmware may carry a radio modem but has no trait.
    Identify(kDevTypeTalo, 200);
    uint32_t trait = 0;
    Answers({{"get -rver\r", Answer("OK\r1A2B")}});
    EXPECT_EQ(TraitCommand(*link_, &trait, 0), 1);
    EXPECT_EQ(trait, 0x4001u) << "the radio answered its version";
    EXPECT_EQ(Sent(), std::vector<std::string>{"get -rver\r"});

    Answers({{"get -rver\r", Answer("No Radio")}});
    EXPECT_EQ(TraitCommand(*link_, &trait, 0), 1);
    EXPECT_EQ(trait, 0x4000u);

    link_->connection.linkKind = kLinkRadio;
    device_->Clear();
    EXPECT_EQ(TraitCommand(*link_, &trait, 0), 1);
    EXPECT_EQ(trait, 0x4001u) << "over the radio a modem must be there";
    EXPECT_TRUE(Sent().empty());
}

TEST_F(CommandsTest, AdcFactorsAreReadWholeAndChecked) {
    // Eleven three-digit numbers are longer than 32 bytes: all of them count.
    Answers({{"get -adc30\r", Answer("101 201 102 202 103 203 104 204 105 205 250")},
             {"get -adc15\r", Answer("1 2 3 4 0 6 7 8 9 10 50")}});
    uint8_t first[5] = {}, second[5] = {};
    ASSERT_EQ((101 + 201 + 102 + 202 + 103 + 203 + 104 + 204 + 105 + 205) % 256, 250);
    EXPECT_EQ(ADCcalCommand(*link_, 1, first, second, 0), 1);
    EXPECT_EQ(std::vector<int>(first, first + 5), (std::vector<int>{101, 102, 103, 104, 105}));
    EXPECT_EQ(std::vector<int>(second, second + 5), (std::vector<int>{201, 202, 203, 204, 205}));
    EXPECT_TRUE(Logged("ADCcalCommand found (valid) -adc30 101 201 102 202"));

    EXPECT_EQ(ADCcalCommand(*link_, 2, first, second, 0), -1) << "a factor of 0 is not valid";
    EXPECT_EQ(first[2], 0);
    EXPECT_TRUE(Logged("ADCcalCommand found (not valid) -adc15"));
    EXPECT_TRUE(Logged("ADCcalCommand (-adc15) failed with error -1"));

    Answers({{"get -adc30\r", Answer("101 201 102 202 103 203 104 204 105 205 251")}});
    EXPECT_EQ(ADCcalCommand(*link_, 1, first, second, 0), -1) << "checksum mismatch";

    Answers({{"get -adc30\r", Answer("101 201 102")}});
    EXPECT_EQ(ADCcalCommand(*link_, 1, first, second, 0), kDCBadAnswer);
    EXPECT_TRUE(Logged("ADCcalCommand only found 3 of 11 cal -adc30 factors"));

    Answers({});
    uint8_t a[5] = {101, 102, 103, 104, 105}, b[5] = {201, 202, 203, 204, 205};
    EXPECT_EQ(ADCcalCommand(*link_, 1, a, b, 1), 1);
    EXPECT_EQ(Sent().back(), "set -adc30 101 201 102 202 103 203 104 204 105 205 250\r");
}

TEST_F(CommandsTest, AdcSinglePairForm) {
    Identify(10, 100);  // the reader keeps its calibration as a single pair
    Answers({{"get -adc15\r", Answer("120 130 250")}});
    uint8_t first[5] = {9, 9, 9, 9, 9}, second[5] = {9, 9, 9, 9, 9};
    EXPECT_EQ(ADCcalCommand(*link_, 2, first, second, 0), 1);
    EXPECT_EQ(first[0], 120);
    EXPECT_EQ(second[0], 130);
    EXPECT_EQ(first[1], 0) << "the single pair is the only factor";
    EXPECT_EQ(ADCcalCommand(*link_, 2, first, second, 1), 1);
    EXPECT_EQ(Sent().back(), "set -adc15 120 130 250\r");
}

TEST_F(CommandsTest, OldTaloFirmwareUsesItsOwnCommandsAndPrompt) {
    Identify(kDevTypeTalo, 170, false);
    Script([](const std::string& m) {
        if (m == "hertz\r") return Answer("25");
        return std::string("\r>");
    });
    int32_t padc = 0;
    EXPECT_EQ(PADCCommand(*link_, &padc, 0), 1);
    EXPECT_EQ(padc, 25);
    padc = 40;
    EXPECT_EQ(PADCCommand(*link_, &padc, 1), 1) << "confirmed by the prompt";
    int32_t wake = 60;
    EXPECT_EQ(WakeCommand(*link_, &wake, 1), 1);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"hertz\r", "set -p 40\r", "set -w 60\r"}));

    Identify(kDevTypeTalo, 164, false);
    device_->Clear();
    EXPECT_EQ(PADCCommand(*link_, &padc, 0), -1);
    EXPECT_EQ(padc, -1);
    EXPECT_TRUE(Sent().empty());

    // New firmware needs "OK"; a bare prompt does not confirm.
    Identify(kDevTypeTalox, 229);
    EXPECT_EQ(WakeCommand(*link_, &wake, 1), kDCBadAnswer);
}

TEST_F(CommandsTest, Kel7IsAlwaysRadioModeSixteen) {
    Identify(kDevTypeKel7, 100);
    Answers({});
    int32_t mode = 3;
    EXPECT_EQ(RmodeCommand(*link_, &mode, 0), 1);
    EXPECT_EQ(mode, 16);
    mode = 3;
    EXPECT_EQ(RmodeCommand(*link_, &mode, 1), 1);
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(Logged("RmodeCommand found an kel7 that is always mode 16"));
}

TEST_F(CommandsTest, SilentDeviceGivesTheLinkCode) {
    SetTries(1);
    Script(nullptr);
    int32_t mode = 0;
    EXPECT_EQ(ReportCommand(*link_, &mode, 0), kDCNoAnswer);
    EXPECT_TRUE(Logged("ReportCommand failed with error -21"));
}

}  // namespace
}  // namespace tarsa
