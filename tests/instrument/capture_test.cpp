// Settings capture and restore of the text-command instruments against a
// scripted instrument: the walk over the flag word, its stops and gaps and
// the serial-number rules. (Round trips of every type run against the
// simulated instruments in capture_sim_test.cpp.)
#include <algorithm>

#include "instrument_test_support.h"

namespace tarsa::test {
namespace {

using Capture = InstrumentFixture;

// Every option word the capture uses, with a value that differs from the
// factory default ("0").
std::map<std::string, std::string> NonDefaultValues() {
    return {
        {"i", "NAME1"},       {"sn", "SN-4711"},     {"lang", "2"},       {"contr", "-5"},
        {"fvals", "1 2 3"},   {"uvals", "4 5"},      {"pvuser", "7 8 9"}, {"units", "3"},
        {"adc", "512"},       {"int", "9"},          {"adccal", "1.01"},  {"config", "1234"},
        {"wtoffset", "0.3"},  {"p1offset", "0.4"},   {"auto", "60"},      {"usage", "field"},
        {"wtfactory", "0.9"}, {"adc15", "15 15"},    {"adc30", "30 30"},  {"sample", "10"},
        {"loc", "Lake 4"},    {"x", "chai1"},        {"ext", "ext1"},     {"tadj", "0.5"},
        {"hadj", "0.25"},     {"tau", "30"},         {"sys", "sys1"},     {"p", "p-values"},
        {"pv", "pv-values"},  {"c76", "c76-values"}, {"p0", "P0"},        {"p3", "P3"},
        {"p5", "P5"},         {"lwidth", "LW"},      {"ltemp", "LT"},     {"current", "CU"},
        {"p1", "P1"},         {"cal 0", "C0"},       {"cal 1", "C1"},     {"cal 2", "C2"},
    };
}

std::map<std::string, std::string> FactoryValues() {
    std::map<std::string, std::string> values = NonDefaultValues();
    for (auto& [key, value] : values) value = "0";
    return values;
}

TEST_F(Capture, EmptyFlagWordsAndBitsWithoutCommandsSendNothing) {
    FakeInstrument& fake = Fake("DRAXO 1.00", NonDefaultValues());
    ConnectFake(fake);
    const size_t before = device_->Messages().size();
    EXPECT_EQ(GetInstInfo(*tp_, 0), 0);
    EXPECT_TRUE(Logged("GetInstInfo should be called with non-zero flags"));
    EXPECT_EQ(SetInstInfo(*tp_, 0), 0);
    EXPECT_EQ(GetInstInfo(*tp_, kInstUnused), 1);
    EXPECT_EQ(SetInstInfo(*tp_, kInstInt), kTPBadAnswer);
    EXPECT_EQ(device_->Messages().size(), before);
}

TEST_F(Capture, ARejectedSettingLeavesAGapAndTheOthersAreRead) {
    std::map<std::string, std::string> values = NonDefaultValues();
    values.erase("lang");
    FakeInstrument& fake = Fake("HMINI 1.20", values);
    ConnectFake(fake);
    EXPECT_EQ(GetInstInfo(*tp_, CaptureFlags(*tp_)), kTPPartial);
    EXPECT_EQ(tp_->instrumentSettings.flags, 0x4000007Au & ~kInstLang);
    EXPECT_TRUE(Logged("GetInstInfo could not collect all settings"));

    // The file keeps the gap: the capture still succeeds with -35.
    EXPECT_EQ(TPSaveInfo(*tp_, folder_.File("s.txt").c_str()), kTPPartial);
    EXPECT_EQ(tp_->savedFlags, 0x4000007Au & ~kInstLang);
}

TEST_F(Capture, ALastFailingSettingIsAGapUnlessNothingWasRead) {
    std::map<std::string, std::string> values = {{"sn", "S1"}};
    FakeInstrument& fake = Fake("DRAXO 1.00", values);
    ConnectFake(fake);
    // The contrast is read after the serial number, and is missing.
    EXPECT_EQ(GetInstInfo(*tp_, kInstSn | kInstContr), kTPPartial);
    EXPECT_EQ(GetInstInfo(*tp_, kInstContr), kDCRejected);
}

TEST_F(Capture, AnEchoStopsTheCaptureAtOnce) {
    ASSERT_EQ(StartAndConnect([](const std::string& m) {
                  if (m == "get -ver\r") return Answer("TK 1.00");
                  if (m == "get -sn\r") return Answer("S1");
                  return m + "\r>";  // a relay repeating the command
              }),
              1);
    EXPECT_EQ(GetInstInfo(*tp_, 0x100192), kDCEcho);
    const auto sent = SentSinceConnect();
    // The contrast read heard its echo (three tries of the read, none of the
    // exchange); nothing after it was sent.
    EXPECT_EQ(sent, (std::vector<std::string>{"get -sn\r", "get -contr\r", "get -contr\r",
                                              "get -contr\r"}));
}

TEST_F(Capture, SerialNumberReadThatSaysOkIsRetried) {
    int reads = 0;
    ASSERT_EQ(StartAndConnect([&reads](const std::string& m) {
                  if (m == "get -ver\r") return Answer("DRAXO 1.00");
                  if (m == "get -sn\r") return ++reads < 3 ? Answer("OK") : Answer("D-1");
                  return Answer("Unsupported");
              }),
              1);
    EXPECT_EQ(GetInstInfo(*tp_, kInstSn), 1);
    EXPECT_STREQ(tp_->instrumentSettings.sn, "D-1");
    EXPECT_EQ(reads, 3);
}

TEST_F(Capture, SerialNumberRejectedOnRestoreIsReportedAsSuch) {
    ASSERT_EQ(StartAndConnect([](const std::string& m) {
                  if (m == "get -ver\r") return Answer("DRAXO 1.00");
                  return Answer("ERROR");
              }),
              1);
    SetText(tp_->instrumentSettings.sn, "D-1");
    EXPECT_EQ(SetInstInfo(*tp_, kInstSn), kTPSerialRejected);
}

TEST_F(Capture, Hygra8SerialChangeCorrectsTheConfigAndWritesSerialFirst) {
    std::map<std::string, std::string> values = FactoryValues();
    values["sn"] = "A1";
    values["config"] = "1000";
    FakeInstrument& fake = Fake("H8 2.05", values);
    ConnectFake(fake);
    const std::string path = folder_.File("h8.txt");
    ASSERT_EQ(TPSaveInfo(*tp_, path.c_str()), 1);
    const auto sent = device_->Messages();
    EXPECT_NE(std::find(sent.begin(), sent.end(), "set -sensor 0\r"), sent.end());
    EXPECT_TRUE(Logged("TPSaveInfo set HS8 sensor type to '0'"));

    const size_t before = device_->Messages().size();
    EXPECT_EQ(TPRestoreInfo(*tp_, path.c_str(), "B1"), 1);
    EXPECT_EQ(fake.Values().at("sn"), "B1");
    EXPECT_EQ(fake.Values().at("config"), "1001");
    std::vector<std::string> writes;
    const auto all = device_->Messages();
    for (size_t i = before; i < all.size(); ++i) {
        if (all[i].rfind("set -sn", 0) == 0 || all[i].rfind("set -config", 0) == 0) {
            writes.push_back(all[i]);
        }
    }
    EXPECT_EQ(writes, (std::vector<std::string>{"set -sn B1\r", "set -config 1001\r"}));
}

TEST_F(Capture, CorrectedConfigIsWrittenOnlyWhenTheNewSerialNumberWasConfirmed) {
    // A refused or unconfirmed "set -sn" leaves the old serial number in the
    // instrument: its config must stay the one that belongs to it.
    for (const char* refusal : {"ERROR", "Busy"}) {
        SCOPED_TRACE(refusal);
        std::map<std::string, std::string> values = FactoryValues();
        values["sn"] = "A1";
        values["config"] = "1000";
        FakeInstrument& fake = Fake("H8LZR 2.10", values);
        ConnectFake(fake);
        const std::string path = folder_.File("lzr.txt");
        ASSERT_EQ(TPSaveInfo(*tp_, path.c_str()), 1);
        fake.refuseSet = "sn";
        fake.refusal = refusal;
        EXPECT_EQ(TPRestoreInfo(*tp_, path.c_str(), "B1"), kTPPartial);
        EXPECT_EQ(fake.Values().at("sn"), "A1");
        EXPECT_EQ(fake.Values().at("config"), "1000");
        TPDisconnect(*tp_, false);
    }
}

TEST_F(Capture, RecordsThatCouldNotBeReadAreNotClearedByTheRestore) {
    FakeInstrument& fake = Fake("H8 2.05", FactoryValues());
    fake.equations = {"E0 1", "E1 2"};
    fake.refuseGet = "eqn";  // the count is answered, every record read refused
    ConnectFake(fake);
    const std::string path = folder_.File("h8.txt");
    EXPECT_EQ(TPSaveInfo(*tp_, path.c_str()), kTPPartial);
    EXPECT_EQ(tp_->savedFlags & kInstEquations, 0u);
    EXPECT_EQ(TPRestoreInfo(*tp_, path.c_str(), nullptr), 1);
    EXPECT_EQ(fake.equations, (std::vector<std::string>{"E0 1", "E1 2"}));

    // A list marked as captured that holds no record is not written either.
    EXPECT_EQ(SetInstInfo(*tp_, kInstEquations), kTPBadAnswer);
    const auto sent = device_->Messages();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "reset -eqn\r"), 0);
}

