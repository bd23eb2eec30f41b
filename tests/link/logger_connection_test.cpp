// Connecting, identifying and disconnecting against a scripted device on a
// pty: capabilities, "get -ver" and "show" parsing, the loader answers, baud
// changes, radio logins and the radio modem's command mode.
#include "link/logger_connection.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "link/logger_test_support.h"
#include "serial/timing.h"

namespace tarsa {
namespace {

using test::Answer;
using test::Ok;

class ConnectionTest : public test::LoggerLinkTest {
  protected:
    ConnectionRequest Request(uint8_t kind, int8_t baudCode = 0, const char* name = "") {
        ConnectionRequest r;
        snprintf(r.portName, sizeof r.portName, "%s", "");
        r.linkKind = kind;
        r.baudCode = baudCode;
        snprintf(r.deviceName, sizeof r.deviceName, "%s", name);
        return r;
    }
    // ConnectDevice opens the port by name; the fixture already holds it open.
    int Connect(ConnectionRequest& r) {
        TSClose(link_->port);
        const std::string& path = device_->PortPath();
        if (path.size() >= sizeof r.portName) {
            // pty paths are short; keep the request's 13-byte field honest.
            ADD_FAILURE() << "pty path too long for the request: " << path;
            return -999;
        }
        snprintf(r.portName, sizeof r.portName, "%s", path.c_str());
        return ConnectDevice(*link_, &r);
    }
};

TEST(CapabilitiesTest, EachVersionThresholdAddsItsBits) {
    struct Step {
        int type;
        int version;
        uint32_t added;
    };
    const Step steps[] = {
        {kDevTypeTalox, 105, 0x80},      {kDevTypeTalox, 108, 0x40},
        {kDevTypeTalox, 112, 0x8800},    {kDevTypeTalox, 114, 0x70000},
        {kDevTypeTalox, 118, 0xC00000},  {kDevTypeTalox, 119, 0x200000},
        {kDevTypeTalox, 200, 0x1000000}, {kDevTypeTalox, 202, 0x4000000},
        {kDevTypeBrisen, 105, 0x80},     {kDevTypeBrisen, 109, 0x20000},
        {kDevTypeTalob, 204, 0x40000},
    };
    for (const Step& s : steps) {
        EXPECT_EQ(
            CapabilitiesFor(s.type, s.version, true) ^ CapabilitiesFor(s.type, s.version - 1, true),
            s.added)
            << "type " << s.type << " at " << s.version;
    }
    EXPECT_EQ(CapabilitiesFor(kDevTypeTalox, 100, true), 0x7737u);
    EXPECT_EQ(CapabilitiesFor(kDevTypeTalox, 229, true), 0x5E7FFF7u);
    EXPECT_EQ(CapabilitiesFor(kDevTypeBrisen, 100, true), 0x4503u);
    EXPECT_EQ(CapabilitiesFor(kDevTypeTalo, 200, true), 0x371Fu);
    EXPECT_EQ(CapabilitiesFor(kDevTypeTalo, 165, false), 0x331Cu);
    EXPECT_EQ(CapabilitiesFor(kDevTypeKel7, 100, true), 0x5E3FFF7u);
    EXPECT_EQ(CapabilitiesFor(12, 100, true), 0x7C3F6F7u);
    EXPECT_EQ(CapabilitiesFor(10, 100, true), 0x1D3083u);
    EXPECT_EQ(CapabilitiesFor(5, 100, true), 0x1005u);
    EXPECT_EQ(CapabilitiesFor(0, 100, true), 0x1005u);
}

TEST(DeviceTypesTest, WordsAndBaudCodes) {
    EXPECT_EQ(DeviceTypeForWord("TALOX"), 3);
    EXPECT_EQ(DeviceTypeForWord("BR"), 4);
    EXPECT_EQ(DeviceTypeForWord("TERREL_CAL"), 9);
    EXPECT_EQ(DeviceTypeForWord("talox"), 0) << "words are compared in upper case";
    EXPECT_EQ(DeviceTypeForWord("GENERIC"), 0) << "types without a word are never answered";
    EXPECT_STREQ(DeviceTypeName(11), "kel7");
    EXPECT_STREQ(DeviceTypeName(42), "Unknown");
    EXPECT_EQ(BaudForCode(2), 9600u);
    EXPECT_EQ(BaudForCode(8), 460800u);
    EXPECT_EQ(BaudForCode(9), 0u);
    EXPECT_EQ(BaudForCode(-1), 0u);
}

TEST_F(ConnectionTest, VerCommandReadsTheIdentity) {
    Script([](const std::string&) { return Answer("talob 2.04"); });
    EXPECT_EQ(VerCommand(*link_, 0), 1);
    const LoggerSettings& s = link_->settings;
    EXPECT_STREQ(s.versionText, "talob 2.04");
    EXPECT_EQ(s.versionNumber, 204);
    EXPECT_EQ(s.typeCode, kDevTypeTalob);
    EXPECT_STREQ(s.typeName, "Talob");
    EXPECT_EQ(s.newFirmware, 1);
    EXPECT_EQ(s.capabilities, 0x74BEu | 0x40000u);
    EXPECT_TRUE(Logged("VerCommand found \"talob 2.04\" ver 204"));

    link_->settings = {};
    Script([](const std::string&) { return Answer("Talox 2.3"); });
    EXPECT_EQ(VerCommand(*link_, 0), 1);
    EXPECT_EQ(link_->settings.versionNumber, 230) << "a missing second decimal counts 0";
}

TEST_F(ConnectionTest, VerCommandOnOldTaloFirmwareFallsBackToShow) {
    SetTries(1);
    Script([](const std::string& m) {
        if (m == "show\r")
            return Answer("ID: OLDTALO\rVersion: 1.65\rRadio: 1\rWake: 60\rResets: 3");
        return Answer("Unsupported");
    });
    const uint32_t start = TickMs();
    EXPECT_EQ(VerCommand(*link_, 0), 1);
    EXPECT_GE(TickMs() - start, 400u) << "one retry after 400 ms";
    EXPECT_EQ(Sent(), (std::vector<std::string>{"get -ver\r", "get -ver\r", "show\r"}));
    const LoggerSettings& s = link_->settings;
    EXPECT_EQ(s.typeCode, kDevTypeTalo);
    EXPECT_EQ(s.newFirmware, 0);
    EXPECT_EQ(s.capabilities, 0x331Cu);
    EXPECT_STREQ(s.deviceName, "OLDTALO");
    EXPECT_EQ(s.versionNumber, 165);
    EXPECT_EQ(s.radioMode, 1);
    EXPECT_EQ(s.measurementInterval, 60);
    EXPECT_EQ(link_->resets, 3);
    EXPECT_TRUE(Logged("VerCommand found Talo with old firmware"));
    EXPECT_TRUE(Logged("ParseShowCommand found OLDTALO:1.65:1:60:3"));

    // Once known, the identity comes from "show" straight away.
    device_->Clear();
    EXPECT_EQ(VerCommand(*link_, 1), 1);
    EXPECT_EQ(Sent(), std::vector<std::string>{"show\r"});
}

TEST_F(ConnectionTest, VerCommandHearingTheLoader) {
    Script([](const std::string&) { return std::string("+12+\r"); });
    EXPECT_EQ(VerCommand(*link_, 0), kDCLoaderAnswered);
    EXPECT_EQ(Sent().size(), 1u) << "-80 at once";
    EXPECT_EQ(link_->settings.typeCode, 0);
    EXPECT_TRUE(Logged("VerCommand failed with error -80"));

    // A loader waiting for a host answers every carriage return with "$".
    device_->Clear();
    Script([](const std::string&) { return std::string("$"); });
    const uint32_t start = TickMs();
    EXPECT_EQ(VerCommand(*link_, 0), kDCLoaderPrompt);
    const uint32_t took = TickMs() - start;
    EXPECT_EQ(Sent().size(), 2u);
    EXPECT_GE(took, 3000u) << "one 3-second pause";
    EXPECT_LT(took, 6000u) << "and only one";
}

TEST_F(ConnectionTest, VerCommandGivesUpOnAnswersItCannotRead) {
    SetTries(1);
    Script([](const std::string&) { return Answer("hello there"); });
    EXPECT_EQ(VerCommand(*link_, 0), kDCBadAnswer);
    EXPECT_EQ(Sent().size(), 4u) << "tries + 3 attempts";
    EXPECT_TRUE(Logged("VerCommand couldn't decipher"));

    // Bare prompts end the attempts after the third.
    device_->Clear();
    Script([](const std::string&) { return std::string(">"); });
    EXPECT_EQ(VerCommand(*link_, 0), kDCBadAnswer);
    EXPECT_EQ(Sent().size(), 3u);

    // A version line that never ends is no identity.
    device_->Clear();
    Script([](const std::string&) { return std::string("\rTalox 2.29"); });
    EXPECT_EQ(VerCommand(*link_, 0), kDCBadAnswer);
    EXPECT_EQ(link_->settings.versionNumber, 0);

    // An echo of the first two characters looks like a relay.
    device_->Clear();
    Script([](const std::string&) { return std::string("g>"); });
    EXPECT_EQ(VerCommand(*link_, 0), kDCEcho);

    // Long garbage is cut to the answer buffer and read safely.
    Script([](const std::string&) { return "\r" + std::string(300, '.') + "\r>"; });
    EXPECT_LT(VerCommand(*link_, 0), 0);
}

TEST_F(ConnectionTest, ParseShowCommandRules) {
    Identify(kDevTypeTalox, 229);
    EXPECT_EQ(ParseShowCommand(*link_, nullptr), kDCOutOfRange);
    EXPECT_TRUE(Logged("ParseShowCommand doesn't work with devices running \"new\" firmware."));

    Identify(kDevTypeTalo, 0, false);
    Script([](const std::string&) { return Answer("ID: OLD\rVersion: 1.05\rWake: 10"); });
    const std::string before = LogText();
    EXPECT_EQ(ParseShowCommand(*link_, nullptr), kDCNotSupported);
    EXPECT_EQ(LogText(), before) << "nothing is logged for firmware below 1.10";

    Identify(kDevTypeTalo, 0, false);
    Script([](const std::string&) { return Answer("ID: OLD\rVersion: 1.50\rRadio: x\rWake: 10"); });
    EXPECT_EQ(ParseShowCommand(*link_, nullptr), kDCBadAnswer);
    EXPECT_TRUE(Logged("ParseShowCommand failed with errors"));
    EXPECT_EQ(link_->settings.versionNumber, -1);
    EXPECT_EQ(link_->settings.measurementInterval, -1);
    EXPECT_STREQ(link_->settings.deviceName, "");

    char name[9] = "junk";
    Script([](const std::string&) { return Answer("ID: OTHER99\rVersion: 1.50"); });
    EXPECT_EQ(ParseShowCommand(*link_, name), 1);
    EXPECT_STREQ(name, "OTHER99");
    Script([](const std::string&) { return Answer("Version: 1.50"); });
    EXPECT_EQ(ParseShowCommand(*link_, name), kDCBadAnswer) << "no name to read";

    // A label at the very end of the answer is read safely.
    Script([](const std::string&) { return std::string("\rVersion: 1.50\rID:"); });
    EXPECT_EQ(ParseShowCommand(*link_, nullptr), kDCBadAnswer);
}

TEST_F(ConnectionTest, SetBaudCommandCases) {
    SetTries(1);
    Identify(kDevTypeTalo, 165, false);
    EXPECT_EQ(SetBaudCommand(*link_, 115200), kDCNoBaudChange);
    EXPECT_TRUE(Sent().empty());

    Identify(kDevTypeTalox, 229);
    Script(nullptr);
    EXPECT_EQ(SetBaudCommand(*link_, 9600), 1) << "silence after asking for 9600 is success";

    Script([](const std::string&) { return std::string("\rOK"); });
    EXPECT_EQ(SetBaudCommand(*link_, 14400), 1);
    EXPECT_TRUE(Logged("SetBaudCommand: unsupported baud rate 14400, using 9600"));
    EXPECT_EQ(SetBaudCommand(*link_, 115200), 1);
    EXPECT_EQ(SetBaudCommand(*link_, 460800), 1);

    Script([](const std::string&) { return std::string("\rhmm\r>"); });
    EXPECT_EQ(SetBaudCommand(*link_, 57600), kDCBadAnswer);
    Script([](const std::string&) { return std::string("\rwhatK"); });
    EXPECT_EQ(SetBaudCommand(*link_, 57600), kDCBadAnswer);
    EXPECT_TRUE(Logged("SetBaudCommand failed: heard: "));
    EXPECT_EQ(Sent(),
              (std::vector<std::string>{"set -baud 0\r", "set -baud 0\r", "set -baud 4\r",
                                        "set -baud 6\r", "set -baud 3\r", "set -baud 3\r"}));
}

TEST_F(ConnectionTest, CableLoginAgreesAHigherSpeedAndDisconnectReturnsTo9600) {
    Script([](const std::string& m) {
        if (m == "get -ver\r") return Answer("Talox 2.29");
        if (m.rfind("set -baud", 0) == 0) return std::string("\rOK");
        return Answer("Unsupported");
    });
    ConnectionRequest r = Request(kLinkCable, 6);
    ASSERT_EQ(Connect(r), 1);
    EXPECT_EQ(link_->port.baud, 115200u);
    EXPECT_EQ(r.baudCode, 6);
    EXPECT_EQ(link_->connection.linkKind, kLinkCable);
    EXPECT_TRUE(
        Logged("DeviceLogin communicating with a device running Talox 2.29 at 115200 baud"));

    EXPECT_EQ(DisconnectDevice(*link_, 0), 1);
    const auto sent = Sent();
    const auto speeds = device_->Speeds();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1], "set -baud 4\r");
    EXPECT_EQ(speeds[1], B9600);
    EXPECT_EQ(sent[2], "set -baud 0\r");
    EXPECT_EQ(speeds[2], B115200) << "the device is sent back to 9600 at the agreed speed";
    EXPECT_EQ(link_->port.handle, -1);
    EXPECT_EQ(link_->connection.linkKind, kLinkNone);
    EXPECT_EQ(link_->settings.versionNumber, 0) << "the record is cleared";
    EXPECT_EQ(DisconnectDevice(*link_, 0), 0) << "nothing connected";
}

