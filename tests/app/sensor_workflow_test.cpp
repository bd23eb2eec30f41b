// The digital-sensor update end to end: the main window's logic of a
// digital-sensor build behind a recording user interface, the real protocol
// layers, and a simulated reader with a sensor on its bus on a pty. Also the
// sensor menu, the family table and the sensor firmware image the build
// carries.
//
// Each full update costs seconds (every SDI-12 command waits 175 ms after its
// break), so the full runs are few and each checks much.
#include "app/sensor_workflow.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <sstream>

#include "app/update_workflow.h"
#include "fake_ui.h"
#include "loader/firmware_image.h"
#include "loader/ti_txt.h"
#include "sim/sdi12_sensor.h"
#include "sim/simulator.h"
#include "stand_in.h"

namespace tarsa::app {
namespace {

namespace fs = std::filesystem;

constexpr int kSkyra61Entry = 15;  // "Skyra 61" in kSensorMenu
constexpr int kPq3Entry = 13;
constexpr int k7qeEntry = 0;
constexpr int kWptEntry = 4;
constexpr const char* kCaption = "Skyra 61 Sensor Suite Firmware Updater";

// The recording interface, also recording the sensor menu's checks; a test
// may act when the progress bar moves.
class SensorFakeUi : public test::FakeUi {
  public:
    void SetSensorEntryChecked(int entry, bool checked) override { sensorChecked[entry] = checked; }
    void SetProgress(int position) override {
        FakeUi::SetProgress(position);
        if (onProgress) onProgress(position);
    }
    std::function<void(int)> onProgress;
    int CheckedCount() const {
        int n = 0;
        for (const auto& [entry, on] : sensorChecked) n += on ? 1 : 0;
        return n;
    }
    std::map<int, bool> sensorChecked;
};

class NoStore : public SettingsStore {
  public:
    std::string Read(const std::string&) override { return {}; }
    bool Write(const std::string&, const std::string&) override { return true; }
};

BuildConfig SensorBuild() {
    BuildConfig config;
    config.targetType = kTypeDigitalSensor;
    config.digitalSensor = true;
    config.defaultSensorType = 93;
    return config;
}

// The sensor image of the stand-in firmware (firmware/README.md).
StandInOptions SensorStandIn() {
    StandInOptions options;
    options.label = "Skyra61 3.60";
    options.version = 360;
    options.typeCode = kTypeDigitalSensor;
    options.mainAddress = 0x8100;
    options.mainBytes = 0x3000;
    options.upperBytes = 0x1000;
    return options;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Settings of a Skyra 61 that differ from what a fresh firmware starts with.
sim::SensorSettings CustomSettings() {
    sim::SensorSettings s;
    s.address = '3';
    s.type = 93;
    s.serial = "SK61-0042";
    s.calibration1 = "1 0.125 1.250 0.500";
    s.calibration2 = "1 1.40000 1.90000 2.30000 2.950";
    s.calibration3 = "1 0.010 1.020";
    return s;
}

class SensorUpdateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');  // parameterised tests
        dir_ =
            fs::temp_directory_path() / ("tarsa_sensor_" + std::to_string(getpid()) + "_" + name);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    // A failed test (or any, with TARSA_KEEP_LOG set) leaves its diagnostic
    // log in /tmp for a look at the whole conversation.
    void TearDown() override {
        if ((HasFailure() || getenv("TARSA_KEEP_LOG")) && window_) {
            fs::copy_file(window_->LogFilePath(), "/tmp/tarsa_failed_sensor_log.txt",
                          fs::copy_options::overwrite_existing);
        }
        window_.reset();
        device_.reset();
        fs::remove_all(dir_);
    }

    void StartDevice(const std::string& model, sim::DeviceConfig config = {}) {
        device_ = sim::Simulator::Start(model, config);
        ASSERT_NE(device_, nullptr);
        if (window_) window_->SelectPort(device_->PortPath());
    }
    // The window of a digital-sensor build. A build of the other variant
    // carries instrument firmware, so it opens the sensor image as a file.
    MainWindow& Show(std::vector<std::string> args = {}) {
        window_ = std::make_unique<MainWindow>(ui_, store_, SensorBuild(), nullptr);
        Environment env;
        env.arguments = std::move(args);
        env.dataFolder = dir_.string();
        window_->FormShow(env);
        if (!TARSA_DIGITAL_SENSOR_BUILD) {
            EXPECT_GT(window_->OpenFirmwareFile(TARSA_SENSOR_IMAGE), 0);
        }
        if (device_) window_->SelectPort(device_->PortPath());
        ui_.messages.clear();
        return *window_;
    }
    int Start() {
        window_->btnStartClick();
        window_->OnTimer(Timer::Start);
        return window_->LastResult();
    }
    sim::SensorSettings SensorNow() {
        sim::SensorSettings now;
        EXPECT_TRUE(device_->WithSensor([&](sim::Sdi12Sensor& s) { now = s.Settings(); }));
        return now;
    }
    std::vector<fs::path> History() const {
        std::vector<fs::path> files;
        if (fs::is_directory(dir_ / "history")) {
            for (const auto& entry : fs::directory_iterator(dir_ / "history"))
                files.push_back(entry.path());
        }
        return files;
    }
    const test::Shown* Shown_(const std::string& caption) const {
        for (const test::Shown& m : ui_.messages)
            if (m.caption == caption) return &m;
        return nullptr;
    }
    std::string FirstMessage() const {
        return ui_.messages.empty() ? std::string()
                                    : ui_.messages[0].caption + ": " + ui_.messages[0].text;
    }
    // The settings of CustomSettings, as the restore leaves them. The
    // settings file keeps no calibration 3: restored from the file, the sensor
    // has its factory one.
    void ExpectCustomSettingsRestored(bool fromFile) {
        sim::SensorSettings after = SensorNow();
        sim::SensorSettings before = CustomSettings();
        EXPECT_EQ(after.address, before.address);
        EXPECT_EQ(after.serial, before.serial);
        EXPECT_EQ(after.calibration1, before.calibration1);
        EXPECT_EQ(after.calibration2, before.calibration2);
        EXPECT_EQ(after.calibration3,
                  fromFile ? sim::SensorConfig().factoryCalibration3 : before.calibration3);
        EXPECT_EQ(after.type, before.type);
    }
    void ExpectFlashHoldsTheImage() {
        std::vector<uint8_t> flash = device_->Flash();
        std::vector<ImageSection> sections;
        ASSERT_EQ(DecodeImageText(window_->Host().image.text, sections), 3);
        for (const ImageSection& s : sections) {
            ASSERT_LE(s.address + s.bytes.size(), flash.size());
            EXPECT_TRUE(std::equal(s.bytes.begin(), s.bytes.end(), flash.begin() + s.address))
                << "section at " << std::hex << s.address;
        }
        const auto& vectors = window_->Host().image.vectors;
        for (size_t i = 0; i < vectors.size(); ++i) {
            uint32_t word = flash[kVectorBase + 2 * i] | (flash[kVectorBase + 2 * i + 1] << 8);
            EXPECT_EQ(word, vectors[i]) << "vector " << i;
        }
    }

    fs::path dir_;
    SensorFakeUi ui_;
    NoStore store_;
    std::unique_ptr<sim::Simulator> device_;
    std::unique_ptr<MainWindow> window_;
};

TEST_F(SensorUpdateTest, HandraUpdatesTheSensorAndRestoresItsSettings) {
    sim::DeviceConfig config;
    config.reader.sensor.settings = CustomSettings();
    StartDevice("hd", config);
    MainWindow& w = Show();

    ASSERT_EQ(Start(), kUpdateOk) << FirstMessage();
    EXPECT_TRUE(ui_.messages.empty()) << FirstMessage();
    ExpectFlashHoldsTheImage();

    ExpectCustomSettingsRestored(false);
    int version = 0;
    device_->WithSensor([&](sim::Sdi12Sensor& s) { version = s.Version(); });
    EXPECT_EQ(version, 360) << "the sensor runs the new image";

    const std::string sent = device_->Received();
    EXPECT_NE(sent.find("get -hver\r"), std::string::npos) << "a Handra's revision is checked";
    EXPECT_NE(sent.find("get -batt\r"), std::string::npos);
    // The probe's "$" means the application runs: the grave accent leaves the
    // bridge before "[" opens the bus for the settings save.
    const size_t probe = sent.find("]\r");
    ASSERT_NE(probe, std::string::npos);
    EXPECT_EQ(sent.substr(probe, 5), "]\r`[|");
    EXPECT_NE(sent.find("?B!]P"), std::string::npos) << "the sensor's loader is started";
    EXPECT_NE(sent.find("?post!"), std::string::npos);
    EXPECT_NE(sent.find("?X9 93!"), std::string::npos) << "the sensor type is set";
    // The run leaves the reader taking its own commands again.
    EXPECT_GT(sent.rfind('`'), sent.rfind("?X9 93!"));

    EXPECT_FALSE(fs::exists(w.SettingsFilePath())) << "the settings file goes after success";
    EXPECT_EQ(fs::path(w.SettingsFilePath()).filename(), "Skyra 61 Sensor Suite.settings.txt");
    EXPECT_NE(ReadFile(w.LogFilePath()).find("TarsaBSL Host: Finished updating device in "),
              std::string::npos);
    EXPECT_EQ(ui_.progress.back(), 100);
    EXPECT_EQ(ui_.labels[Label::StatusText].rfind("Successfully updated firmware in ", 0), 0u);
    EXPECT_EQ(ui_.labels[Label::LblConnect], "You may disconnect your Skyra 61 Sensor Suite now.");
    EXPECT_FALSE(w.Busy());
    EXPECT_TRUE(ui_.buttonEnabled[Button::Start]);
}

TEST_F(SensorUpdateTest, FailedUploadIsFinishedFromTheLoaderWithTheSavedSettings) {
    sim::DeviceConfig config;
    config.reader.sensor.settings = CustomSettings();
    StartDevice("hd", config);
    MainWindow& w = Show();
    // Half way through the upload the loader starts refusing every block.
    ui_.onProgress = [this](int position) {
        if (position >= 50 && ui_.labels[Label::StatusText] == "Uploading new firmware code...") {
            device_->SetReject("-");
            ui_.onProgress = nullptr;
        }
    };

    EXPECT_LT(Start(), 0);
    ASSERT_NE(Shown_("Firmware Upload Error"), nullptr) << FirstMessage();
    EXPECT_NE(Shown_("Firmware Upload Error")->text.find("[Error -1]"), std::string::npos);
    EXPECT_TRUE(fs::exists(w.SettingsFilePath())) << "the settings survive a failed run";
    EXPECT_EQ(device_->State(), "loader");
    EXPECT_EQ(ui_.progress.back(), 0);
    EXPECT_EQ(device_->Received().back(), '`') << "the reader is given back its own commands";

    // So the next run connects to the reader, finds the sensor's loader
    // still taking commands and goes straight to it.
    device_->SetReject("");
    ui_.messages.clear();
    const size_t sentBefore = device_->Received().size();
    ASSERT_EQ(Start(), kUpdateOk) << FirstMessage();
    EXPECT_TRUE(ui_.messages.empty()) << FirstMessage();
    EXPECT_TRUE(ui_.questions.empty());
    const std::string second = device_->Received().substr(sentBefore);
    EXPECT_EQ(second.find("?I!"), std::string::npos) << "no settings save";
    EXPECT_EQ(second.find("?B!"), std::string::npos) << "no loader start";
    ExpectFlashHoldsTheImage();

    sim::SensorSettings after = SensorNow();
    EXPECT_EQ(after.address, '3') << "restored from the settings file";
    EXPECT_EQ(after.serial, "SK61-0042");
    EXPECT_EQ(after.calibration1, CustomSettings().calibration1);
    EXPECT_EQ(after.calibration3, CustomSettings().calibration3);
    EXPECT_FALSE(fs::exists(w.SettingsFilePath()));
}

// An update cut off by a power loss leaves the sensor's loader waiting for a
// host, which through the reader answers the probe like a running
// application. The next run finds nobody on the bus, greets the loader and
// restores the settings the cut-off run saved; in rep mode it asks nothing
// either.
struct InterruptedCase {
    const char* reader;
    std::vector<std::string> args;
};
// Names the case in test lists: the reader, and the mode when not normal.
void PrintTo(const InterruptedCase& c, std::ostream* out) {
    *out << c.reader;
    for (const std::string& a : c.args) *out << "_" << a.substr(a.find_first_not_of('-'));
}

class InterruptedSensorUpdateTest : public SensorUpdateTest,
                                    public ::testing::WithParamInterface<InterruptedCase> {};

TEST_P(InterruptedSensorUpdateTest, IsFinishedWithTheEarlierRunsSettings) {
    sim::DeviceConfig config;
    config.reader.sensor.settings = CustomSettings();
    StartDevice(GetParam().reader, config);
    MainWindow& w = Show(GetParam().args);
    device_->SetPowerLossAfterBlocks(4);
    EXPECT_LT(Start(), 0);
    ASSERT_NE(Shown_("Firmware Upload Error"), nullptr) << FirstMessage();
    ASSERT_EQ(device_->State(), "loader waiting");
    ASSERT_TRUE(fs::exists(w.SettingsFilePath()));

    ui_.messages.clear();
    const size_t sentBefore = device_->Received().size();
    ASSERT_EQ(Start(), kUpdateOk) << FirstMessage();
    EXPECT_TRUE(ui_.messages.empty()) << FirstMessage();
    EXPECT_TRUE(ui_.questions.empty());
    const std::string second = device_->Received().substr(sentBefore);
    const size_t probe = second.find("]\r");
    ASSERT_NE(probe, std::string::npos);
    EXPECT_EQ(second.substr(probe, 5), "]\r`[|") << "taken as the application";
    const size_t save = second.find("?I!");
    ASSERT_NE(save, std::string::npos) << "the settings save is tried";
    EXPECT_NE(second.find("]\rP", save), std::string::npos) << "then the loader greeted";
    EXPECT_EQ(second.find("?B!"), std::string::npos) << "no loader start";
    ExpectFlashHoldsTheImage();
    ExpectCustomSettingsRestored(true);
    EXPECT_FALSE(fs::exists(w.SettingsFilePath()));
    EXPECT_EQ(History().size(), 1u) << "the file the save left in place is not kept twice";
}

INSTANTIATE_TEST_SUITE_P(HandraAndCommDeviceInRepMode, InterruptedSensorUpdateTest,
                         ::testing::Values(InterruptedCase{"hd", {}},
                                           InterruptedCase{"tcd", {"-rep"}}));

// The reader's port vanishing while the sensor's calibration goes back: one
// message, a failed run (not a success with a warning after it), and the
// settings file kept for the next run.
TEST_F(SensorUpdateTest, PortLostDuringTheRestoreIsReportedOnceAsAFailure) {
    sim::DeviceConfig config;
    config.reader.sensor.settings = CustomSettings();
    StartDevice("hd", config);
    MainWindow& w = Show();
    sim::Cut cut;
    cut.kind = sim::Cut::Kind::Vanish;
    cut.prefix = "?X5";
    device_->SetCut(cut);
    EXPECT_LT(Start(), 0);
    ASSERT_TRUE(device_->CutDone());
    ASSERT_EQ(ui_.messages.size(), 1u) << ui_.messages.back().text;
    EXPECT_EQ(ui_.messages[0].caption, "Settings Error");
    EXPECT_NE(ui_.messages[0].text.find("failed to restore the calibration and address\n"),
              std::string::npos)
        << ui_.messages[0].text;
    EXPECT_TRUE(fs::exists(w.SettingsFilePath()));
}

// A loader found waiting without any earlier run's settings file: the update
// is finished, and the restore that finds nothing to read is reported.
TEST_F(SensorUpdateTest, LoaderWaitingWithoutASettingsFileReportsTheRestore) {
    sim::DeviceConfig config;
    config.reader.sensor.startInLoader = true;
    StartDevice("tcd", config);
    MainWindow& w = Show();

    ASSERT_EQ(Start(), kUpdateOk) << FirstMessage();
    ExpectFlashHoldsTheImage();
    EXPECT_EQ(device_->Received().find("?B!"), std::string::npos) << "no loader start";
    EXPECT_TRUE(ui_.questions.empty());
    ASSERT_EQ(ui_.messages.size(), 1u) << FirstMessage();
    EXPECT_EQ(ui_.messages[0].caption, "Settings Error");
    EXPECT_EQ(ui_.messages[0].text,
              std::string("The ") + kCaption +
                  " failed to restore the calibration and address\nfor your Skyra 61 Sensor "
                  "Suite.\n\nPlease calibrate this sensor and check the address.\n\n[Error -102]");
    EXPECT_FALSE(fs::exists(w.SettingsFilePath()));
}

// A settings file left by an earlier run stays in place for the save (it may
// be an interrupted update's), and a copy of it is kept in the history once
// the save has replaced it.
TEST_F(SensorUpdateTest, EarlierSettingsFileIsKeptOnceTheSaveReplacesIt) {
    sim::DeviceConfig config;
    config.reader.sensor.settings = CustomSettings();
    config.reader.sensor.hasLoader = false;  // each run stops after its save
    StartDevice("hd", config);
    MainWindow& w = Show();
    ASSERT_EQ(Start(), kSensorNoLoader) << FirstMessage();
    const std::string original = ReadFile(w.SettingsFilePath());
    ASSERT_NE(original.find("SK61-0042"), std::string::npos);
    EXPECT_TRUE(History().empty());

    config.reader.sensor.settings.serial = "SK61-0077";
    StartDevice("hd", config);
    ui_.messages.clear();
    ASSERT_EQ(Start(), kSensorNoLoader) << FirstMessage();
    const auto history = History();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(ReadFile(history[0]), original);
    EXPECT_EQ(history[0].filename().string().rfind("Skyra-61-Sensor-Suite_SK61-0042_", 0), 0u);
    struct stat st {};
    ASSERT_EQ(stat(history[0].c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_NE(ReadFile(w.SettingsFilePath()).find("SK61-0077"), std::string::npos);
    ASSERT_NE(Shown_("Earlier Settings File"), nullptr) << FirstMessage();
    EXPECT_NE(Shown_("Earlier Settings File")->text.find("kept as\n" + history[0].string()),
              std::string::npos);
    EXPECT_NE(ReadFile(w.LogFilePath())
                  .find("Settings history: copied " + w.SettingsFilePath() + " to " +
                        history[0].string()),
              std::string::npos);

    // No copy can be kept: nothing is saved and the file stays as it is.
    const std::string second = ReadFile(w.SettingsFilePath());
    fs::remove_all(dir_ / "history");
    std::ofstream(dir_ / "history") << "a file where the folder belongs";
    ui_.messages.clear();
    const size_t sentBefore = device_->Received().size();
    EXPECT_EQ(Start(), kUpdateSettingsNotKept);
    ASSERT_EQ(ui_.messages.size(), 1u) << FirstMessage();
    EXPECT_EQ(ui_.messages[0].caption, "Settings Error");
    EXPECT_EQ(ReadFile(w.SettingsFilePath()), second);
    const std::string third = device_->Received().substr(sentBefore);
    EXPECT_EQ(third.find("?I!"), std::string::npos) << "no settings save";
}

TEST_F(SensorUpdateTest, ReaderVersionRevisionAndBatteryAreChecked) {
    auto handra = [](const char* version, char revision, int battery) {
        sim::DeviceConfig config;
        config.version = version;
        config.reader.hardwareRevision = revision;
        config.reader.battery = battery;
        config.reader.sensor.present = false;  // a run that gets past the checks stops early
        return config;
    };
    StartDevice("hd", handra("1.22", 'C', 87));
    Show();
    EXPECT_EQ(Start(), kUpdateRefused);
    ASSERT_NE(Shown_("Wrong Device Version"), nullptr) << FirstMessage();
    EXPECT_EQ(Shown_("Wrong Device Version")->text,
              "Your Handra version 1.22 with hardware revision 'C' doesn't\nsupport bootstrapping "
              "digital sensors.\n\nPlease use a supported Handra (or Terrel Comm Device)");

    ui_.messages.clear();
    StartDevice("hd", handra("1.23", 'A', 87));
    EXPECT_EQ(Start(), kUpdateRefused);
    ASSERT_NE(Shown_("Wrong Device Version"), nullptr) << FirstMessage();
    EXPECT_NE(Shown_("Wrong Device Version")->text.find("version 1.23 with hardware revision 'A'"),
              std::string::npos);

    // 1.23 with 'B' passes the reader check and reaches the battery.
    ui_.messages.clear();
    StartDevice("hd", handra("1.23", 'B', 9));
    EXPECT_EQ(Start(), kUpdateLowBattery);
    ASSERT_EQ(ui_.messages.size(), 1u) << FirstMessage();
    EXPECT_EQ(ui_.messages[0].caption, "Batteries Too Low");
    EXPECT_EQ(ui_.messages[0].text,
              "The battery power in the Handra is too low!\n\nPlease replace the batteries "
              "before running this updater.");

    // 10 % goes on, here as far as the settings of a sensor that is not there;
    // no loader greets in its place either.
    ui_.messages.clear();
    StartDevice("hd", handra("1.23", 'B', 10));
    EXPECT_LT(Start(), 0);
    const std::string sent = device_->Received();
    EXPECT_NE(sent.find("]\rP", sent.find("?I!")), std::string::npos) << "a greeting is tried";
    ASSERT_EQ(ui_.messages.size(), 1u) << FirstMessage();
    EXPECT_EQ(ui_.messages[0].caption, "Settings Error");
    EXPECT_EQ(ui_.messages[0].text,
              std::string("This ") + kCaption +
                  " could not retrieve the settings from your Skyra 61 Sensor Suite.\nPlease "
                  "try again or contact Corvane for help.");

    // A TCD is not asked for its revision, but its battery counts too.
    ui_.messages.clear();
    sim::DeviceConfig tcd;
    tcd.reader.battery = 5;
    StartDevice("tcd", tcd);
    EXPECT_EQ(Start(), kUpdateLowBattery);
    EXPECT_EQ(device_->Received().find("get -hver"), std::string::npos);

    ui_.messages.clear();
    StartDevice("talox");
    EXPECT_EQ(Start(), kUpdateWrongDevice);
    ASSERT_NE(Shown_("Wrong Device"), nullptr) << FirstMessage();
    EXPECT_EQ(Shown_("Wrong Device")->text,
              std::string("The ") + kCaption +
                  " expected to find a Handra (or Terrel Comm Device);\nhowever, it found a "
                  "Talox.\n\nThis updater can not work with a Talox.");
    EXPECT_FALSE(window_->Busy());
}

TEST_F(SensorUpdateTest, NewerFirmwareAndAnotherSensorTypeAreAsked) {
    sim::DeviceConfig config;
    config.reader.sensor.version = 400;
    config.reader.sensor.settings.type = 94;
    StartDevice("hd", config);
    Show();
    // A probe that hears nothing also counts as the application, but without
    // the grave accent: the bridge's answer to it is swallowed.
    ui_.onProgress = [this](int) {
        if (ui_.labels[Label::StatusText] == "Checking Handra battery power...") {
            device_->ScriptReplies({sim::Reply::Silent()});
            ui_.onProgress = nullptr;
        }
    };
    ui_.answers = {true, false};  // load older firmware: OK; wrong sensor type: Cancel
    EXPECT_EQ(Start(), kUpdateCancelled);
    ASSERT_EQ(ui_.questions.size(), 2u);
    EXPECT_EQ(ui_.questions[0].caption, "Newer Firmware");
    EXPECT_EQ(ui_.questions[0].text,
              "The firmware in your Skyra 61 Sensor Suite\nis newer than the version in this "
              "updater.\n\nAre you sure you want to load older firmware.");
    EXPECT_EQ(ui_.questions[1].caption, "Wrong Sensor Type");
    EXPECT_EQ(ui_.questions[1].text,
              "The attached sensor is claiming to be a \"PQ-3 Rain Gauge\"\n\nThis firmware "
              "updater is for a \"Skyra 61 Sensor Suite\".\n\nAre you sure you want to load the "
              "firmware for a Skyra 61 Sensor Suite?\n");
    EXPECT_TRUE(ui_.messages.empty()) << "a Cancel shows nothing more";
    const std::string sent = device_->Received();
    const size_t probe = sent.find("]\r");
    ASSERT_NE(probe, std::string::npos);
    EXPECT_EQ(sent.substr(probe, 4), "]\r[|");
    EXPECT_EQ(sent.find("?B!"), std::string::npos);
    EXPECT_TRUE(fs::exists(window_->SettingsFilePath())) << "saved before the questions";
}

TEST_F(SensorUpdateTest, FamilyTargetAcceptsItsMembersAndANoLoaderSensorIsReported) {
    sim::DeviceConfig config;
    config.reader.sensor.settings.type = 107;
    config.reader.sensor.hasLoader = false;
    StartDevice("hd", config);
    MainWindow& w = Show({"-factory"});
    w.SelectTargetSensor(261);
    EXPECT_EQ(Start(), kSensorNoLoader);
    EXPECT_TRUE(ui_.questions.empty()) << "107 belongs to the WPT family: no type question";
    ASSERT_EQ(ui_.messages.size(), 1u) << FirstMessage();
    EXPECT_EQ(ui_.messages[0].caption, "Firmware Loader Error");
    EXPECT_EQ(ui_.messages[0].text,
              "This digital sensor does not have a working firmware loader..\n\nPlease contact "
              "Corvane for help.");
}

// --- The sensor menu and the start-up of a digital-sensor build ------------

TEST_F(SensorUpdateTest, StartUpTargetsTheDefaultSensorThroughTheHandra) {
    MainWindow& w = Show();
    EXPECT_EQ(ui_.caption, kCaption);
    EXPECT_EQ(ui_.labels[Label::UserText1],
              "This utility updates Skyra 61 Sensor Suite firmware to");
    EXPECT_EQ(ui_.labels[Label::CommLabel], "Connect to Handra and Digital Sensor with Comm Port");
    EXPECT_EQ(ui_.labels[Label::LblConnect], "Connect Handra to computer comm port.");
    EXPECT_EQ(w.VersionFinderPath(), "/versionfinder/Handra-C-Firmware.txt");
    EXPECT_EQ(w.TargetSensorType(), 93);
    EXPECT_EQ(w.CheckedSensorEntry(), kSkyra61Entry);
    EXPECT_TRUE(ui_.sensorChecked[kSkyra61Entry]);
    EXPECT_EQ(ui_.CheckedCount(), 1);
    EXPECT_EQ(w.ImageVersion(), 360u);
    EXPECT_EQ(fs::path(w.LogFilePath()).filename(), std::string(kCaption) + ".errors.txt");
    EXPECT_FALSE(ui_.menuVisible[MenuItem::DigitalSensorSection]) << "factory mode only";
    EXPECT_EQ(ui_.timers.count(Timer::EraseWarn), 0u) << "a sensor update erases no data";
    EXPECT_EQ(ui_.timers.count(Timer::WebCheck), 1u);

    SensorFakeUi factoryUi;
    NoStore store;
    MainWindow factory(factoryUi, store, SensorBuild(), nullptr);
    Environment env;
    env.arguments = {"-factory"};
    env.dataFolder = dir_.string();
    factory.FormShow(env);
    EXPECT_TRUE(factoryUi.menuVisible[MenuItem::DigitalSensorSection]);
}

TEST_F(SensorUpdateTest, SelectingASensorChecksOnlyItsEntry) {
    MainWindow& w = Show();
    w.SelectTargetSensor(94);
    EXPECT_TRUE(ui_.sensorChecked[kPq3Entry]);
    w.SelectTargetSensor(122);
    EXPECT_FALSE(ui_.sensorChecked[kPq3Entry]);
    EXPECT_TRUE(ui_.sensorChecked[k7qeEntry]);
    EXPECT_EQ(ui_.CheckedCount(), 1);
    EXPECT_EQ(w.VersionFinderPath(), "/versionfinder/7QE-Firmware.txt");
    EXPECT_EQ(w.DisplayName(), "7QE Sensor");
    EXPECT_EQ(ui_.labels[Label::UserText1], "This utility updates 7QE Sensor firmware to");

    // A family member checks its family's entry.
    w.SelectTargetSensor(107);
    EXPECT_EQ(w.CheckedSensorEntry(), kWptEntry);
    EXPECT_EQ(w.TargetSensorType(), 107);
    EXPECT_EQ(w.VersionFinderPath(), "/versionfinder/WPT4-Firmware.txt");

    // The Skyra 34 has a document but no entry.
    w.SelectTargetSensor(123);
    EXPECT_EQ(ui_.CheckedCount(), 0);
    EXPECT_EQ(w.VersionFinderPath(), "/versionfinder/Skyra34-Firmware.txt");
    EXPECT_EQ(w.DisplayName(), "Skyra 34 Sensor");

    // Any other value checks nothing and keeps the document.
    w.SelectTargetSensor(55);
    EXPECT_EQ(ui_.CheckedCount(), 0);
    EXPECT_EQ(w.CheckedSensorEntry(), -1);
    EXPECT_EQ(w.VersionFinderPath(), "/versionfinder/Skyra34-Firmware.txt");
    EXPECT_EQ(w.DisplayName(), "Unknown Sensor (type 55)");
}

TEST(SensorMenuTest, EveryValueAndFamilyMemberFindsItsEntry) {
    for (size_t i = 0; i < kSensorMenu.size(); ++i) {
        EXPECT_EQ(SensorMenuEntryOf(kSensorMenu[i].value), static_cast<int>(i))
            << kSensorMenu[i].caption;
    }
    auto captionOf = [](int32_t value) {
        int entry = SensorMenuEntryOf(value);
        return entry < 0 ? std::string() : std::string(kSensorMenu[entry].caption);
    };
    for (int32_t ktv : {101, 105, 106, 116}) EXPECT_EQ(captionOf(ktv), "KTV Family") << ktv;
    for (int32_t veyra : {103, 104}) EXPECT_EQ(captionOf(veyra), "Veyra 3x Family") << veyra;
    for (int32_t wpt : {107, 108, 121}) EXPECT_EQ(captionOf(wpt), "WPT-4 && WPT-9") << wpt;
    for (int32_t none : {0, 110, 123, 263, 300}) EXPECT_EQ(SensorMenuEntryOf(none), -1) << none;
}

TEST(SensorMenuTest, FamilyTargetsAcceptTheirMembersOnly) {
    struct Case {
        int32_t target;
        int32_t sensor;
        bool accepted;
    };
    const Case cases[] = {
        {260, 110, true},  {260, 111, true}, {260, 114, true},  {260, 115, true}, {260, 112, false},
        {260, 260, false}, {261, 107, true}, {261, 108, true},  {261, 121, true}, {261, 109, false},
        {262, 101, true},  {262, 105, true}, {262, 106, true},  {262, 116, true}, {262, 117, false},
        {264, 103, true},  {264, 104, true}, {264, 107, false}, {263, 263, true}, {263, 112, false},
        {93, 93, true},    {93, 92, false},  {94, 0, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SensorTypeAccepted(c.target, c.sensor), c.accepted)
            << c.target << " / " << c.sensor;
    }
}

TEST_F(SensorUpdateTest, ConnectionFailuresSpeakOfTheCommunicationDevice) {
    MainWindow& w = Show();
    w.SelectPort("/dev/tarsa-no-such-port");
    EXPECT_EQ(Start(), kUpdateConnectFailed);
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].caption, "Connection Error");
    EXPECT_EQ(ui_.messages[0].text,
              "Comm Port \"/dev/tarsa-no-such-port\" isn't available.\nPlease choose a new Comm "
              "Port to use.");

    SensorUpdate update(w, w.Protocol());
    const std::string tail =
        " is unable to connect to your communication device\n on Comm Port "
        "\"/dev/tarsa-no-such-port\".\n\nPlease check your serial cable and Comm Port choice.";
    EXPECT_EQ(update.ConnectionFailureText(-20), std::string("The ") + kCaption + tail);
    EXPECT_EQ(update.ConnectionFailureText(-34),
              std::string("The ") + kCaption + tail + "\nError -34");
}

// --- The sensor firmware the digital-sensor build carries -------------------

TEST(SensorImageTest, CommittedFileIsTheSensorStandIn) {
    EXPECT_EQ(ReadFile(TARSA_SENSOR_IMAGE), MakeStandInTiTxt(SensorStandIn()))
        << "regenerate it as firmware/README.md says";
    FirmwareImage image;
    ASSERT_EQ(LoadTIFile(image, nullptr, TARSA_SENSOR_IMAGE), 1);
    EXPECT_EQ(image.label, "Skyra61 3.60");
    EXPECT_EQ(image.version, 360);
    EXPECT_EQ(image.vectors[kVectorCount - 1], 0x8140u) << "reset vector past the identity block";
    std::vector<ImageSection> sections;
    ASSERT_EQ(DecodeImageText(image.text, sections), 3);
    EXPECT_EQ(sections[0].address, 0x8100u);
    EXPECT_EQ(sections[2].address, 0x10000u) << "20-bit addresses are exercised";
    // The identity block carries label, version and type; its integrity word
    // covers main and high sections.
    const std::vector<uint8_t>& main = sections[0].bytes;
    EXPECT_EQ(std::string(main.begin() + 8, main.begin() + 20), "Skyra61 3.60");
    EXPECT_EQ(main[0x28] | (main[0x29] << 8), 360);
    EXPECT_EQ(main[0x2A] | (main[0x2B] << 8), kTypeDigitalSensor);
    EXPECT_EQ(main[0x2E] | (main[0x2F] << 8), StandInIntegrity(main, sections[1].bytes));

    if (TARSA_DIGITAL_SENSOR_BUILD) {
        FirmwareImage compiled;
        ASSERT_EQ(LoadCompiledInImage(compiled), kImageOk);
        EXPECT_EQ(compiled.typeCode, kTypeDigitalSensor);
        EXPECT_EQ(compiled.label, image.label);
        EXPECT_EQ(compiled.text, image.text);
        EXPECT_EQ(compiled.vectors, image.vectors);
    }
}

TEST(SensorImageTest, StandInOptionsKeepTheImageWritable) {
    StandInOptions options = SensorStandIn();
    EXPECT_TRUE(StandInOptionsValid(options));
    options.mainBytes = 0x40;  // no room after the identity block
    EXPECT_FALSE(StandInOptionsValid(options));
    options.mainBytes = 0x7901;  // runs into the loader's flash at 0xFA00
    EXPECT_FALSE(StandInOptionsValid(options));
    options.mainBytes = 0x7900;
    EXPECT_TRUE(StandInOptionsValid(options));
    options.upperBytes = 0xF0001;  // beyond the 20-bit address space
    EXPECT_FALSE(StandInOptionsValid(options));
    StandInOptions defaults;
    EXPECT_TRUE(StandInOptionsValid(defaults));
    EXPECT_EQ(MakeStandIn(defaults).upper.bytes.size(), 0u);
}

}  // namespace
}  // namespace tarsa::app
