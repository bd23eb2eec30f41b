// The instrument protocol against whole simulated devices: connecting to a
// Talox and to one whose loader is waiting, and the settings of a Talox
// carried through the settings file from a configured logger to a factory
// fresh one.
#include <set>

#include "instrument_test_support.h"
#include "sdi12/sensor_operations.h"
#include "sim/simulator.h"

namespace tarsa::test {
namespace {

using sim::DeviceConfig;
using sim::Simulator;

class SimulatedDevice : public InstrumentFixture {
  protected:
    int Connect(Tarsa_protocol& tp, const Simulator& device) {
        InstrumentIdentity identity;
        return TPConnect(tp, device.PortPath().c_str(), 2, 3, &identity);
    }
};

// A Talox configured in the field: everything differs from the factory.
DeviceConfig ConfiguredTalox(bool modems = true) {
    DeviceConfig config;
    config.radioModem = modems;
    config.cellular = modems;
    config.radioChannel = 3;
    config.radioSubChannel = 0x1234;
    config.settings = {
        {"i", "LAKE4"},
        {"sn", "TX-0042"},
        {"devid", "DEV00042"},
        {"site", "North field"},
        {"depth", "10 20 30 40 50"},
        {"lat", "-33.12345"},
        {"long", "151.5"},
        {"tz", "-20"},
        {"report", "3"},
        {"w", "600"},
        {"padc", "50"},
        {"ports", "1 2 3 4 5"},
        {"r", "2"},
        {"data", "7"},
        {"adc30", "101 201 102 202 103 203 104 204 105 205"},
        {"adc15", "11 21 12 22 13 23 14 24 15 25"},
    };
    if (modems) {
        config.settings.insert({{"apn", "field.apn"},
                                {"user", "fielduser"},
                                {"passwd", "s3cret"},
                                {"host", "data.example.org"},
                                {"authkey", "0123456789abcdef0123456789ABCDEF"},
                                {"ipport", "8080"}});
    }
    return config;
}

TEST_F(SimulatedDevice, ConnectsToATaloxAndFindsAWaitingLoader) {
    auto talox = Simulator::Start("talox");
    ASSERT_TRUE(talox);
    EXPECT_EQ(TPConnect(*tp_, talox->PortPath().c_str(), 2, 3, &identity_), 1);
    EXPECT_EQ(identity_.type, kTypeTalox);
    EXPECT_EQ(identity_.version, 229u);
    EXPECT_EQ(tp_->type, kTypeTalox);
    EXPECT_EQ(tp_->loggerSettings.typeCode, kDevTypeTalox);
    TPDisconnect(*tp_, false);

    DeviceConfig interrupted;
    interrupted.startInLoader = true;
    auto waiting = Simulator::Start("talox", interrupted);
    ASSERT_TRUE(waiting);
    EXPECT_EQ(TPConnect(*tp_, waiting->PortPath().c_str(), 2, 3, &identity_), kTPLoaderPrompt);
    EXPECT_TRUE(Logged("TPConnect found the TarsaBSL listening (-81)"));
}

// Everything Settings() reports except what is no setting: the clock, the
// line speed, the stored data, the restart count, the battery, and the build
// and radio version, which name firmware.
std::map<std::string, std::string> SettingsOf(const Simulator& device) {
    auto settings = device.Settings();
    for (const char* word : {"clock", "baud", "records", "resets", "batt", "build", "rver"}) {
        settings.erase(word);
    }
    return settings;
}

TEST_F(SimulatedDevice, TaloxSettingsSurviveThroughTheSettingsFile) {
    const std::string path = folder_.File("Talox.settings.txt");
    DeviceConfig factory;
    factory.radioModem = true;
    factory.cellular = true;
    auto source = Simulator::Start("talox", ConfiguredTalox());
    auto target = Simulator::Start("talox", factory);
    ASSERT_TRUE(source && target);
    ASSERT_NE(SettingsOf(*source), SettingsOf(*target));

    ASSERT_EQ(Connect(*tp_, *source), 1);
    EXPECT_EQ(TPSaveInfo(*tp_, path.c_str()), 1);
    EXPECT_EQ(tp_->captured, 1);
    TPDisconnect(*tp_, false);

    // A fresh object, as after a restart: the restore reads the file.
    Tarsa_protocol fresh(log_.get());
    ASSERT_EQ(Connect(fresh, *target), 1);
    EXPECT_EQ(TPRestoreInfo(fresh, path.c_str(), nullptr), 1);
    TPDisconnect(fresh, false);
    EXPECT_EQ(SettingsOf(*target), SettingsOf(*source));
}

TEST_F(SimulatedDevice, TaloxWithoutRadioModemKeepsItsTrait) {
    const std::string path = folder_.File("Talox.settings.txt");
    auto source = Simulator::Start("talox", ConfiguredTalox(false));
    auto target = Simulator::Start("talox");
    ASSERT_TRUE(source && target);

    ASSERT_EQ(Connect(*tp_, *source), 1);
    // The radio and cellular settings cannot be read without their modems:
    // a capture with gaps.
    EXPECT_EQ(TPSaveInfo(*tp_, path.c_str()), kTPPartial);
    TPDisconnect(*tp_, false);

    Tarsa_protocol fresh(log_.get());
    ASSERT_EQ(Connect(fresh, *target), 1);
    EXPECT_EQ(TPRestoreInfo(fresh, path.c_str(), nullptr), 1);
    TPDisconnect(fresh, false);
    EXPECT_EQ(SettingsOf(*target), SettingsOf(*source));
    EXPECT_EQ(target->Settings().at("trait"), "255");
}

TEST_F(SimulatedDevice, TaloxWithADeviceIdentifierKeepsItsSerialNumber) {
    const std::string path = folder_.File("Talox.settings.txt");
    DeviceConfig factory;
    factory.radioModem = true;
    factory.cellular = true;
    auto source = Simulator::Start("talox", ConfiguredTalox());
    auto target = Simulator::Start("talox", factory);
    ASSERT_TRUE(source && target);
    ASSERT_EQ(Connect(*tp_, *source), 1);
    ASSERT_EQ(TPSaveInfo(*tp_, path.c_str()), 1);
    ASSERT_TRUE(tp_->savedFlags & kSetDeviceId);
    // The restore below works from memory, with the captured mask.
    TPDisconnect(*tp_, false);

    ASSERT_EQ(Connect(*tp_, *target), 1);
    EXPECT_EQ(TPRestoreInfo(*tp_, path.c_str(), "NEW-SN-1"), 1);
    EXPECT_EQ(target->Settings().at("sn"), "TX-0042");
    EXPECT_EQ(target->Received().find("NEW-SN-1"), std::string::npos);
}

TEST_F(SimulatedDevice, TalobWithoutDeviceIdentifierTakesTheNewSerialNumber) {
    const std::string path = folder_.File("Talob.settings.txt");
    DeviceConfig configured;
    configured.settings = {
        {"i", "FARM2"}, {"sn", "TB-7"}, {"w", "900"}, {"padc", "60"}, {"ports", "9 8 7 6 5"}};
    auto source = Simulator::Start("talob", configured);
    auto target = Simulator::Start("talob");
    ASSERT_TRUE(source && target);
    ASSERT_EQ(Connect(*tp_, *source), 1);
    ASSERT_EQ(TPSaveInfo(*tp_, path.c_str()), 1);
    TPDisconnect(*tp_, false);

    Tarsa_protocol fresh(log_.get());
    ASSERT_EQ(Connect(fresh, *target), 1);
    EXPECT_EQ(TPRestoreInfo(fresh, path.c_str(), "TB-8"), 1);
    TPDisconnect(fresh, false);
    auto got = SettingsOf(*target);
    auto want = SettingsOf(*source);
    EXPECT_EQ(got.at("sn"), "TB-8");
    got.erase("sn");
    want.erase("sn");
    EXPECT_EQ(got, want);
}

// The digital sensor sits behind a reader; the digital-sensor workflow
// connects to the reader, takes the object to type 10 and switches the reader
// to SDI-12 pass-through before it captures or restores.
int ConnectToSensor(Tarsa_protocol& tp, const Simulator& reader) {
    InstrumentIdentity identity;
    const int rc = TPConnect(tp, reader.PortPath().c_str(), 2, 3, &identity);
    if (rc < 0) return rc;
    tp.type = kTypeDigitalSensor;
    return SDIWriteCharacter(tp.sdi, '[');
}

TEST_F(SimulatedDevice, DigitalSensorSettingsSurviveThroughTheSettingsFile) {
    const std::string path = folder_.File("sensor.settings.txt");
    DeviceConfig configured;
    sim::SensorSettings& sensor = configured.reader.sensor.settings;
    sensor.address = '3';
    sensor.serial = "SEN-12345";
    sensor.calibration1 = "1 0.100 1.200 0.300";
    sensor.calibration2 = "1 1.5 1.9 2.3 2.9";
    auto source = Simulator::Start("hd", configured);
    auto target = Simulator::Start("hd");
    ASSERT_TRUE(source && target);

    ASSERT_EQ(ConnectToSensor(*tp_, *source), 1);
    EXPECT_EQ(TPSaveInfo(*tp_, path.c_str()), 1);
    TPDisconnect(*tp_, false);

    Tarsa_protocol fresh(log_.get());
    ASSERT_EQ(ConnectToSensor(fresh, *target), 1);
    EXPECT_EQ(TPRestoreInfo(fresh, path.c_str(), nullptr), 1);

    // Read the restored sensor back over the bus (the read clears the object
    // first, so every value below comes from the sensor).
    ASSERT_EQ(SDIGetSensorSettings(fresh.sdi), 1);
    EXPECT_EQ(fresh.sdi.address, '3');
    EXPECT_STREQ(fresh.sdi.serialNumber, "SEN-12345");
    EXPECT_STREQ(fresh.sdi.calibration1, "1 0.100 1.200 0.300");
    EXPECT_STREQ(fresh.sdi.calibration2, "1 1.5 1.9 2.3 2.9");
}

}  // namespace
}  // namespace tarsa::test