TEST_F(ConnectionTest, CableLoginStaysAt9600WhenTheDeviceRefuses) {
    SetTries(1);
    Script([](const std::string& m) {
        if (m == "get -ver\r") return Answer("Talox 2.29");
        return Answer("ERROR");
    });
    ConnectionRequest r = Request(kLinkCable, 6);
    ASSERT_EQ(Connect(r), 1);
    EXPECT_EQ(link_->port.baud, 9600u);
    EXPECT_EQ(r.baudCode, 2);
    EXPECT_TRUE(Logged("DeviceLogin: device didn't change baud rate"));

    // At 9600 a cable disconnect sends nothing.
    device_->Clear();
    EXPECT_EQ(DisconnectDevice(*link_, 0), 1);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(ConnectionTest, SilentCableDeviceClosesThePortAgain) {
    SetTries(1);
    Script(nullptr);
    ConnectionRequest r = Request(kLinkCable);
    EXPECT_EQ(Connect(r), kDCNoListener);
    EXPECT_TRUE(Logged("DeviceLogin: nothing is listening over the serial port"));
    EXPECT_EQ(link_->port.handle, -1);
    EXPECT_EQ(link_->connection.linkKind, kLinkNone);

    LinkOptions options;
    DeviceOptions(*link_, options, 0);
    options.keepPortOpen = 1;
    DeviceOptions(*link_, options, 1);
    EXPECT_EQ(Connect(r), kDCNoListener);
    EXPECT_GE(link_->port.handle, 0) << "keep-port-open leaves it open";
}

TEST_F(ConnectionTest, ConnectRefusesBadRequests) {
    EXPECT_EQ(ConnectDevice(*link_, nullptr), kDCMissingArgument);
    ConnectionRequest r = Request(kLinkNone);
    EXPECT_EQ(ConnectDevice(*link_, &r), kDCOutOfRange);
    for (uint8_t kind : {20, 40, 100, 110, 120}) {
        r = Request(kind);
        EXPECT_EQ(ConnectDevice(*link_, &r), kDCNotSupported) << int(kind);
    }
    r = Request(99);
    EXPECT_EQ(ConnectDevice(*link_, &r), kDCMissingArgument);
    r = Request(kLinkCable);
    snprintf(r.portName, sizeof r.portName, "/dev/nonex");
    TSClose(link_->port);
    EXPECT_EQ(ConnectDevice(*link_, &r), kTSErrMissing);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(ConnectionTest, RadioLoginByNameAndLogout) {
    Script([](const std::string& m) {
        if (m == "login LOGGER01\r") return Ok();
        return std::string();
    });
    ConnectionRequest r = Request(kLinkRadio, 6, "LOGGER01");
    ASSERT_EQ(Connect(r), 1);
    EXPECT_STREQ(link_->settings.deviceName, "LOGGER01");
    EXPECT_EQ(r.baudCode, 2) << "radio links run at 9600";
    EXPECT_EQ(link_->tries, 5u);

    device_->Clear();
    // The logger has left: the login after the logout is not answered.
    Script(nullptr);
    EXPECT_EQ(DisconnectDevice(*link_, 0), 1);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"logout\r", "login LOGGER01\r"}));
    EXPECT_TRUE(Logged("DisconnectDevice successful"));
}

