// The simulated data loggers driven with raw bytes from a plain descriptor on
// the pty slave: every setting's get and set, version gating, old firmware,
// clock, data erase, line speed changes and factory defaults after an update.
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "sim/port_client.h"
#include "sim/simulator.h"

namespace tarsa::sim {
namespace {

using test::PortClient;

struct Logger {
    std::unique_ptr<Simulator> sim;
    PortClient port;

    explicit Logger(const std::string& device = "talox", DeviceConfig config = {}) {
        sim = Simulator::Start(device, std::move(config));
        if (sim) port.Open(sim->PortPath());
    }
    bool Ready() const { return sim && port.fd >= 0; }
    std::string Ask(const std::string& line) { return port.Ask(line + "\r"); }
};

DeviceConfig Version(const std::string& version) {
    DeviceConfig config;
    config.version = version;
    return config;
}

// What a new-firmware logger answers when it executed a command.
std::string Said(const std::string& text) {
    return "\r" + text + "\r>";
}

struct SettingCase {
    const char* word;
    const char* value;     // sent with "set -word value"
    const char* readBack;  // what "get -word" prints afterwards
};

// One value per setting of a cellular Talox 2.29, each away from its default.
const SettingCase kTaloxSettings[] = {
    {"i", "LAKE4", "LAKE4"},
    {"sn", "TX-000123", "TX-000123"},
    {"devid", "D7", "D7"},
    {"report", "3", "3"},
    {"depth", "10 20 30 40 255", "10 20 30 40 255"},
    {"site", "North shore, pier 2", "North shore, pier 2"},
    {"lat", "+46.50000", "+46.50000"},
    {"long", "-122.25", "-122.25000"},
    {"tz", "-20", "-20"},
    {"w", "900", "900"},
    {"padc", "50", "50"},
    {"ports", "1 0 2 0 3", "1 0 2 0 3"},
    {"trait", "246", "246"},
    {"r", "2", "2"},
    {"data", "-17", "-17"},
    {"build", "B2291", "B2291"},
    {"apn", "m2m.example", "m2m.example"},
    {"user", "lake", "lake"},
    {"passwd", "s3cret", "s3cret"},
    {"authkey", "0123456789abcdef0123456789ABCDEF", "0123456789abcdef0123456789ABCDEF"},
    {"host", "data.example.org", "data.example.org"},
    {"ipport", "4001", "4001"},
};

TEST(SimLogger, TaloxSetsAndReadsBackEverySetting) {
    DeviceConfig config;
    config.cellular = true;
    Logger l("talox", config);
    ASSERT_TRUE(l.Ready());
    EXPECT_EQ(l.Ask("get -ver"), Said("Talox 2.29"));
    for (const SettingCase& s : kTaloxSettings) {
        SCOPED_TRACE(s.word);
        EXPECT_EQ(l.Ask(std::string("set -") + s.word + " " + s.value), Said("OK"));
        EXPECT_EQ(l.Ask(std::string("get -") + s.word), Said(s.readBack));
        EXPECT_EQ(l.sim->Settings()[s.word], s.readBack);
    }
    // The old name of the key reads the same value.
    EXPECT_EQ(l.Ask("get -teakey"), Said("0123456789abcdef0123456789ABCDEF"));
    // A latitude of nothing clears it.
    EXPECT_EQ(l.Ask("set -lat "), Said("OK"));
    EXPECT_EQ(l.Ask("get -lat"), Said("+0.00000"));
}

TEST(SimLogger, RefusesValuesOutOfRangeAndKeepsTheOldOne) {
    DeviceConfig config;
    config.cellular = true;
    Logger l("talox", config);
    ASSERT_TRUE(l.Ready());
    const SettingCase refused[] = {
        {"i", "TOOLONGNAME", "TALOX"},  // nine characters
        {"i", "A B", "TALOX"},
        {"i", "A:B", "TALOX"},
        {"site", "twenty-six characters long", "Unnamed"},
        {"lat", "+90.00001", "+0.00000"},
        {"lat", "north", "+0.00000"},
        {"long", "-180.5", "+0.00000"},
        {"tz", "57", "0"},
        {"w", "-1", "300"},
        {"depth", "1 2 3 4", "0 0 0 0 0"},
        {"depth", "1 2 3 4 256", "0 0 0 0 0"},
        {"report", "", "0"},
        {"trait", "256", "247"},
        {"ipport", "65536", "5000"},
        {"authkey", "0123456789abcdef0123456789abcde", "00000000000000000000000000000000"},
        {"authkey", "0123456789abcdef0123456789abcdeg", "00000000000000000000000000000000"},
        {"batt", "50", "87"},
    };
    for (const SettingCase& s : refused) {
        SCOPED_TRACE(std::string(s.word) + " " + s.value);
        EXPECT_EQ(l.Ask(std::string("set -") + s.word + " " + s.value), Said("ERROR"));
        EXPECT_EQ(l.Ask(std::string("get -") + s.word), Said(s.readBack));
    }
    EXPECT_EQ(l.Ask("get -nothing"), Said("ERROR"));
    EXPECT_EQ(l.Ask("get -site extra"), Said("ERROR"));
}

TEST(SimLogger, AdcFactorsCarryAChecksum) {
    Logger l;
    ASSERT_TRUE(l.Ready());
    // Ten factors of 128 sum to 1280, 0 modulo 256.
    EXPECT_EQ(l.Ask("get -adc30"), Said("128 128 128 128 128 128 128 128 128 128 0"));
    EXPECT_EQ(l.Ask("set -adc15 100 101 102 103 104 105 106 107 108 109 5"), Said("ERROR"));
    EXPECT_EQ(l.Ask("set -adc15 100 101 102 103 104 105 106 107 108 109 21"), Said("OK"));
    EXPECT_EQ(l.Ask("get -adc15"), Said("100 101 102 103 104 105 106 107 108 109 21"));
    EXPECT_EQ(l.Ask("get -adc30"), Said("128 128 128 128 128 128 128 128 128 128 0"));
    // The reader keeps its calibration as a single pair.
    Logger hd("hd");
    ASSERT_TRUE(hd.Ready());
    EXPECT_EQ(hd.Ask("get -adc30"), Said("128 128 0"));
    EXPECT_EQ(hd.Ask("set -adc30 200 100 44"), Said("OK"));
    EXPECT_EQ(hd.Ask("set -adc30 200 100 45"), Said("ERROR"));
    EXPECT_EQ(hd.Ask("get -adc30"), Said("200 100 44"));
}

TEST(SimLogger, StartsWithConfiguredValuesAndRefusesBadOnes) {
    DeviceConfig config;
    config.settings = {{"site", "Lake 4"},
                       {"depth", "1 2 3 4 5"},
                       {"lat", "12.5"},
                       {"adc30", "1 2 3 4 5 6 7 8 9 10"},
                       {"sn", "X1"}};
    Logger l("talox", config);
    ASSERT_TRUE(l.Ready());
    EXPECT_EQ(l.Ask("get -site"), Said("Lake 4"));
    EXPECT_EQ(l.Ask("get -depth"), Said("1 2 3 4 5"));
    EXPECT_EQ(l.Ask("get -lat"), Said("+12.50000"));
    EXPECT_EQ(l.Ask("get -adc30"), Said("1 2 3 4 5 6 7 8 9 10 55"));
    EXPECT_EQ(l.sim->Settings()["sn"], "X1");

    for (auto bad : std::vector<std::pair<std::string, std::string>>{
             {"nothing", "1"}, {"tz", "99"}, {"teakey", "00"}, {"adc15", "1 2 3"}}) {
        DeviceConfig c;
        c.settings[bad.first] = bad.second;
        EXPECT_EQ(Simulator::Start("talox", c), nullptr) << bad.first;
    }
    EXPECT_EQ(Simulator::Start("talox", Version("two")), nullptr);
}

// Which settings a Talox has at which version.
TEST(SimLogger, TaloxCommandSetFollowsItsVersion) {
    struct Gate {
        const char* version;
        const char* present;
        const char* absent;
    };
    const Gate gates[] = {
        {"1.07", "get -w", "get -trait"},    {"1.08", "get -trait", "get -adc30"},
        {"1.14", "get -adc30", "get -site"}, {"1.14", "get -data", "get -devid"},
        {"1.14", "get -build", "get -tz"},   {"2.00", "get -site", "get -lat"},
        {"2.00", "get -depth", "get -long"}, {"2.02", "get -lat", "get -sec"},
    };
    for (const Gate& g : gates) {
        SCOPED_TRACE(std::string(g.version) + " " + g.present + " / " + g.absent);
        Logger l("talox", Version(g.version));
        ASSERT_TRUE(l.Ready());
        EXPECT_EQ(l.Ask("get -ver"), Said(std::string("Talox ") + g.version));
        std::string present = l.Ask(g.present);
        EXPECT_EQ(present.find("Unsupported"), std::string::npos) << present;
        EXPECT_EQ(present.find("ERROR"), std::string::npos) << present;
        EXPECT_EQ(l.Ask(g.absent), Said("Unsupported"));
    }
    // A Talox 1.10 lacks what a 2.29 has, both reading and writing.
    Logger old("talox", Version("1.10"));
    ASSERT_TRUE(old.Ready());
    EXPECT_EQ(old.Ask("set -site Lake"), Said("Unsupported"));
    EXPECT_EQ(old.Ask("set -adc30 1 1 1 1 1 1 1 1 1 1 10"), Said("Unsupported"));
    EXPECT_EQ(old.Ask("get -trait"), Said("255"));
}

TEST(SimLogger, CellularSettingsNeedTheModemAndOldFirmwareKnowsOnlyTeakey) {
    Logger plain;
    ASSERT_TRUE(plain.Ready());
    EXPECT_EQ(plain.Ask("get -apn"), Said("Unsupported"));
    EXPECT_EQ(plain.Ask("get -trait"), Said("255"));

    DeviceConfig config;
    config.cellular = true;
    config.radioModem = true;
    Logger cell("talox", config);
    ASSERT_TRUE(cell.Ready());
    // Trait byte: 255 less 1 for the radio and 8 for the cellular modem.
    EXPECT_EQ(cell.Ask("get -trait"), Said("246"));
    EXPECT_EQ(cell.Ask("get -apn"), Said("internet"));

    config.version = "1.20";
    Logger early("talox", config);
    ASSERT_TRUE(early.Ready());
    EXPECT_EQ(early.Ask("get -authkey"), Said("Unsupported"));
    EXPECT_EQ(early.Ask("set -teakey 0123456789ABCDEF0123456789ABCDEF"), Said("OK"));
    EXPECT_EQ(early.Ask("get -teakey"), Said("0123456789ABCDEF0123456789ABCDEF"));
}

TEST(SimLogger, OtherModelsHaveTheirOwnSettings) {
    Logger talob("talob");
    ASSERT_TRUE(talob.Ready());
    EXPECT_EQ(talob.Ask("get -ver"), Said("Talob 2.04"));
    EXPECT_EQ(talob.Ask("set -ports 1 2 3 4 5"), Said("OK"));
    EXPECT_EQ(talob.Ask("get -ports"), Said("1 2 3 4 5"));
    EXPECT_EQ(talob.Ask("get -build"), Said("1000"));
    EXPECT_EQ(talob.Ask("get -trait"), Said("Unsupported"));
    EXPECT_EQ(talob.Ask("set -baud 1"), Said("Unsupported"));
    EXPECT_EQ(talob.Ask("get -rch"), Said("Unsupported"));

    Logger br("br");
    ASSERT_TRUE(br.Ready());
    EXPECT_EQ(br.Ask("get -ver"), Said("BR 1.09"));
    EXPECT_EQ(br.Ask("get -data"), Said("0"));
    EXPECT_EQ(br.Ask("get -w"), Said("Unsupported"));
    EXPECT_EQ(br.Ask("get -t"), Said("Unsupported"));
    // A Brisen always carries a radio modem.
    EXPECT_EQ(br.Ask("get -rver"), Said("OK\r1046"));

    Logger kel7("kel7");
    ASSERT_TRUE(kel7.Ready());
    EXPECT_EQ(kel7.Ask("get -ver"), Said("kel7 1.20"));
    EXPECT_EQ(kel7.Ask("get -r"), Said("16"));
    EXPECT_EQ(kel7.Ask("set -r 2"), Said("ERROR"));
    EXPECT_EQ(kel7.Ask("set -r 16"), Said("OK"));
    EXPECT_EQ(kel7.Ask("get -lat"), Said("+0.00000"));

    Logger oxb("oxb");
    ASSERT_TRUE(oxb.Ready());
    EXPECT_EQ(oxb.Ask("get -ver"), Said("OXB 1.05"));
    EXPECT_EQ(oxb.Ask("get -site"), Said("Unnamed"));
    EXPECT_EQ(oxb.Ask("get -rch"), Said("Unsupported"));

    Logger tcd("tcd");
    ASSERT_TRUE(tcd.Ready());
    EXPECT_EQ(tcd.Ask("get -ver"), Said("TCD 1.02"));
    EXPECT_EQ(tcd.Ask("get -w"), Said("Unsupported"));
    EXPECT_EQ(tcd.Ask("get -i"), Said("TCD"));
}

TEST(SimLogger, OldTaloFirmwareSpeaksShowHertzTimeAndBarePrompts) {
    DeviceConfig config = Version("1.72");
    config.settings = {{"i", "OLD1"}, {"w", "600"}, {"r", "3"}, {"resets", "7"}};
    Logger l("talo", config);
    ASSERT_TRUE(l.Ready());
    EXPECT_EQ(l.Ask("get -ver"), Said("?"));
    EXPECT_EQ(l.Ask("get -i"), Said("?"));
    EXPECT_EQ(l.Ask("show"), Said("ID: OLD1\rVersion: 1.72\rRadio: 3\rWake: 600\rResets: 7"));
    EXPECT_EQ(l.Ask("hertz"), Said("60 Hz"));
    // Old firmware confirms a setting with the bare prompt.
    EXPECT_EQ(l.Ask("set -p 50"), "\r>");
    EXPECT_EQ(l.Ask("hertz"), Said("50 Hz"));
    EXPECT_EQ(l.Ask("set -padc 50"), Said("?"));
    EXPECT_EQ(l.Ask("set -i NEW2"), "\r>");
    EXPECT_EQ(l.Ask("set -w 120"), "\r>");
    EXPECT_EQ(l.Ask("set -r 0"), "\r>");
    EXPECT_EQ(l.Ask("set -i BAD NAME"), Said("?"));
    EXPECT_EQ(l.Ask("show"), Said("ID: NEW2\rVersion: 1.72\rRadio: 0\rWake: 120\rResets: 7"));
    EXPECT_EQ(l.Ask("set -t 13:14:15"), "\r>");
    EXPECT_EQ(l.Ask("set -d 2024-02-29"), "\r>");
    std::string time = l.Ask("time");
    EXPECT_EQ(time.rfind("\rDate\\Time: 2024-02-29 13:14:1", 0), 0u) << time;

    // Up to 1.64 there is no PADC at all.
    Logger older("talo", Version("1.64"));
    ASSERT_TRUE(older.Ready());
    EXPECT_EQ(older.Ask("hertz"), Said("?"));
    EXPECT_EQ(older.Ask("set -p 50"), Said("?"));

    // From 2.00 a Talo runs new firmware.
    Logger fresh("talo");
    ASSERT_TRUE(fresh.Ready());
    EXPECT_EQ(fresh.Ask("get -ver"), Said("Talo 3.02"));
    EXPECT_EQ(fresh.Ask("show"), Said("Unsupported"));
    EXPECT_EQ(fresh.Ask("get -padc"), Said("60"));
}

TEST(SimLogger, ClockInBothFormsAndItsRange) {
    DeviceConfig config;
    config.settings["clock"] = "0";
    Logger l("talox", config);
    ASSERT_TRUE(l.Ready());
    EXPECT_EQ(l.Ask("get -t"), Said("2000-01-01 00:00:00"));
    EXPECT_EQ(l.Ask("get -sec"), Said("Unsupported"));
    EXPECT_EQ(l.Ask("set -t 23:59:58"), Said("OK"));
    EXPECT_EQ(l.Ask("set -d 2031-12-31"), Said("OK"));
    EXPECT_EQ(l.Ask("get -t").substr(0, 19), "\r2031-12-31 23:59:5");
    EXPECT_EQ(l.Ask("set -t 24:00:00"), Said("ERROR"));
    EXPECT_EQ(l.Ask("set -d 2023-02-29"), Said("ERROR"));
    EXPECT_EQ(l.Ask("set -d 1999-12-31"), Said("ERROR"));
    EXPECT_EQ(l.Ask("set -d 2024-2-29"), Said("OK"));

    // The reader counts seconds since 2000.
    Logger hd("hd");
    ASSERT_TRUE(hd.Ready());
    // 2024-02-29 12:00:00 is 8825 days and 12 hours after 2000-01-01.
    EXPECT_EQ(hd.Ask("set -sec 762523200"), Said("OK"));
    EXPECT_EQ(hd.Ask("get -t"), Said("2024-02-29 12:00:00"));
    std::string sec = hd.Ask("get -sec");
    EXPECT_TRUE(sec == Said("762523200") || sec == Said("762523201")) << sec;
    EXPECT_EQ(hd.Ask("set -sec -5"), Said("ERROR"));
}

TEST(SimLogger, YesErasesTheDataUnlessTheDataFlashIsBroken) {
    Logger l;
    ASSERT_TRUE(l.Ready());
    EXPECT_EQ(l.sim->Settings()["records"], "1000");
    EXPECT_EQ(l.Ask("yes"), Said("OK"));
    EXPECT_EQ(l.sim->Settings()["records"], "0");

    DeviceConfig config;
    config.brokenDataFlash = true;
    Logger broken("talox", config);
    ASSERT_TRUE(broken.Ready());
    EXPECT_EQ(broken.Ask("yes"), Said("DataFlash FAIL"));
    EXPECT_EQ(broken.sim->Settings()["records"], "1000");

    // Old firmware ends its answer with "!".
    Logger old("talo", Version("1.72"));
    ASSERT_TRUE(old.Ready());
    EXPECT_EQ(old.Ask("yes"), Said("Data erased OK!"));
}

TEST(SimLogger, SetBaudSwitchesTheDeviceAndAWrongHostSpeedIsNoise) {
    Logger l;
    ASSERT_TRUE(l.Ready());
    EXPECT_EQ(l.Ask("set -baud 7"), Said("ERROR"));
    // The confirmation still comes at 9600, without a prompt.
    ASSERT_TRUE(l.port.Send("set -baud 3\r"));
    EXPECT_EQ(l.port.ReadUntil("OK\r", 1000), "\rOK\r");
    EXPECT_EQ(l.sim->Settings()["baud"], "57600");
    // At the old speed the device hears noise and says nothing.
    EXPECT_EQ(l.port.Ask("get -ver\r", 300), "");
    ASSERT_TRUE(l.port.SetBaud(B57600));
    // The noise is still in its line buffer: the first line is garbage.
    EXPECT_EQ(l.Ask(""), Said("Unsupported"));
    EXPECT_EQ(l.Ask("get -ver"), Said("Talox 2.29"));
    ASSERT_TRUE(l.port.Send("set -baud 0\r"));
    EXPECT_EQ(l.port.ReadUntil("OK\r", 1000), "\rOK\r");
    ASSERT_TRUE(l.port.SetBaud(B9600));
    EXPECT_EQ(l.Ask("get -ver"), Said("Talox 2.29"));
}

// Words of the vectors now in flash, as "V" carries them.
std::string VectorWords(const std::vector<uint8_t>& flash) {
    std::string words;
    for (uint32_t a = 0xFFE0; a < 0x10000; a += 2) {
        char w[8];
        std::snprintf(w, sizeof w, "%02X%02X", flash[a + 1], flash[a]);
        words += w;
    }
    return words;
}

std::string Frame(char letter, const std::string& payload) {
    int sum = 46 + letter;
    for (char c : payload) sum += static_cast<signed char>(c);
    char tail[16];
    std::snprintf(tail, sizeof tail, ".%04X\r", sum % 65535);
    return std::string(1, letter) + payload + tail;
}

TEST(SimLogger, FirmwareUpdateBringsBackFactorySettingsButKeepsTheSerialNumber) {
    DeviceConfig config;
    config.radioModem = true;
    config.settings = {{"site", "Lake 4"}, {"sn", "X77"}, {"w", "60"}, {"i", "LAKE4"}};
    Logger l("talox", config);
    ASSERT_TRUE(l.Ready());
    EXPECT_EQ(l.Ask("set -rch 5"), Said("OK\r\rOK"));
    ASSERT_TRUE(l.port.Send("set -baud 1\r"));
    EXPECT_EQ(l.port.ReadUntil("OK\r", 1000), "\rOK\r");
    ASSERT_TRUE(l.port.SetBaud(B19200));
    // Through the loader, the vectors written again: the application restarts.
    ASSERT_TRUE(l.port.Send("boot QUAB\r"));
    EXPECT_EQ(l.port.ReadUntil("OK\r", 1000), "\rOK\r");
    ASSERT_TRUE(l.port.SetBaud(B9600));
    ASSERT_TRUE(l.port.Send("\rP"));
    EXPECT_EQ(l.port.ReadUntil("#", 1000), "$#");
    ASSERT_TRUE(l.port.Send(Frame('V', VectorWords(l.sim->Flash()))));
    EXPECT_EQ(l.port.ReadUntil("+", 1000), "+");
    ::usleep(400'000);
    ASSERT_EQ(l.sim->State(), "application");
    std::map<std::string, std::string> s = l.sim->Settings();
    EXPECT_EQ(s["site"], "Unnamed");
    EXPECT_EQ(s["w"], "300");
    EXPECT_EQ(s["i"], "TALOX");
    EXPECT_EQ(s["trait"], "254");
    EXPECT_EQ(s["sn"], "X77");
    EXPECT_EQ(s["resets"], "1");
    // The radio settings live in the modem, not in the logger's flash.
    EXPECT_EQ(s["rch"], "5");
    // The clock starts again at 2000-01-01, the line at 9600.
    EXPECT_EQ(l.Ask("get -t").substr(0, 12), "\r2000-01-01 ");
    EXPECT_EQ(l.Ask("get -site"), Said("Unnamed"));
}

}  // namespace
}  // namespace tarsa::sim