TEST_F(Capture, ConfigIsLeftAloneWhenItWasNotCaptured) {
    std::map<std::string, std::string> values = FactoryValues();
    values.erase("config");
    values["sn"] = "A1";
    FakeInstrument& fake = Fake("H8LZR 2.10", values);
    ConnectFake(fake);
    EXPECT_EQ(TPSaveInfo(*tp_, folder_.File("lzr.txt").c_str()), kTPPartial);
    EXPECT_EQ(TPRestoreInfo(*tp_, folder_.File("lzr.txt").c_str(), "B1"), 1);
    EXPECT_EQ(fake.Values().at("sn"), "B1");
    const auto sent = device_->Messages();
    EXPECT_EQ(std::count_if(sent.begin(), sent.end(),
                            [](const std::string& m) { return m.rfind("set -config", 0) == 0; }),
              0);
}

TEST_F(Capture, TypesWithoutACaptureRowWriteNoFile) {
    FakeInstrument& fake = Fake("FENNIK 1.00", NonDefaultValues());
    ConnectFake(fake);
    const std::string path = folder_.File("fennik.txt");
    EXPECT_EQ(TPSaveInfo(*tp_, path.c_str()), kTPNotApplicable);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(tp_->captured, 0);
    EXPECT_TRUE(Logged("TPSaveInfo received error -13 trying to collect device settings"));
}