TEST_F(ConnectionTest, RadioLoggerThatStaysIsRetriedThenReported) {
    SetTries(3, 2);
    Script([](const std::string& m) {
        if (m.rfind("login", 0) == 0) return Ok();
        return std::string();
    });
    ConnectionRequest r = Request(kLinkRadio, 0, "LOGGER01");
    ASSERT_EQ(Connect(r), 1);
    device_->Clear();
    EXPECT_EQ(DisconnectDevice(*link_, 0), kDCLastTrySilent);
    EXPECT_EQ(Sent().size(), 4u) << "two tries of logout and login";
    EXPECT_TRUE(Logged("DisconnectDevice: Device didn't disconnect, retrying"));
}

TEST_F(ConnectionTest, RadioLoginLearnsTheNameOfWhoAnswers) {
    Script([](const std::string& m) {
        if (m == "query\r") return std::string("LOGGER07\r");
        if (m == "login LOGGER07\r") return Ok();
        return std::string();
    });
    ConnectionRequest r = Request(kLinkRadio);
    ASSERT_EQ(Connect(r), 1);
    EXPECT_STREQ(r.deviceName, "LOGGER07") << "the name heard is written back";
    EXPECT_STREQ(link_->settings.deviceName, "LOGGER07");
}

TEST_F(ConnectionTest, DestroyingAConnectedRadioLinkLogsOut) {
    Script([](const std::string& m) { return m == "login LOGGER01\r" ? Ok() : std::string(); });
    ConnectionRequest r = Request(kLinkRadio, 0, "LOGGER01");
    ASSERT_EQ(Connect(r), 1);
    device_->Clear();
    Script(nullptr);
    link_.reset();
    EXPECT_EQ(Sent(), (std::vector<std::string>{"logout\r", "login LOGGER01\r"}));
}

