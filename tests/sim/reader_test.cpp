// The simulated reader and the digital sensor on its bus, driven with raw
// bytes on the pty: the reader's own commands, its steering characters, the
// SDI-12 pass-through with its break, every sensor command and switch, and a
// loader session through the reader against the sensor's flash.
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "sim/port_client.h"
#include "sim/sdi12_sensor.h"
#include "sim/simulator.h"

namespace tarsa::sim {
namespace {

using test::PortClient;

// Time after which an answer that has not come will not come (answers take
// 10 ms in the model).
constexpr int kQuietMs = 150;

std::string Frame(char letter, const std::string& payload) {
    int sum = 46 + letter;
    for (char c : payload) sum += static_cast<signed char>(c);
    char tail[16];
    std::snprintf(tail, sizeof tail, ".%04X\r", sum % 65535);
    return std::string(1, letter) + payload + tail;
}

std::string Hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

struct Section {
    uint32_t address;
    std::vector<uint8_t> bytes;
};

std::vector<Section> ReadTiTxt(const std::string& text) {
    std::istringstream in(text);
    std::vector<Section> sections;
    std::string token;
    while (in >> token && token != "q") {
        if (token[0] == '@') {
            sections.push_back(
                {static_cast<uint32_t>(std::stoul(token.substr(1), nullptr, 16)), {}});
        } else if (!sections.empty()) {
            sections.back().bytes.push_back(static_cast<uint8_t>(std::stoul(token, nullptr, 16)));
        }
    }
    return sections;
}

// Word form of image bytes: ab cd become "cdab".
std::string Words(const std::vector<uint8_t>& bytes, std::size_t from, std::size_t to) {
    std::string text;
    for (std::size_t i = from; i < to; i += 2) {
        text += Hex(i + 1 < to ? bytes[i + 1] : 0xFF, 2) + Hex(bytes[i], 2);
    }
    return text;
}

struct Bench {
    std::unique_ptr<Simulator> sim;
    PortClient port;