TEST_F(Capture, RestoreWithoutCaptureOrFileFailsAndSendsNothing) {
    FakeInstrument& fake = Fake("TK 1.00", FactoryValues());
    ConnectFake(fake);
    const size_t before = device_->Messages().size();
    EXPECT_EQ(TPRestoreInfo(*tp_, folder_.File("none.txt").c_str(), nullptr), kTPFileNotFound);
    EXPECT_EQ(device_->Messages().size(), before);
    EXPECT_EQ(tp_->captured, 0);
    EXPECT_TRUE(Logged("TPRestoreInfo received error -102 trying to read device settings from"));
}

TEST_F(Capture, CalibrationEntriesStopAtTheFirstFailure) {
    std::map<std::string, std::string> values = {{"cal 0", "C0"}, {"cal 1", "C1"}};
    FakeInstrument& fake = Fake("HD 1.00", values);
    ConnectFake(fake);
    EXPECT_EQ(GetInstInfo(*tp_, kInstCalSlots), 1);
    EXPECT_STREQ(tp_->instrumentSettings.slots[1], "C1");
    EXPECT_STREQ(tp_->instrumentSettings.slots[2], "");

    FakeInstrument& none = Fake("HD 1.00", {});
    ConnectFake(none);
    tp_->instrumentSettings = InstrumentSettings{};
    EXPECT_EQ(GetInstInfo(*tp_, kInstCalSlots), kDCRejected);
    EXPECT_EQ(tp_->instrumentSettings.flags, 0u);
}

TEST_F(Capture, ALoggerWithoutANameIsNotSaved) {
    ASSERT_EQ(StartAndConnect([](const std::string& m) {
                  if (m == "get -ver\r") return Answer("Talox 2.29");
                  if (m == "get -i\r") return std::string("\r\r>");  // no name
                  return Answer("ERROR");
              }),
              1);
    const std::string path = folder_.File("unnamed.txt");
    EXPECT_EQ(TPSaveInfo(*tp_, path.c_str()), kTPUninitialized);
    EXPECT_EQ(tp_->captured, 0);
    EXPECT_EQ(tp_->savedFlags, 0u);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(Logged("TPSaveInfo does not save data for an uninitialized device"));
}

}  // namespace
}  // namespace tarsa::test
