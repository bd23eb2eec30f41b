// tarsa-update of the digital-sensor build against a simulated reader with a
// sensor on its bus: the updates and refusals a user of the command line
// meets, judged by the exit status, what the program prints and what the
// sensor holds afterwards.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "cli/program_run.h"
#include "sim/sdi12_sensor.h"
#include "sim/simulator.h"

namespace {

namespace fs = std::filesystem;
using tarsa::clitest::ProgramRun;
using tarsa::clitest::RunProgram;

constexpr const char* kSettingsFile = "Skyra 61 Sensor Suite.settings.txt";

tarsa::sim::SensorSettings Custom() {
    tarsa::sim::SensorSettings s;
    s.address = '4';
    s.type = 93;
    s.serial = "SK61-0777";
    s.calibration1 = "1 0.250 1.125 0.375";
    s.calibration2 = "1 1.41000 1.92000 2.33000 2.960";
    return s;
}

class SensorCliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : name) c = c == '/' ? '_' : c;
        dir_ = fs::temp_directory_path() /
               ("tarsa_cli_sensor_" + std::to_string(getpid()) + "_" + name);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        device_.reset();
        fs::remove_all(dir_);
    }

    void StartReader(const std::string& reader, tarsa::sim::SensorConfig sensor) {
        tarsa::sim::DeviceConfig config;
        config.reader.sensor = std::move(sensor);
        device_ = tarsa::sim::Simulator::Start(reader, config);
        ASSERT_NE(device_, nullptr);
    }
    ProgramRun Update(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--port", device_->PortPath(), "--data-dir",
                                         (dir_ / "data").string()};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunProgram(args, {"XDG_CONFIG_HOME='" + (dir_ / "config").string() + "'"});
    }
    tarsa::sim::SensorSettings SensorNow() {
        tarsa::sim::SensorSettings now;
        EXPECT_TRUE(device_->WithSensor([&](tarsa::sim::Sdi12Sensor& s) { now = s.Settings(); }));
        return now;
    }
    int SensorVersion() {
        int version = 0;
        device_->WithSensor([&](tarsa::sim::Sdi12Sensor& s) { version = s.Version(); });
        return version;
    }
    // The sensor runs the new image with the settings of Custom() restored.
    void ExpectUpdatedAndRestored() {
        EXPECT_EQ(SensorVersion(), 360);
        tarsa::sim::SensorSettings now = SensorNow();
        EXPECT_EQ(now.address, Custom().address);
        EXPECT_EQ(now.serial, Custom().serial);
        EXPECT_EQ(now.calibration1, Custom().calibration1);
        EXPECT_EQ(now.calibration2, Custom().calibration2);
        EXPECT_EQ(now.type, 93);
        EXPECT_FALSE(fs::exists(dir_ / "data" / kSettingsFile));
    }

    fs::path dir_;
    std::unique_ptr<tarsa::sim::Simulator> device_;
};

TEST_F(SensorCliTest, UpdatesASensorRunningItsApplication) {
    tarsa::sim::SensorConfig sensor;
    sensor.settings = Custom();
    StartReader("hd", sensor);
    ProgramRun run = Update();
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("Successfully updated firmware in "), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("Question:"), std::string::npos) << run.out;
    ExpectUpdatedAndRestored();
    const std::string sent = device_->Received();
    EXPECT_NE(sent.find("]\r`[|"), std::string::npos) << "the probe's \"$\" is the application";
    EXPECT_NE(sent.find("?B!]P"), std::string::npos);
}

// The first run loses the sensor's power half way through the upload; the
// second finds its loader waiting, asks nothing and restores what the first
// one saved.
struct Recovery {
    const char* reader;
    std::vector<std::string> mode;
};
// Names the case in test lists: the reader, and the mode when not normal.
void PrintTo(const Recovery& c, std::ostream* out) {
    *out << c.reader;
    for (const std::string& a : c.mode) *out << "_" << a.substr(a.find_first_not_of('-'));
}

class SensorCliRecoveryTest : public SensorCliTest,
                              public ::testing::WithParamInterface<Recovery> {};

TEST_P(SensorCliRecoveryTest, FinishesAnInterruptedUpdateWithTheSavedSettings) {
    tarsa::sim::SensorConfig sensor;
    sensor.settings = Custom();
    StartReader(GetParam().reader, sensor);
    device_->SetPowerLossAfterBlocks(4);
    ProgramRun cut = Update(GetParam().mode);
    EXPECT_EQ(cut.status, 1) << cut.out;
    EXPECT_NE(cut.out.find("Error: Firmware Upload Error"), std::string::npos) << cut.out;
    ASSERT_EQ(device_->State(), "loader waiting");
    ASSERT_TRUE(fs::exists(dir_ / "data" / kSettingsFile));

    ProgramRun run = Update(GetParam().mode);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out.find("Question:"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("Error:"), std::string::npos) << run.out;
    ExpectUpdatedAndRestored();
}

INSTANTIATE_TEST_SUITE_P(HandraAndCommDeviceInRepMode, SensorCliRecoveryTest,
                         ::testing::Values(Recovery{"hd", {}}, Recovery{"tcd", {"--rep"}}));

TEST_F(SensorCliTest, NewerFirmwareInTheSensorIsAQuestion) {
    tarsa::sim::SensorConfig sensor;
    sensor.version = 400;
    StartReader("hd", sensor);
    ProgramRun run = Update();
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("Question: Newer Firmware\nThe firmware in your Skyra 61 Sensor "
                           "Suite\nis newer than the version in this updater."),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("Cancel (no terminal to ask"), std::string::npos);
    EXPECT_EQ(device_->Received().find("?B!"), std::string::npos) << "the loader is not started";
    EXPECT_EQ(SensorVersion(), 400);
}

TEST_F(SensorCliTest, SensorWithoutALoaderIsRefused) {
    tarsa::sim::SensorConfig sensor;
    sensor.hasLoader = false;
    StartReader("tcd", sensor);
    ProgramRun run = Update();
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("Error: Firmware Loader Error\nThis digital sensor does not have a "
                           "working firmware loader..\n\nPlease contact Corvane for help."),
              std::string::npos)
        << run.out;
    EXPECT_EQ(device_->State(), "application");
}

}  // namespace