    explicit Bench(DeviceConfig config = Config(), const std::string& name = "hd") {
        sim = Simulator::Start(name, std::move(config));
        if (sim) port.Open(sim->PortPath());
    }
    static DeviceConfig Config() {
        DeviceConfig config;
        config.identity = "HD 1.25";
        return config;
    }
    bool Ok() const { return sim && port.fd >= 0; }
    std::string Ask(const std::string& bytes, const std::string& until, int ms = 1000) {
        if (!port.Send(bytes)) return "send failed";
        return port.ReadUntil(until, ms);
    }
    // A break, then the command; the answer up to its line feed.
    std::string Sdi(const std::string& command) { return Ask("|" + command, "\n"); }
    // Sends and returns whatever comes within the quiet time.
    std::string Quiet(const std::string& bytes) {
        if (!port.Send(bytes)) return "send failed";
        return port.ReadFor(kQuietMs);
    }
    std::string Loader(char letter, const std::string& payload) {
        return Ask(Frame(letter, payload), letter == 'V' ? "+" : "\r");
    }
    SensorSettings Settings() {
        SensorSettings copy;
        sim->WithSensor([&](Sdi12Sensor& s) { copy = s.Settings(); });
        return copy;
    }
    void Switch(void (*set)(SensorConfig&)) {
        sim->WithSensor([&](Sdi12Sensor& s) { set(s.Config()); });
    }
};

TEST(SimReader, OwnCommandsAndIdentity) {
    DeviceConfig config = Bench::Config();
    config.reader.hardwareRevision = 'A';
    config.reader.battery = 9;
    Bench hd(config);
    ASSERT_TRUE(hd.Ok());
    EXPECT_EQ(hd.Ask("get -ver\r", ">"), "\rHD 1.25\r>");
    EXPECT_EQ(hd.Ask("get -hver\r", ">"), "\rA\r>");
    EXPECT_EQ(hd.Ask("get -batt\r", ">"), "\r9\r>");
    EXPECT_EQ(hd.Ask("\r", ">"), "\r\r>");

    DeviceConfig tcdConfig;
    tcdConfig.identity = "TCD 1.10";
    Bench tcd(tcdConfig, "tcd");
    ASSERT_TRUE(tcd.Ok());
    EXPECT_EQ(tcd.Ask("get -ver\r", ">"), "\rTCD 1.10\r>");
    EXPECT_EQ(tcd.Ask("get -batt\r", ">"), "\r87\r>");
    EXPECT_EQ(tcd.Ask("get -hver\r", ">"), "\rC\r>");
}

TEST(SimReader, SteeringCharactersSwitchModesSilently) {
    Bench r;
    ASSERT_TRUE(r.Ok());
    // Into pass-through: text commands go out on the bus, where nobody answers them.
    EXPECT_EQ(r.Quiet("["), "");
    EXPECT_EQ(r.Quiet("get -ver\r"), "");
    EXPECT_EQ(r.Sdi("?!"), "0\r\n");
    // Back to the reader's commands; a half-typed line before a steering
    // character is dropped.
    EXPECT_EQ(r.Quiet("`"), "");
    EXPECT_EQ(r.Ask("get -ver\r", ">"), "\rHD 1.25\r>");
    EXPECT_EQ(r.Quiet("get -v["), "");
    EXPECT_EQ(r.Sdi("?!"), "0\r\n");
    // The loader bridge: SDI-12 commands do not reach the bus from there.
    EXPECT_EQ(r.Quiet("]"), "");
    EXPECT_EQ(r.Quiet("|?!"), "");
    EXPECT_EQ(r.Quiet("["), "");
    EXPECT_EQ(r.Sdi("?!"), "0\r\n");
    EXPECT_EQ(r.sim->State(), "application");
}

// A carriage return on the bridge hears "$" in front of a running
// application (and of an empty bus) as from a loader waiting for a host; only
// the greeting tells them apart.
TEST(SimReader, TheBridgeAnswersLikeAWaitingLoaderUntilTheGreeting) {
    struct Case {
        const char* what;
        bool sensor;
        bool inLoader;
        const char* greeting;  // the answer to "P"
        const char* state;     // afterwards
    };
    const Case cases[] = {
        {"application", true, false, "", "application"},
        {"no sensor", false, false, "", "application"},
        {"loader waiting", true, true, "#", "loader"},
    };
    for (const Case& c : cases) {
        DeviceConfig config = Bench::Config();
        config.reader.sensor.present = c.sensor;
        config.reader.sensor.startInLoader = c.inLoader;
        Bench r(config);
        ASSERT_TRUE(r.Ok()) << c.what;
        // Only a running application answers on the bus.
        EXPECT_EQ(r.Quiet("[|?!"), c.sensor && !c.inLoader ? "0\r\n" : "") << c.what;
        EXPECT_EQ(r.Quiet("]"), "") << c.what;
        EXPECT_EQ(r.Quiet("\r"), "$") << c.what;
        EXPECT_EQ(r.Quiet("get -ver"), "") << c.what << ": other bytes are dropped";
        EXPECT_EQ(r.Quiet("P"), c.greeting) << c.what;
        EXPECT_EQ(r.Quiet("\r"), c.inLoader ? "?\r" : "$") << c.what;
        EXPECT_EQ(r.sim->State(), c.state) << c.what;
    }
}

TEST(SimReader, TheSensorNeedsABreakAfterIdling) {
    DeviceConfig config = Bench::Config();
    config.reader.sensor.sleepMs = 300;
    Bench r(config);
    ASSERT_TRUE(r.Ok());
    r.Quiet("[");
    EXPECT_EQ(r.Quiet("?!"), "");  // asleep since power-up
    EXPECT_EQ(r.Sdi("?!"), "0\r\n");
    EXPECT_EQ(r.Ask("?I!", "\n"), "013CORVANE SKY61 355\r\n");  // still awake
    r.port.ReadFor(400);
    EXPECT_EQ(r.Quiet("?!"), "");
    EXPECT_EQ(r.Sdi("?!"), "0\r\n");
    // A break also discards a partly sent command.
    EXPECT_EQ(r.Quiet("?X|?!"), "0\r\n");
}

TEST(SimSensor, IdentityAddressAndSerialNumber) {
    Bench r;
    ASSERT_TRUE(r.Ok());
    r.Quiet("[");
    std::string id = r.Sdi("?I!");
    ASSERT_EQ(id.size(), 22u);
    EXPECT_EQ(id.substr(17, 3), "355");  // the three-digit version field
    EXPECT_EQ(r.Sdi("0Ab!"), "b\r\n");
    EXPECT_EQ(r.Quiet("|0!"), "");
    EXPECT_EQ(r.Sdi("?!"), "b\r\n");
    EXPECT_EQ(r.Sdi("bI!").substr(0, 3), "b13");
    EXPECT_EQ(r.Quiet("|bA*!"), "");  // not an SDI-12 address
    EXPECT_EQ(r.Sdi("bA0!"), "0\r\n");

    EXPECT_EQ(r.Sdi("?X#!"), "0\r\n");  // no serial number yet
    EXPECT_EQ(r.Sdi("?X#QS-4411!"), "0OK\r\n");
    EXPECT_EQ(r.Sdi("?X#!"), "0 QS-4411\r\n");
    EXPECT_EQ(r.Sdi("?X#" + std::string(32, '7') + "!"), "0ERROR\r\n");
    EXPECT_EQ(r.Settings().serial, "QS-4411");
    EXPECT_EQ(r.Sdi("?post!"), "0Code Good\r\n");
    EXPECT_EQ(r.Quiet("|?Z!"), "");  // unknown commands stay unanswered
}

TEST(SimSensor, CalibrationsReadAndWritten) {
    Bench r;
    ASSERT_TRUE(r.Ok());
    r.Quiet("[");
    EXPECT_EQ(r.Sdi("?X4!"), "0 1 0.000 1.000 0.000\r\n");
    EXPECT_EQ(r.Sdi("?X52 0.5 1.5!"), "0OK\r\n");
    EXPECT_EQ(r.Sdi("?X4!"), "0 2 0.5 1.5\r\n");
    EXPECT_EQ(r.Sdi("?X5!"), "0ERROR\r\n");
    EXPECT_EQ(r.Sdi("?X5" + std::string(513, '1') + "!"), "0ERROR\r\n");
    EXPECT_EQ(r.Sdi("?Xa!"), "0 1 1.44832 1.91683 2.35961 2.991\r\n");
    EXPECT_EQ(r.Sdi("?Xb1 1.4724 2.03944 2.5652 2.9907!"), "0OK\r\n");
    EXPECT_EQ(r.Sdi("?XO!"), "0 1 0.000 1.000\r\n");
    EXPECT_EQ(r.Sdi("?XO3 3!"), "0OK\r\n");
    SensorSettings s = r.Settings();
    EXPECT_EQ(s.calibration1, "2 0.5 1.5");
    EXPECT_EQ(s.calibration2, "1 1.4724 2.03944 2.5652 2.9907");
    EXPECT_EQ(s.calibration3, "3 3");

    DeviceConfig none = Bench::Config();
    none.reader.sensor.hasCalibration3 = false;
    Bench n(none);
    ASSERT_TRUE(n.Ok());
    n.Quiet("[");
    EXPECT_EQ(n.Sdi("?XO!"), "0ERROR\r\n");
    EXPECT_EQ(n.Sdi("?XO3 3!"), "0ERROR\r\n");
}

TEST(SimSensor, TypeAsDigitsOrAsACharacter) {
    Bench r;
    ASSERT_TRUE(r.Ok());
    r.Quiet("[");
    EXPECT_EQ(r.Sdi("?X8!"), "0 93\r\n");
    EXPECT_EQ(r.Sdi("?X9 92!"), "0OK\r\n");
    EXPECT_EQ(r.Sdi("?X8!"), "0 92\r\n");
    EXPECT_EQ(r.Sdi("?X9 0!"), "0ERROR\r\n");
    EXPECT_EQ(r.Sdi("?X9 2555!"), "0ERROR\r\n");

    DeviceConfig qe = Bench::Config();
    qe.reader.sensor.settings.type = 122;
    Bench c(qe);
    ASSERT_TRUE(c.Ok());
    c.Quiet("[");
    EXPECT_EQ(c.Sdi("?X8!"), "0 z\r\n");
    EXPECT_NE(c.Sdi("?I!").find("7QE"), std::string::npos);
    EXPECT_EQ(c.Sdi("?X9 x!"), "0OK\r\n");  // as a character
    EXPECT_EQ(c.Sdi("?X8!"), "0 x\r\n");
    EXPECT_EQ(c.Sdi("?X9 122!"), "0OK\r\n");  // as a number
    EXPECT_EQ(c.Sdi("?X8!"), "0 z\r\n");
    c.sim->WithSensor([](Sdi12Sensor& s) { s.Settings().typeAsDigits = true; });
    EXPECT_EQ(c.Sdi("?X8!"), "0 122\r\n");
}

TEST(SimSensor, Switches) {
    DeviceConfig config = Bench::Config();
    config.reader.sensor.settings.type = 122;
    config.reader.sensor.settings.calibration1 = "1 +0 2.5 +0";
    Bench r(config);
    ASSERT_TRUE(r.Ok());
    r.Quiet("[");
    r.Switch([](SensorConfig& c) { c.silent = true; });
    EXPECT_EQ(r.Quiet("|||?!"), "");
    EXPECT_EQ(r.Quiet("|?I!"), "");
    r.Switch([](SensorConfig& c) {
        c.silent = false;
        c.onlyAddressQuery = true;
    });
    EXPECT_EQ(r.Sdi("?!"), "0\r\n");
    EXPECT_EQ(r.Quiet("|?I!"), "");
    r.Switch([](SensorConfig& c) {
        c.onlyAddressQuery = false;
        c.errorAnswers = true;
    });
    EXPECT_EQ(r.Sdi("?!"), "0\r\n");
    EXPECT_EQ(r.Sdi("?X5 9 9!"), "0ERROR\r\n");
    EXPECT_EQ(r.Settings().calibration1, "1 +0 2.5 +0");  // not executed
    r.Switch([](SensorConfig& c) {
        c.errorAnswers = false;
        c.oldCalibrationFormat = true;
    });
    EXPECT_EQ(r.Sdi("?X4!"), "0 1 -1 2.5 -1\r\n");
    EXPECT_EQ(r.Sdi("?Xa!"), "0\r\n");  // old firmware had no calibration 2
    r.Switch([](SensorConfig& c) { c.oldCalibrationFormat = false; });
    EXPECT_EQ(r.Sdi("?X4!"), "0 1 +0 2.5 +0\r\n");
}

TEST(SimSensor, OverlongCommandsAreLostAndScriptedAnswersReplaceSensorAnswers) {
    Bench r;
    ASSERT_TRUE(r.Ok());
    r.Quiet("[");
    EXPECT_EQ(r.Quiet("|?X5" + std::string(700, '1') + "!"), "");
    EXPECT_EQ(r.Settings().calibration1, "1 0.000 1.000 0.000");
    // Scripted replies count SDI-12 commands only, not breaks.
    std::string longAnswer = "0" + std::string(300, 'x') + "\r\n";
    r.sim->ScriptReplies({Reply::Raw(longAnswer), Reply::Silent()});
    EXPECT_EQ(r.Ask("|||?I!", "\n"), longAnswer);
    EXPECT_EQ(r.Quiet("|?!"), "");
    EXPECT_EQ(r.Sdi("?!"), "0\r\n");
}

TEST(SimSensor, WithoutALoaderItSaysSo) {
    DeviceConfig config = Bench::Config();
    config.reader.sensor.hasLoader = false;
    Bench r(config);
    ASSERT_TRUE(r.Ok());
    r.Quiet("[");
    EXPECT_EQ(r.Sdi("?B!"), "0No BSL\r\n");
    EXPECT_EQ(r.sim->State(), "application");
    EXPECT_EQ(r.Sdi("?!"), "0\r\n");
}

// "?B!", then erase, upload and vectors through the reader's loader bridge
// with the type-93 memory map (20-bit addresses); then the new firmware runs
// with factory settings.
TEST(SimSensor, LoaderSessionThroughTheReader) {
    DeviceConfig config = Bench::Config();
    config.reader.sensor.settings.address = '3';
    config.reader.sensor.settings.serial = "QS-77";
    config.reader.sensor.settings.calibration1 = "5 5 5";
    config.restartMs = 100;
    Bench r(config);
    ASSERT_TRUE(r.Ok());
    FlashMap map = SensorFlashMap(93, 355);
    ASSERT_EQ(map.mainStart, 0x8000u);
    ASSERT_EQ(map.memoryEnd, 0x88000u);
    std::vector<Section> image = ReadTiTxt(SensorImageText(map, "Sensor 3.60", 0x300, 0x120));
    ASSERT_EQ(image.size(), 3u);
    EXPECT_EQ(image[0].address, 0x8100u);
    EXPECT_EQ(image[2].address, 0x10000u);

    r.Quiet("[");
    EXPECT_EQ(r.Sdi("?B!"), "3OK\r\n");
    EXPECT_EQ(r.sim->State(), "loader waiting");
    EXPECT_EQ(r.Quiet("|?!"), "");  // the application is gone from the bus
    EXPECT_EQ(r.Ask("]P", "#"), "#");
    EXPECT_EQ(r.Ask("\r", "?\r"), "?\r");
    EXPECT_EQ(r.Loader('g', ""), "+12+\r");

    for (uint32_t a = 0x1800; a < 0x1A00; a += 128) ASSERT_EQ(r.Loader('X', Hex(a, 5)), "+\r");
    for (uint32_t a = 0x8000; a < 0x88000; a = a + 512 == 0xFA00 ? 0x10000 : a + 512) {
        ASSERT_EQ(r.Loader('X', Hex(a, 5)), "+\r") << std::hex << a;
    }
    std::vector<uint8_t> erased = r.sim->Flash();
    ASSERT_EQ(erased.size(), 0x88000u);
    EXPECT_EQ(erased[0x8100], 0xFF);
    EXPECT_EQ(erased[0xFFFE], 0xFF);

    for (const Section& s : image) {
        if (s.address == kVectorAddress) continue;
        for (std::size_t off = 0; off < s.bytes.size(); off += 256) {
            std::size_t end = std::min(off + 256, s.bytes.size());
            ASSERT_EQ(r.Loader('@', Hex(s.address + static_cast<uint32_t>(off), 5)), "+\r");
            ASSERT_EQ(r.Loader('W', Words(s.bytes, off, end)), "+\r");
        }
    }
    EXPECT_EQ(r.Loader('V', Words(image[1].bytes, 0, 32)), "+");
    std::vector<uint8_t> flash = r.sim->Flash();
    for (const Section& s : image) {
        for (std::size_t i = 0; i < s.bytes.size(); ++i) {
            ASSERT_EQ(flash[s.address + i], s.bytes[i]) << std::hex << s.address + i;
        }
    }
    EXPECT_EQ(r.sim->State(), "application");

    // Restarting: deaf for a moment, then the new firmware with factory settings.
    EXPECT_EQ(r.Quiet("[|?!"), "");
    r.port.ReadFor(100);
    EXPECT_EQ(r.Sdi("?!"), "0\r\n");
    EXPECT_EQ(r.Sdi("?I!").substr(17, 3), "360");
    EXPECT_EQ(r.Sdi("?post!"), "0Code Good\r\n");
    EXPECT_EQ(r.Sdi("?X#!"), "0\r\n");
    EXPECT_EQ(r.Sdi("?X4!"), "0 1 0.000 1.000 0.000\r\n");
    EXPECT_EQ(r.Sdi("?X8!"), "0 93\r\n");
    // Behind the bridge only the bridge answers again once the application runs.
    EXPECT_EQ(r.Quiet("]\r"), "$");
    EXPECT_EQ(r.Quiet("P"), "");
}

TEST(SimSensor, MissingUpperBlockStillRunsButTheCheckFindsCorruptCode) {
    Bench r;
    ASSERT_TRUE(r.Ok());
    FlashMap map = SensorFlashMap(93, 355);
    std::vector<Section> image = ReadTiTxt(SensorImageText(map, "Sensor 3.61", 0x200, 0));
    ASSERT_EQ(image.size(), 2u);
    r.Quiet("[");
    ASSERT_EQ(r.Sdi("?B!"), "0OK\r\n");
    ASSERT_EQ(r.Ask("]P", "#"), "#");
    ASSERT_EQ(r.Loader('X', "08000"), "+\r");
    ASSERT_EQ(r.Loader('X', "08200"), "+\r");
    // Only the first half of the main section goes in.
    ASSERT_EQ(r.Loader('@', "08100"), "+\r");
    ASSERT_EQ(r.Loader('W', Words(image[0].bytes, 0, 256)), "+\r");
    EXPECT_EQ(r.Loader('V', Words(image[1].bytes, 0, 32)), "+");
    r.port.ReadFor(250);
    r.Quiet("[");
    EXPECT_EQ(r.Sdi("?post!"), "0Code Corrupt\r\n");
    EXPECT_EQ(r.Sdi("?I!").substr(17, 3), "361");
}

}  // namespace
}  // namespace tarsa::sim