// Slow (about a minute): the whole wake sequence is part of the rule.
TEST_F(ConnectionTest, RadioLoginWithNobodyAnsweringQueriesWakesAndQueriesAgain) {
    SetTries(3, 1);
    Script(nullptr);
    ConnectionRequest r = Request(kLinkRadio);
    EXPECT_EQ(Connect(r), kDCNoListener);
    const auto sent = Sent();
    // "\rquery\r" is an empty line and "query"; the wake sequence is 909 empty lines.
    ASSERT_EQ(sent.size(), 2u + 909u + 2u);
    EXPECT_EQ(sent[1], "query\r");
    for (size_t i = 2; i < 2 + 909; ++i) ASSERT_EQ(sent[i], "\r") << i;
    EXPECT_EQ(sent.back(), "query\r");
    EXPECT_TRUE(Logged("DeviceLogin: nothing is listening over the radio"));
    EXPECT_EQ(link_->connection.linkKind, kLinkNone);
}

TEST_F(ConnectionTest, ModemConfigurationReadsAndWrites) {
    std::map<std::string, std::string> modem = {
        {"+++", "OK\r"},    {"ATHP\r", "3\r"},  {"ATDT\r", "1F\r"},  {"ATVR\r", "V2.1\r"},
        {"ATCN\r", "OK\r"}, {"ATWR\r", "OK\r"}, {"ATHP5\r", "OK\r"}, {"ATDTA\r", "OK\r"}};
    Script([&modem](const std::string& m) {
        auto it = modem.find(m);
        return it == modem.end() ? std::string("ERROR\r") : it->second;
    });
    int32_t channel = 0, sub = 0;
    uint32_t bits = 0x400;
    EXPECT_EQ(Zl4Config(*link_, &channel, &sub, nullptr, 0, &bits), 1);
    EXPECT_EQ(bits, 0x400u);
    EXPECT_EQ(channel, 3);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"+++", "ATHP\r", "ATCN\r"}));

    char version[9] = {};
    bits = 0x1C00;
    EXPECT_EQ(Zl4Config(*link_, &channel, &sub, version, 0, &bits), 1);
    EXPECT_EQ(bits, 0x1C00u);
    EXPECT_EQ(sub, 31);
    EXPECT_STREQ(version, "V2.1");

    device_->Clear();
    channel = 5;
    sub = 10;
    bits = 0xC00;
    EXPECT_EQ(Zl4Config(*link_, &channel, &sub, nullptr, 1, &bits), 1);
    EXPECT_EQ(bits, 0xC00u);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"+++", "ATHP5\r", "ATDTA\r", "ATWR\r", "ATCN\r"}));
    EXPECT_TRUE(Logged("Zl4Config saved configuration"));

    // Only part of it done.
    SetTries(1);
    modem.erase("ATDTA\r");
    bits = 0xC00;
    EXPECT_EQ(Zl4Config(*link_, &channel, &sub, nullptr, 1, &bits), kDCPartial);
    EXPECT_EQ(bits, 0x400u);
    EXPECT_TRUE(Logged("Zl4Config failed with error -35"));
}

TEST_F(ConnectionTest, ModemThatNeverEntersCommandModeFailsTheRadioConnection) {
    SetTries(1, 1);
    Script(nullptr);
    int32_t channel = 0;
    uint32_t bits = 0x400;
    EXPECT_EQ(Zl4Config(*link_, &channel, nullptr, nullptr, 0, &bits), kDCRadioConfig);
    EXPECT_EQ(bits, 0u);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"+++", "+++"}));
    EXPECT_TRUE(Logged("Zl4Config failed to get into AT command mode"));

    ConnectionRequest r = Request(kLinkRadio, 0, "LOGGER01");
    r.configureRadio = 1;
    r.radioChannel = 2;
    EXPECT_EQ(Connect(r), kDCRadioConfig);
    EXPECT_EQ(link_->port.handle, -1);
}

}  // namespace
}  // namespace tarsa
