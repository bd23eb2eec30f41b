// The simulated text-command instruments driven with raw bytes from a plain
// descriptor on the pty slave: a setting of every type, every read the
// settings capture makes per type, login, record lists, battery, the flash
// check, data erase, clock, and factory settings after an update through the
// loader on each type's memory map.
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "sim/flash.h"
#include "sim/port_client.h"
#include "sim/sdi12_sensor.h"
#include "sim/simulator.h"

namespace tarsa::sim {
namespace {

using test::PortClient;
using test::ReadTiTxtText;
using test::Section;

struct Instrument {
    std::unique_ptr<Simulator> sim;
    PortClient port;

    explicit Instrument(const std::string& device, DeviceConfig config = Quick()) {
        if (config.reader.sensor.present && (device == "hd" || device == "tcd")) {
            // The readers' own firmware is what is tested here.
            config.reader.sensor.present = false;
        }
        sim = Simulator::Start(device, std::move(config));
        if (sim) port.Open(sim->PortPath());
    }
    bool Ready() const { return sim && port.fd >= 0; }
    std::string Ask(const std::string& line) { return port.Ask(line + "\r"); }
    // Login lines in one burst: the typing check is off in Quick().
    std::string Login() { return Ask("login *5738"); }

    static DeviceConfig Quick() {
        DeviceConfig config;
        config.loginTypingMs = 0;
        return config;
    }
};

std::string Said(const std::string& text) {
    return "\r" + text + "\r>";
}

bool Rejected(const std::string& answer) {
    return answer.find("ERROR") != std::string::npos ||
           answer.find("Unsupported") != std::string::npos;
}

struct TypeSample {
    const char* device;
    const char* identity;
    bool login;
    const char* word;    // an option of the type
    const char* value;   // sent with "set -word value", read back unchanged
    const char* bad;     // a value the option refuses
    const char* absent;  // an option of other types that this one lacks
};

const TypeSample kSamples[] = {
    {"hmini", "HMini 1.25", true, "fvals", "2.5 3.5 1 0", "", "config"},
    {"tk", "TK 1.40", false, "units", "3", "10", "lang"},
    {"sr40", "SR40 2.10", false, "x", "0.975", "0123456789abcdefg", "fvals"},
    {"vn", "VN 1.12", false, "contr", "65", "101", "adc"},
    {"srbl", "SRBL 1.05", false, "wtfactory", "12.5", "", "contr"},
    {"h6b", "H6B 3.60", true, "adccal", "12 0.9981", "", "sn"},
    {"tcd", "TCD 1.02", false, "i", "PIER2", "BAD NAME", "w"},
    {"hd", "HD 1.30", false, "contr", "70", "-1", "w"},
    {"h8", "H8 2.10", true, "tadj", "0.5 -0.25", "", "contr"},
    {"hvx", "HVX 1.20", false, "c76", "7 6", "", "contr"},
    {"px9t", "PX9T 1.03", true, "config", "A7F", "", "tadj"},
    {"vel", "Vel 1.01", true, "sn", "VL-9", "TWO WORDS", "contr"},
    {"h8lzr", "H8LZR 2.05", false, "lwidth", "0.35", "", "contr"},
    {"imb", "IMB 1.10", false, "units", "mm H2O", "", "lang"},
    {"draxo", "Draxo 1.00", false, "sn", "DX-0042", "SIXTEEN-CHARS-SN", "config"},
};

TEST(SimInstrument, EveryTypeSetsAndReadsBackASetting) {
    for (const TypeSample& t : kSamples) {
        SCOPED_TRACE(t.device);
        Instrument i(t.device);
        ASSERT_TRUE(i.Ready());
        EXPECT_EQ(i.Ask("get -ver"), Said(t.identity));
        if (t.login) {
            EXPECT_EQ(i.Login(), Said("OK"));
        }
        std::string word = t.word;
        EXPECT_EQ(i.Ask("set -" + word + " " + t.value), Said("OK"));
        EXPECT_EQ(i.Ask("get -" + word), Said(t.value));
        EXPECT_EQ(i.sim->Settings()[word], t.value);
        EXPECT_EQ(i.Ask("set -" + word + " " + t.bad), Said("ERROR"));
        EXPECT_EQ(i.Ask("get -" + word), Said(t.value));
        EXPECT_EQ(i.Ask(std::string("get -") + t.absent), Said("Unsupported"));
        EXPECT_EQ(i.Ask("get -nosuchoption"), Said("ERROR"));
    }
}

// Every read the settings capture makes for a type, by its flag word, gets a
// value; the device names come from the catalogue's match words.
TEST(SimInstrument, AnswersEveryReadOfItsTypesCapture) {
    struct Capture {
        const char* device;
        std::vector<const char*> reads;
    };
    const Capture captures[] = {
        {"hmini",
         {"get -sn", "get -lang", "get -contr", "get -fvals", "get -uvals", "get -hadj",
          "get -tau"}},
        {"tk", {"get -sn", "get -contr", "get -units", "get -adc", "get -sample"}},
        {"sr40",
         {"get -adccal", "get -loc", "get -x", "get -ext", "get -sn", "get -contr", "get -config"}},
        {"vn", {"get -sn", "get -contr", "get -fvals", "get -units"}},
        {"srbl", {"get -sn", "get -adccal", "get -auto", "get -wtfactory", "get -sys"}},
        {"h6b", {"get -adccal", "get -config"}},
        {"tcd", {"get -i", "get -sn"}},
        {"hd",
         {"get -i", "get -sn", "get -contr", "get -adc15", "get -adc30", "get -cal 0",
          "get -cal 7"}},
        {"h8", {"get -sn", "get -config", "get -tadj", "get -eqn", "get -user", "get -pvuser"}},
        {"hvx",
         {"get -sn", "get -config", "get -p", "get -pv", "get -c76", "get -user", "get -tadj"}},
        {"px9t", {"get -sn", "get -config"}},
        {"vel", {"get -sn", "get -config"}},
        {"h8lzr",
         {"get -sn", "get -p0", "get -p3", "get -p5", "get -lwidth", "get -ltemp", "get -current",
          "get -p1", "get -config", "get -eqn", "get -user", "get -tadj"}},
        {"imb", {"get -sn", "get -contr", "get -usage", "get -p", "get -units", "get -tadj"}},
        {"draxo", {"get -sn"}},
    };
    for (const Capture& c : captures) {
        SCOPED_TRACE(c.device);
        Instrument i(c.device);
        ASSERT_TRUE(i.Ready());
        i.Login();
        for (const char* read : c.reads) {
            std::string answer = i.Ask(read);
            EXPECT_FALSE(Rejected(answer)) << read << ": " << answer;
            EXPECT_GT(answer.size(), 3u) << read;  // more than the bare prompt
        }
    }
    // Calibration entries end after the eighth.
    Instrument hd("hd");
    ASSERT_TRUE(hd.Ready());
    EXPECT_EQ(hd.Ask("get -cal 8"), Said("ERROR"));
    EXPECT_EQ(hd.Ask("set -cal 3 4 1.250 -0.020"), Said("OK"));
    EXPECT_EQ(hd.Ask("get -cal 3"), Said("4 1.250 -0.020"));
    EXPECT_EQ(hd.sim->Settings()["cal3"], "4 1.250 -0.020");
}

TEST(SimInstrument, CommandSetFollowsTheFirmwareVersion) {
    DeviceConfig config = Instrument::Quick();
    config.version = "1.90";
    Instrument old("sr40", config);
    ASSERT_TRUE(old.Ready());
    EXPECT_EQ(old.Ask("get -ver"), Said("SR40 1.90"));
    EXPECT_EQ(old.Ask("get -sn"), Said("Unsupported"));
    EXPECT_EQ(old.Ask("set -config 5"), Said("Unsupported"));
    EXPECT_EQ(old.Ask("get -adccal"), Said("0 1.0000"));

    // A Hygra 8 reads its user values as "-pvuser" from 2.05 on.
    config.version = "2.04";
    Instrument h8("h8", config);
    ASSERT_TRUE(h8.Ready());
    h8.Login();
    EXPECT_EQ(h8.Ask("get -pvuser"), Said("Unsupported"));
    config.version = "2.05";
    Instrument h805("h8", config);
    ASSERT_TRUE(h805.Ready());
    h805.Login();
    EXPECT_EQ(h805.Ask("get -pvuser"), Said("0 0 0 0"));
}

// The Hygra 8's config carries the sum of the serial number's character codes:
// a new serial number changes it, and a value written for the old one is off.
TEST(SimInstrument, SerialConfigFollowsTheSerialNumber) {
    DeviceConfig config = Instrument::Quick();
    config.settings = {{"sn", "A1"}, {"config", "1000"}};
    Instrument i("h8", config);
    ASSERT_TRUE(i.Ready());
    ASSERT_EQ(i.Login(), Said("OK"));
    EXPECT_EQ(i.Ask("get -config"), Said("1000"));
    // "B" is one above "A".
    EXPECT_EQ(i.Ask("set -sn B1"), Said("OK"));
    EXPECT_EQ(i.Ask("get -config"), Said("1001"));
    EXPECT_EQ(i.Ask("set -config 1001"), Said("OK"));
    EXPECT_EQ(i.sim->Settings()["config"], "1001");
    // Options are 0 to 65535 above the serial number's sum (115 for "B1").
    EXPECT_EQ(i.Ask("set -config 114"), Said("ERROR"));
    EXPECT_EQ(i.Ask("set -config 65650"), Said("OK"));
    EXPECT_EQ(i.Ask("set -config 65651"), Said("ERROR"));
    EXPECT_EQ(i.Ask("set -config 12x"), Said("ERROR"));
    // Other types keep their config as plain text.
    Instrument px("px9t");
    ASSERT_TRUE(px.Ready());
    px.Login();
    EXPECT_EQ(px.Ask("set -sn Q"), Said("OK"));
    EXPECT_EQ(px.Ask("get -config"), Said("0"));
}

TEST(SimInstrument, LoginNeedsTheCodeTypedOneCharacterAtATime) {
    DeviceConfig config;
    config.loginTypingMs = 40;
    Instrument i("h6b", config);
    ASSERT_TRUE(i.Ready());
    // Without a login only identity, battery, flash check and loader work.
    EXPECT_EQ(i.Ask("get -ver"), Said("H6B 3.60"));
    EXPECT_EQ(i.Ask("get -adccal"), Said("ERROR: login required"));
    EXPECT_EQ(i.Ask("set -config 4"), Said("ERROR: login required"));
    EXPECT_EQ(i.Ask("post"), Said("Code Good!"));
    // The whole line at once loses characters: refused.
    EXPECT_EQ(i.Ask("login *5738"), Said("ERROR"));
    EXPECT_EQ(i.sim->Settings()["login"], "0");
    // Typed: accepted, and the host's "\r\n\r" ending gets the prompt again.
    for (char c : std::string("login *5738")) {
        ASSERT_TRUE(i.port.Send(std::string(1, c)));
        ::usleep(90'000);
    }
    ASSERT_TRUE(i.port.Send("\r\n\r"));
    EXPECT_EQ(i.port.ReadUntil("\r\r>", 2000), "\rOK\r>\r\r>");
    EXPECT_EQ(i.sim->Settings()["login"], "1");
    EXPECT_EQ(i.Ask("get -adccal"), Said("0 1.0000"));
    EXPECT_EQ(i.Ask("logout"), Said("OK"));
    EXPECT_EQ(i.Ask("get -adccal"), Said("ERROR: login required"));

    Instrument quick("h6b");
    ASSERT_TRUE(quick.Ready());
    EXPECT_EQ(quick.Ask("login *5739"), Said("ERROR"));
    EXPECT_EQ(quick.Ask("login"), Said("ERROR"));
    EXPECT_EQ(quick.Ask("login H6B"), Said("ERROR"));
    EXPECT_EQ(quick.Login(), Said("OK"));
    // A type without a login takes any login line and locks nothing.
    Instrument tk("tk");
    ASSERT_TRUE(tk.Ready());
    EXPECT_EQ(tk.Ask("get -sn"), Said("10001"));
    EXPECT_EQ(tk.Ask("login *0000"), Said("OK"));
}

std::string UserRecord(const std::string& plain) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < plain.size(); i += 3) {
        uint32_t n = static_cast<uint8_t>(plain[i]) << 16;
        if (i + 1 < plain.size()) n |= static_cast<uint8_t>(plain[i + 1]) << 8;
        if (i + 2 < plain.size()) n |= static_cast<uint8_t>(plain[i + 2]);
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += i + 1 < plain.size() ? kAlphabet[(n >> 6) & 63] : '=';
        out += i + 2 < plain.size() ? kAlphabet[n & 63] : '=';
    }
    return out;
}

TEST(SimInstrument, RecordListsCountReadWriteAndReset) {
    std::string anna = UserRecord("1\t0\t3\tAnna\t55");
    DeviceConfig config = Instrument::Quick();
    config.settings = {{"eqn00", "b_2 1.0 0.5"}, {"eqn01", "A 2.0 0.0"}, {"user00", anna}};
    Instrument i("h8", config);
    ASSERT_TRUE(i.Ready());
    EXPECT_EQ(i.Ask("get -eqn"), Said("ERROR: login required"));
    ASSERT_EQ(i.Login(), Said("OK"));
    EXPECT_EQ(i.Ask("get -eqn"), Said("2"));
    EXPECT_EQ(i.Ask("get -eqn 1"), Said("A 2.0 0.0"));
    EXPECT_EQ(i.Ask("get -eqn 2"), Said("ERROR"));
    EXPECT_EQ(i.Ask("get -user"), Said("1"));
    EXPECT_EQ(i.Ask("get -user 0"), Said(anna));

    // Records are written in order: one past the end appends, a gap is refused.
    EXPECT_EQ(i.Ask("set -eqn 3 C 1.0"), Said("ERROR"));
    EXPECT_EQ(i.Ask("set -eqn 2 C 1.0"), Said("OK"));
    EXPECT_EQ(i.Ask("set -eqn 0 B 1.0"), Said("OK"));
    EXPECT_EQ(i.Ask("set -eqn 1  leading blank"), Said("ERROR"));
    EXPECT_EQ(i.Ask("set -eqn 1"), Said("ERROR"));
    EXPECT_EQ(i.sim->Records("eqn"), (std::vector<std::string>{"B 1.0", "A 2.0 0.0", "C 1.0"}));
    EXPECT_EQ(i.Ask("set -user 1 not*base64"), Said("ERROR"));
    EXPECT_EQ(i.Ask("set -user 1 QUJD"), Said("OK"));
    EXPECT_EQ(i.Ask("set -user 1 QUJ"), Said("ERROR"));
    EXPECT_EQ(i.sim->Records("user"), (std::vector<std::string>{anna, "QUJD"}));

    EXPECT_EQ(i.Ask("reset -users"), Said("OK"));
    EXPECT_EQ(i.Ask("get -user"), Said("0"));
    EXPECT_EQ(i.Ask("get -eqn"), Said("3"));
    EXPECT_EQ(i.Ask("reset -eqn"), Said("OK"));
    EXPECT_TRUE(i.sim->Records("eqn").empty());
    EXPECT_EQ(i.Ask("reset -everything"), Said("ERROR"));

    // 25 user records fit, the 26th does not.
    for (int n = 0; n < 25; ++n) {
        ASSERT_EQ(i.Ask("set -user " + std::to_string(n) + " QUJD"), Said("OK")) << n;
    }
    EXPECT_EQ(i.Ask("set -user 25 QUJD"), Said("ERROR"));

    // The Hygra VX keeps users but no equations; the Imbrix neither.
    Instrument hvx("hvx");
    ASSERT_TRUE(hvx.Ready());
    EXPECT_EQ(hvx.Ask("get -user"), Said("0"));
    EXPECT_EQ(hvx.Ask("get -eqn"), Said("Unsupported"));
    EXPECT_EQ(hvx.Ask("reset -eqn"), Said("Unsupported"));
    Instrument imb("imb");
    ASSERT_TRUE(imb.Ready());
    EXPECT_EQ(imb.Ask("get -user"), Said("Unsupported"));

    DeviceConfig gap = Instrument::Quick();
    gap.settings = {{"eqn01", "A 1"}};
    EXPECT_EQ(Simulator::Start("h8", gap), nullptr);
    gap.settings = {{"user00", "QUJD"}};
    EXPECT_EQ(Simulator::Start("imb", gap), nullptr);
}

TEST(SimInstrument, BatteryPostDataEraseClockAndSensorSelect) {
    DeviceConfig config = Instrument::Quick();
    config.settings = {{"batt", "6"}, {"clock", "0"}};
    Instrument tk("tk", config);
    ASSERT_TRUE(tk.Ready());
    EXPECT_EQ(tk.Ask("get -batt"), Said("6"));
    EXPECT_EQ(tk.Ask("set -batt 90"), Said("ERROR"));
    EXPECT_EQ(tk.Ask("post"), Said("Code Good!"));
    EXPECT_EQ(tk.Ask("post -init"), Said("Code Good!"));
    EXPECT_EQ(tk.Ask("post -now"), Said("ERROR"));
    EXPECT_EQ(tk.sim->Settings()["records"], "1000");
    EXPECT_EQ(tk.Ask("yes"), Said("OK"));
    EXPECT_EQ(tk.sim->Settings()["records"], "0");
    // The clock in seconds since 2000 and as date and time.
    EXPECT_EQ(tk.Ask("get -t").substr(0, 12), "\r2000-01-01 ");
    EXPECT_EQ(tk.Ask("set -sec 3600"), Said("OK"));
    EXPECT_EQ(tk.Ask("get -t").substr(0, 17), "\r2000-01-01 01:00");
    EXPECT_EQ(tk.Ask("set -t 13:14:15"), Said("OK"));
    EXPECT_EQ(tk.Ask("set -d 2024-02-29"), Said("OK"));
    // 2024-02-29 13:14:15 is 762527655 seconds after 2000 (the clock may tick once).
    std::string sec = tk.Ask("get -sec");
    EXPECT_TRUE(sec == Said("762527655") || sec == Said("762527656")) << sec;
    EXPECT_EQ(tk.Ask("set -d 2023-02-29"), Said("ERROR"));
    EXPECT_EQ(tk.Ask("set -sec -1"), Said("ERROR"));

    DeviceConfig broken = Instrument::Quick();
    broken.brokenDataFlash = true;
    Instrument h8lzr("h8lzr", broken);
    ASSERT_TRUE(h8lzr.Ready());
    EXPECT_EQ(h8lzr.Ask("yes"), Said("DataFlash FAIL"));
    EXPECT_EQ(h8lzr.sim->Settings()["records"], "1000");

    // A Hygra Mini has no battery reading, data memory or clock.
    Instrument mini("hmini");
    ASSERT_TRUE(mini.Ready());
    mini.Login();
    EXPECT_EQ(mini.Ask("get -batt"), Said("Unsupported"));
    EXPECT_EQ(mini.Ask("yes"), Said("Unsupported"));
    EXPECT_EQ(mini.Ask("set -sec 5"), Said("Unsupported"));
    EXPECT_EQ(mini.Ask("set -sensor 0"), Said("Unsupported"));

    // The Hygra 8 selects its sensor type.
    Instrument h8("h8");
    ASSERT_TRUE(h8.Ready());
    EXPECT_EQ(h8.Ask("get -batt"), Said("Unsupported"));
    h8.Login();
    EXPECT_EQ(h8.Ask("get -sensor"), Said("1"));
    EXPECT_EQ(h8.Ask("set -sensor 0"), Said("OK"));
    EXPECT_EQ(h8.sim->Settings()["sensor"], "0");

    // The readers answer the battery level themselves.
    DeviceConfig reader = Instrument::Quick();
    reader.reader.battery = 9;
    Instrument hd("hd", reader);
    ASSERT_TRUE(hd.Ready());
    EXPECT_EQ(hd.Ask("get -batt"), Said("9"));
    EXPECT_EQ(hd.Ask("yes"), Said("OK"));

    DeviceConfig bad = Instrument::Quick();
    bad.settings = {{"batt", "101"}};
    EXPECT_EQ(Simulator::Start("draxo", bad), nullptr);
    bad.settings = {{"site", "Lake"}};
    EXPECT_EQ(Simulator::Start("draxo", bad), nullptr);
}

// The loader facts of each type: memory map and line speed.
// Also a setting that an update takes back to its factory value.
struct TypeMap {
    const char* device;
    const char* label;  // identity of the new firmware
    uint32_t infoStart, infoSegments, infoSegmentSize, mainStart, memoryEnd;
    speed_t baud;
    const char* word;  // a setting other than the serial number (null: none)
    const char* value;
    bool hasSerial;
};

const TypeMap kMaps[] = {
    {"hmini", "HMini 1.30", 0x1000, 2, 128, 0x1100, 0x10000, B9600, "tau", "30", true},
    {"tk", "TK 1.41", 0x1000, 2, 128, 0x1100, 0x10000, B9600, "units", "4", true},
    {"sr40", "SR40 2.20", 0x1000, 2, 128, 0x1100, 0x10000, B9600, "loc", "Pier 4", true},
    {"vn", "VN 1.13", 0x1000, 2, 128, 0x1100, 0x10000, B9600, "fvals", "9 9", true},
    {"srbl", "SRBL 1.06", 0x1000, 2, 128, 0x1100, 0x10000, B9600, "sys", "2", true},
    {"h6b", "H6B 3.61", 0x1000, 2, 128, 0x1100, 0x10000, B9600, "config", "77", false},
    {"tcd", "TCD 1.03", 0x1000, 2, 128, 0x1100, 0x10000, B9600, "i", "CHANGED", true},
    {"hd", "HD 1.31", 0x1000, 3, 64, 0x2100, 0x20000, B57600, "contr", "12", true},
    {"h8", "H8 2.20", 0x1000, 3, 64, 0x2100, 0x20000, B57600, "tadj", "1 2", true},
    {"hvx", "HVX 1.21", 0x1800, 3, 128, 0x5C00, 0x3C000, B57600, "pv", "3", true},
    {"px9t", "PX9T 1.04", 0x1000, 2, 128, 0x1100, 0x10000, B9600, "config", "C1", true},
    {"vel", "Vel 1.02", 0x1000, 2, 128, 0x1100, 0x10000, B9600, "config", "V2", true},
    {"h8lzr", "H8LZR 2.06", 0x1800, 4, 128, 0x8000, 0x28000, B57600, "current", "4.5", true},
    {"imb", "IMB 1.11", 0x1000, 3, 64, 0x2100, 0x20000, B57600, "usage", "12", true},
    {"draxo", "Draxo 1.01", 0x1000, 3, 64, 0x8000, 0x10000, B9600, nullptr, nullptr, true},
};

std::string Frame(char letter, const std::string& payload) {
    int sum = 46 + letter;
    for (char c : payload) sum += static_cast<signed char>(c);
    char tail[16];
    std::snprintf(tail, sizeof tail, ".%04X\r", sum % 65535);
    return std::string(1, letter) + payload + tail;
}

std::string Hex5(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%05X", value);
    return text;
}

std::string Words(const std::vector<uint8_t>& bytes, std::size_t from, std::size_t to) {
    std::string text;
    for (std::size_t i = from; i < to; i += 2) {
        char w[8];
        std::snprintf(w, sizeof w, "%02X%02X", i + 1 < to ? bytes[i + 1] : 0xFF, bytes[i]);
        text += w;
    }
    return text;
}

// Puts a new image on the device through its loader at the type's speed:
// erase, upload (leaving out block `skip` when it is not -1), vectors. The
// application restarts from the new flash.
void Update(Instrument& i, const TypeMap& t, int skip = -1) {
    FlashMap map{t.infoStart, t.infoSegments, t.infoSegmentSize, t.mainStart, t.memoryEnd};
    std::vector<Section> image = ReadTiTxtText(SensorImageText(map, t.label, 0x200, 0x100));
    ASSERT_EQ(i.port.Send("boot QUAB\r"), true);
    ASSERT_EQ(i.port.ReadUntil("OK\r", 1000), "\rOK\r");
    ASSERT_TRUE(i.port.SetBaud(t.baud));
    ASSERT_TRUE(i.port.Send("\rP"));
    ASSERT_EQ(i.port.ReadUntil("#", 1000), "$#");
    auto loader = [&](char letter, const std::string& payload) {
        if (!i.port.Send(Frame(letter, payload))) return std::string("send failed");
        return i.port.ReadUntil(letter == 'V' ? "+" : "\r", 1000);
    };
    for (uint32_t s = 0; s < t.infoSegments; ++s) {
        ASSERT_EQ(loader('X', Hex5(t.infoStart + s * t.infoSegmentSize)), "+\r");
    }
    for (uint32_t a = t.mainStart; a < t.mainStart + 0x400; a += 0x200) {
        ASSERT_EQ(loader('X', Hex5(a)), "+\r");
    }
    if (t.memoryEnd > 0x10000) {
        ASSERT_EQ(loader('X', Hex5(0x10000)), "+\r");
    }
    const Section* vectors = nullptr;
    for (const Section& s : image) {
        if (s.address == kVectorAddress) {
            vectors = &s;
            continue;
        }
        for (std::size_t off = 0; off < s.bytes.size(); off += 256) {
            if (skip-- == 0) continue;
            std::size_t end = std::min(off + 256, s.bytes.size());
            ASSERT_EQ(loader('@', Hex5(s.address + static_cast<uint32_t>(off))), "+\r");
            ASSERT_EQ(loader('W', Words(s.bytes, off, end)), "+\r");
        }
    }
    ASSERT_NE(vectors, nullptr);
    ASSERT_EQ(loader('V', Words(vectors->bytes, 0, vectors->bytes.size())), "+");
    ASSERT_TRUE(i.port.SetBaud(B9600));
    ::usleep(300'000);  // deaf while the application starts
    std::vector<uint8_t> flash = i.sim->Flash();
    ASSERT_EQ(flash.size(), t.memoryEnd);
    if (skip >= 0) return;  // a block was left out
    for (const Section& s : image) {
        ASSERT_EQ(flash[s.address], s.bytes[0]) << std::hex << s.address;
    }
}

// An image with a block missing still starts (its identity block is there),
// but the flash check finds it corrupt; settings are factory ones all the same.
TEST(SimInstrument, IncompleteImageRunsButReportsCorruptCode) {
    DeviceConfig config = Instrument::Quick();
    config.settings = {{"sn", "LZ-1"}, {"tadj", "5 5"}};
    Instrument i("h8lzr", config);
    ASSERT_TRUE(i.Ready());
    ASSERT_EQ(std::string(kMaps[12].device), "h8lzr");
    Update(i, kMaps[12], 1);
    EXPECT_EQ(i.Ask("get -ver"), Said("H8LZR 2.06"));
    EXPECT_EQ(i.Ask("post -init"), Said("Code Corrupt!"));
    EXPECT_EQ(i.Ask("get -tadj"), Said("0.00"));
    EXPECT_EQ(i.Ask("get -sn"), Said("LZ-1"));
}

TEST(SimInstrument, UpdateOnTheTypesMapBringsFactorySettingsButKeepsTheSerialNumber) {
    for (const TypeMap& t : kMaps) {
        SCOPED_TRACE(t.device);
        DeviceConfig config = Instrument::Quick();
        std::string device = t.device;
        bool reader = device == "hd" || device == "tcd";
        if (t.hasSerial) config.settings["sn"] = "KEEP-7";
        if (device == "h8" || device == "h8lzr") config.settings["eqn00"] = "E 1.0";
        if (!reader) config.settings["clock"] = "99999";
        Instrument i(t.device, config);
        ASSERT_TRUE(i.Ready());
        i.Login();
        std::string before;
        if (t.word != nullptr) {
            std::string word = t.word;
            before = i.sim->Settings()[word];
            ASSERT_NE(before, t.value);
            ASSERT_EQ(i.Ask("set -" + word + " " + t.value), Said("OK"));
            ASSERT_EQ(i.sim->Settings()[word], t.value);
        }
        Update(i, t);
        std::map<std::string, std::string> after = i.sim->Settings();
        if (t.word != nullptr) {
            EXPECT_EQ(after[t.word], before) << t.word;
        }
        EXPECT_EQ(after["sn"], t.hasSerial ? "KEEP-7" : "");
        EXPECT_EQ(after["resets"], "1");
        if (!reader) {
            EXPECT_EQ(after["login"], "0");
            EXPECT_EQ(after["clock"], "0");
            EXPECT_TRUE(i.sim->Records("eqn").empty());
        }
        EXPECT_EQ(i.Ask("get -ver"), Said(t.label));
        EXPECT_EQ(i.Ask("post"), Said("Code Good!"));
    }
}

}  // namespace
}  // namespace tarsa::sim
