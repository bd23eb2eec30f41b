// Capture and restore of every text-command instrument type with a capture
// row, against the simulated instruments: capture from a configured device,
// write the settings file, read it into a fresh object, restore to a device
// with factory settings, and compare the two devices setting by setting and
// record by record.
#include <ctime>
#include <string>

#include "instrument_test_support.h"
#include "serial/timing.h"
#include "sim/simulator.h"

namespace tarsa::test {
namespace {

using sim::DeviceConfig;
using sim::Simulator;

// The config the Hygra 8 models print: the options number plus the sum of
// the serial number's character codes.
std::string CheckedConfig(int options, const std::string& serial) {
    int sum = options;
    for (char c : serial) sum += static_cast<signed char>(c);
    return std::to_string(sum);
}

struct Case {
    const char* device;
    std::map<std::string, std::string> settings;  // differ from the factory's
    std::vector<std::string> equations = {};      // expected after the restore, in order
    std::vector<std::string> users = {};
    int saved = 1;  // what the capture returns
};

// Records set up on the devices that keep them: names that sort differently
// than they were stored, two of them equal but for case.
const std::vector<std::string> kStoredEquations = {"beta 3 4", "Alpha 1 2", "alpha 5 6"};
const std::vector<std::string> kSortedEquations = {"alpha 5 6", "Alpha 1 2", "beta 3 4"};
std::vector<std::string> StoredUsers() {
    return {Base64("1\t2\t3\tZed\tx"), Base64("4\t5\t6\tamy\ty")};
}
std::vector<std::string> SortedUsers() {
    return {StoredUsers()[1], StoredUsers()[0]};
}

std::vector<Case> Cases() {
    return {
        {"hmini",
         {{"sn", "HM-777"},
          {"lang", "3"},
          {"contr", "70"},
          {"fvals", "1.5 2.5"},
          {"uvals", "3.5 4.5"},
          {"hadj", "0.75"},
          {"tau", "120"}}},
        {"tk",
         {{"sn", "TK-555"},
          {"contr", "40"},
          {"units", "2"},
          {"adc", "1000 2000"},
          {"sample", "30"}}},
        {"sr40",
         {{"adccal", "5 1.2345"},
          {"loc", "Ridge 7"},
          {"x", "2.500"},
          {"ext", "1"},
          {"sn", "SR-31"},
          {"contr", "65"},
          {"config", "12"}}},
        {"vn", {{"sn", "VN-9"}, {"contr", "20"}, {"fvals", "7 8 9"}, {"units", "1"}}},
        {"srbl",
         {{"sn", "SB-4"},
          {"adccal", "3 0.9"},
          {"auto", "15"},
          {"wtfactory", "1.234"},
          {"sys", "mode 2"}},
         {},
         {},
         // The Sorbel's flag word also selects wtoffset and p1offset, which
         // the simulated Sorbel does not have.
         kTPPartial},
        {"h6b", {{"adccal", "2 1.1"}, {"config", "77"}}},
        {"tcd", {{"i", "TCDNAME"}, {"sn", "TCD-1"}}},
        {"hd",
         {{"i", "HANDRA1"},
          {"sn", "HD-2"},
          {"contr", "55"},
          {"cal0", "9 2.000 0.500"},
          {"cal1", "8 3.000 0.250"},
          {"cal7", "7 4.000 0.125"}}},
        {"h8",
         {{"sn", "H8-123"},
          {"config", CheckedConfig(5000, "H8-123")},
          {"tadj", "0.1 0.2"},
          {"pvuser", "1 2 3"}},
         kSortedEquations,
         SortedUsers()},
        {"hvx",
         {{"sn", "HVX-8"},
          {"config", "99"},
          {"p", "p1 p2"},
          {"pv", "pv1"},
          {"c76", "c76x"},
          {"tadj", "0.3"}},
         {},
         SortedUsers()},
        {"px9t", {{"sn", "PX-1"}, {"config", "5"}}},
        {"vel", {{"sn", "VL-1"}, {"config", "6"}}},
        {"h8lzr",
         {{"sn", "LZ-9"},
          {"p0", "1.1"},
          {"p3", "3.3"},
          {"p5", "5.5"},
          {"lwidth", "0.7"},
          {"ltemp", "21.5"},
          {"current", "12.0"},
          {"p1", "0.9"},
          {"config", CheckedConfig(300, "LZ-9")},
          {"tadj", "0.4 0.5"}},
         kSortedEquations,
         SortedUsers()},
        {"imb",
         {{"sn", "IMB-3"},
          {"contr", "30"},
          {"usage", "lab"},
          {"p", "p-imb"},
          {"units", "kPa"},
          {"tadj", "0.6"}}},
        {"draxo", {{"sn", "DX-42"}}},
    };
}

// What Settings() reports that is no setting of the capture: the clock, the
// stored data, restarts, the login state, the battery, and the Hygra 8's
// sensor type, which the capture itself sets to 0. An option reported empty
// counts as one not reported.
std::map<std::string, std::string> SettingsOf(const Simulator& device) {
    auto settings = device.Settings();
    for (const char* word :
         {"clock", "records", "resets", "login", "batt", "baud", "build", "rver", "sensor"}) {
        settings.erase(word);
    }
    std::erase_if(settings, [](const auto& entry) { return entry.second.empty(); });
    return settings;
}

class CaptureRoundTrip : public InstrumentFixture, public ::testing::WithParamInterface<Case> {
  protected:
    // Connects and, where the instrument asks for it, logs in.
    void Open(Tarsa_protocol& tp, const Simulator& device) {
        InstrumentIdentity identity;
        ASSERT_EQ(TPConnect(tp, device.PortPath().c_str(), 2, 3, &identity), 1);
        if (identity.needsLogin) {
            ASSERT_EQ(TPLogin(tp), 1);
        }
    }
};

TEST_P(CaptureRoundTrip, SettingsAndRecordsComeBackThroughTheSettingsFile) {
    const Case& c = GetParam();
    DeviceConfig configured;
    configured.settings = c.settings;
    if (!c.equations.empty()) {
        for (size_t i = 0; i < kStoredEquations.size(); ++i) {
            configured.settings["eqn0" + std::to_string(i)] = kStoredEquations[i];
        }
    }
    if (!c.users.empty()) {
        const auto users = StoredUsers();
        for (size_t i = 0; i < users.size(); ++i) {
            configured.settings["user0" + std::to_string(i)] = users[i];
        }
    }
    auto source = Simulator::Start(c.device, configured);
    auto target = Simulator::Start(c.device);
    ASSERT_TRUE(source && target);
    ASSERT_NE(SettingsOf(*source), SettingsOf(*target));

    const std::string path = folder_.File("instrument.settings.txt");
    ASSERT_NO_FATAL_FAILURE(Open(*tp_, *source));
    EXPECT_EQ(TPSaveInfo(*tp_, path.c_str()), c.saved);
    TPDisconnect(*tp_, true);

    // A fresh object, as after a restart of the program: the restore reads
    // the file.
    Tarsa_protocol fresh(log_.get());
    ASSERT_NO_FATAL_FAILURE(Open(fresh, *target));
    EXPECT_EQ(TPRestoreInfo(fresh, path.c_str(), nullptr), 1);
    TPDisconnect(fresh, true);

    EXPECT_EQ(SettingsOf(*target), SettingsOf(*source));
    EXPECT_EQ(target->Records("eqn"), c.equations);
    EXPECT_EQ(target->Records("user"), c.users);
}

INSTANTIATE_TEST_SUITE_P(EveryCapturedType, CaptureRoundTrip, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& param) {
                             return std::string(param.param.device);
                         });

using SimulatedInstrument = InstrumentFixture;

// The Hygra 8 keeps its options in a config value checksummed with the
// serial number: a new serial number must come with a corrected config.
TEST_F(SimulatedInstrument, NewSerialNumberKeepsTheHygra8Options) {
    DeviceConfig configured;
    configured.settings = {{"sn", "A1"}, {"config", CheckedConfig(4321, "A1")}};
    auto device = Simulator::Start("h8", configured);
    ASSERT_TRUE(device);
    ASSERT_EQ(TPConnect(*tp_, device->PortPath().c_str(), 2, 3, &identity_), 1);
    ASSERT_EQ(TPLogin(*tp_), 1);
    ASSERT_EQ(TPSaveInfo(*tp_, folder_.File("h8.txt").c_str()), 1);
    EXPECT_EQ(TPRestoreInfo(*tp_, folder_.File("h8.txt").c_str(), "B77"), 1);
    const auto settings = device->Settings();
    EXPECT_EQ(settings.at("sn"), "B77");
    EXPECT_EQ(settings.at("config"), CheckedConfig(4321, "B77"));
}

TEST_F(SimulatedInstrument, MaintenanceCommandsOnAThermik) {
    DeviceConfig configured;
    configured.settings = {{"batt", "42"}};
    auto device = Simulator::Start("tk", configured);
    ASSERT_TRUE(device);
    ASSERT_EQ(TPConnect(*tp_, device->PortPath().c_str(), 2, 3, &identity_), 1);
    int32_t percent = 0;
    EXPECT_EQ(TPCheckBattery(*tp_, &percent), 1);
    EXPECT_EQ(percent, 42);
    EXPECT_EQ(TPCheckFirmware(*tp_, identity_.postInit), 1);

    const time_t now = time(nullptr);
    tp_->clock = [now] { return now; };
    EXPECT_EQ(TPSetTime(*tp_), 1);
    const long long expected = static_cast<long long>(now) + UtcOffsetSeconds() - 946684800;
    EXPECT_NEAR(std::stoll(device->Settings().at("clock")), expected, 5);

    EXPECT_NE(device->Settings().at("records"), "0");
    EXPECT_EQ(TPEraseData(*tp_), 1);
    EXPECT_EQ(device->Settings().at("records"), "0");
}

TEST_F(SimulatedInstrument, BrokenDataFlashIsReported) {
    DeviceConfig broken;
    broken.brokenDataFlash = true;
    auto device = Simulator::Start("imb", broken);
    ASSERT_TRUE(device);
    ASSERT_EQ(TPConnect(*tp_, device->PortPath().c_str(), 2, 3, &identity_), 1);
    EXPECT_EQ(TPEraseData(*tp_), kTPDataFlash);
}

}  // namespace
}  // namespace tarsa::test
