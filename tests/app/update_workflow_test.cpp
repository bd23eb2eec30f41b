// The instrument update end to end: the main window's logic behind a recording
// user interface, the real protocol layers, and a simulated Talox on a pty.
#include "app/update_workflow.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fake_ui.h"
#include "loader/firmware_image.h"
#include "sim/simulator.h"
#include "stand_in.h"

namespace tarsa::app {
namespace {

namespace fs = std::filesystem;
using test::FakeUi;

class NoStore : public SettingsStore {
  public:
    std::string Read(const std::string&) override { return {}; }
    bool Write(const std::string&, const std::string&) override { return true; }
};

// Settings of a Talox 2.29 that differ from its factory defaults.
const std::map<std::string, std::string> kCustomSettings = {{"i", "LAKE4"},
                                                            {"site", "Lake Mere north"},
                                                            {"devid", "LM-04"},
                                                            {"report", "2"},
                                                            {"depth", "10 20 30 40 50"},
                                                            {"lat", "46.5"},
                                                            {"long", "-117.25"},
                                                            {"tz", "-32"},
                                                            {"w", "900"},
                                                            {"padc", "60"},
                                                            {"ports", "1 2 3 0 0"},
                                                            {"data", "7"},
                                                            {"r", "3"},
                                                            {"sn", "TX12345"},
                                                            {"build", "B77"}};

// The settings the update must carry across: everything but what the
// firmware change or the update itself changes on purpose (the build
// identifier belongs to the firmware).
std::map<std::string, std::string> Kept(std::map<std::string, std::string> s) {
    for (const char* word : {"clock", "records", "resets", "baud", "trait", "build"}) s.erase(word);
    return s;
}

class UpdateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tarsa_upd_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        if (HasFailure() && window_) {
            fs::copy_file(window_->LogFilePath(), "/tmp/tarsa_failed_update_log.txt",
                          fs::copy_options::overwrite_existing);
        }
        window_.reset();
        device_.reset();
        fs::remove_all(dir_);
    }

    void StartDevice(const std::string& model, sim::DeviceConfig config = {}) {
        device_ = sim::Simulator::Start(model, config);
        ASSERT_NE(device_, nullptr);
    }
    MainWindow& Show(std::vector<std::string> args = {}) {
        window_ = std::make_unique<MainWindow>(ui_, store_, BuildConfig{}, nullptr);
        Environment env;
        env.arguments = std::move(args);
        env.dataFolder = dir_.string();
        window_->FormShow(env);
        window_->SelectPort(device_->PortPath());
        return *window_;
    }
    int Start() {
        window_->btnStartClick();
        window_->OnTimer(Timer::Start);
        return window_->LastResult();
    }
    std::string LogText() const {
        std::ifstream in(window_->LogFilePath(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    const test::Shown* Shown_(const std::string& caption) const {
        for (const test::Shown& m : ui_.messages)
            if (m.caption == caption) return &m;
        return nullptr;
    }
    void ExpectFlashHoldsTheImage() {
        std::vector<uint8_t> flash = device_->Flash();
        std::vector<ImageSection> sections;
        ASSERT_GT(DecodeImageText(window_->Host().image.text, sections), 0);
        for (const ImageSection& s : sections) {
            ASSERT_TRUE(std::equal(s.bytes.begin(), s.bytes.end(), flash.begin() + s.address))
                << "section at " << std::hex << s.address;
        }
    }

    fs::path dir_;
    FakeUi ui_;
    NoStore store_;
    std::unique_ptr<sim::Simulator> device_;
    std::unique_ptr<MainWindow> window_;
};

TEST_F(UpdateTest, TaloxIsUpdatedAndKeepsEverySetting) {
    sim::DeviceConfig config;
    config.version = "2.10";
    config.settings = kCustomSettings;
    StartDevice("talox", config);
    const auto before = Kept(device_->Settings());
    MainWindow& w = Show();

    ASSERT_EQ(Start(), kUpdateOk) << (ui_.messages.empty() ? "" : ui_.messages.back().text);
    ExpectFlashHoldsTheImage();
    auto after = device_->Settings();
    EXPECT_EQ(Kept(after), before) << "every setting is back after the firmware reset them";
    EXPECT_EQ(after["records"], "0") << "the stored measurements were erased";
    // The clock is the computer's local time in seconds since 2000.
    time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    double expected = static_cast<double>(now + local.tm_gmtoff - 946684800);
    EXPECT_LT(std::fabs(std::stod(after["clock"]) - expected), 30.0);

    EXPECT_FALSE(fs::exists(w.SettingsFilePath())) << "the settings file goes after success";
    EXPECT_NE(LogText().find("TarsaBSL Host: Finished updating device in "), std::string::npos);
    ASSERT_FALSE(ui_.progress.empty());
    EXPECT_EQ(ui_.progress.back(), 100);
    EXPECT_EQ(ui_.labels[Label::LblConnect], "You may disconnect your Talox now.");
    EXPECT_EQ(ui_.labels[Label::StatusText].rfind("Successfully updated firmware in ", 0), 0u);
    EXPECT_TRUE(ui_.messages.empty()) << ui_.messages.front().caption;
    EXPECT_FALSE(w.Busy());
    EXPECT_TRUE(ui_.buttonEnabled[Button::Start]);
}

TEST_F(UpdateTest, PowerLossMidUploadIsRecoveredWithTheSavedSettings) {
    sim::DeviceConfig config;
    config.settings = kCustomSettings;
    StartDevice("talox", config);
    const auto before = Kept(device_->Settings());
    MainWindow& w = Show();
    device_->SetPowerLossAfterBlocks(30);

    EXPECT_LT(Start(), 0);
    ASSERT_NE(Shown_("Firmware Upload Error"), nullptr);
    EXPECT_TRUE(fs::exists(w.SettingsFilePath())) << "the settings survive a failed run";
    EXPECT_EQ(ui_.progress.back(), 0);

    ui_.messages.clear();
    ASSERT_EQ(Start(), kUpdateOk) << (ui_.messages.empty() ? "" : ui_.messages.back().text);
    EXPECT_TRUE(ui_.messages.empty())
        << ui_.messages.front().caption << ": " << ui_.messages.front().text;
    ExpectFlashHoldsTheImage();
    EXPECT_EQ(Kept(device_->Settings()), before) << "restored from the settings file";
    EXPECT_FALSE(fs::exists(w.SettingsFilePath()));
}

TEST_F(UpdateTest, LowBatteryStopsAndTheLimitIsTenPercent) {
    sim::DeviceConfig config;
    config.settings = {{"batt", "9"}};
    config.hasLoader = false;  // an update that gets past the battery stops at the loader
    StartDevice("talox", config);
    Show();
    EXPECT_EQ(Start(), kUpdateLowBattery);
    ASSERT_NE(Shown_("Batteries Too Low"), nullptr);
    EXPECT_EQ(Shown_("Batteries Too Low")->text,
              "The battery power is too low!\n\nPlease replace the batteries before running this "
              "updater.");

    ui_.messages.clear();
    config.settings = {{"batt", "10"}};
    StartDevice("talox", config);
    window_->SelectPort(device_->PortPath());
    EXPECT_EQ(Start(), kBSLNoLoader);
    EXPECT_EQ(Shown_("Batteries Too Low"), nullptr);
    ASSERT_NE(Shown_("Firmware Loader Error"), nullptr);
    EXPECT_EQ(Shown_("Firmware Loader Error")->text,
              "This Talox does not have a working firmware loader.\n\nPlease contact Corvane for "
              "help.");
    EXPECT_TRUE(fs::exists(window_->SettingsFilePath())) << "captured before the loader failed";
}

TEST_F(UpdateTest, WrongDeviceIsRefusedOrAskedInFactoryMode) {
    StartDevice("talob");
    Show();
    EXPECT_EQ(Start(), kUpdateWrongDevice);
    ASSERT_NE(Shown_("Wrong Device"), nullptr);
    EXPECT_EQ(Shown_("Wrong Device")->text,
              "The Talox Firmware Updater expected to find a Talox;\nhowever, it found a "
              "Talob.\n\nThis updater can not update a Talob.");

    FakeUi factoryUi;
    MainWindow factory(factoryUi, store_, BuildConfig{}, nullptr);
    Environment env;
    env.arguments = {"-factory"};
    env.dataFolder = dir_.string();
    factory.FormShow(env);
    factory.SelectPort(device_->PortPath());
    factoryUi.answers = {false};
    factory.btnStartClick();
    factory.OnTimer(Timer::Start);
    EXPECT_EQ(factory.LastResult(), kUpdateWrongDevice);
    ASSERT_EQ(factoryUi.questions.size(), 1u);
    EXPECT_NE(
        factoryUi.questions[0].text.find("\n\n[Factory Mode Override: Click OK to load FW anyway]"),
        std::string::npos);
}

TEST_F(UpdateTest, OldFirmwareIsRefusedAndNewerFirmwareIsAsked) {
    sim::DeviceConfig old;
    old.version = "1.02";
    StartDevice("talox", old);
    Show();
    EXPECT_EQ(Start(), kUpdateConnectFailed) << "the connection itself refuses the version";
    ASSERT_NE(Shown_("Connection Error"), nullptr);
    EXPECT_EQ(Shown_("Connection Error")->text,
              "The Talox Firmware Updater does not support your Talox\nrunning version 102.");

    sim::DeviceConfig newer;
    newer.version = "2.30";
    StartDevice("talox", newer);
    window_->SelectPort(device_->PortPath());
    ui_.answers = {false};
    EXPECT_EQ(Start(), kUpdateCancelled);
    ASSERT_EQ(ui_.questions.size(), 1u);
    EXPECT_EQ(ui_.questions[0].caption, "Newer Firmware");
}

TEST_F(UpdateTest, ConnectionFailuresNameThePortAndTheCause) {
    StartDevice("talox");
    MainWindow& w = Show();
    device_->SetSilent(true);
    EXPECT_EQ(Start(), kUpdateConnectFailed);
    ASSERT_NE(Shown_("Connection Error"), nullptr);
    EXPECT_EQ(Shown_("Connection Error")->text,
              "The Talox Firmware Updater is unable to connect to your Talox\n on Comm Port \"" +
                  device_->PortPath() +
                  "\".\n\nPlease check your serial cable and Comm Port choice.");

    ui_.messages.clear();
    w.SelectPort("/dev/tarsa-no-such-port");
    EXPECT_EQ(Start(), kUpdateConnectFailed);
    EXPECT_EQ(ui_.messages.at(0).text,
              "Comm Port \"/dev/tarsa-no-such-port\" isn't available.\nPlease choose a new Comm "
              "Port to use.");
    ui_.messages.clear();
    w.SelectPort("/dev/null");  // no terminal: not read as "unable to log into"
    EXPECT_EQ(Start(), kUpdateConnectFailed);
    EXPECT_EQ(
        ui_.messages.at(0).text,
        "Comm Port \"/dev/null\" is not a serial port.\nPlease choose a new Comm Port to use.");

    InstrumentUpdate update(w, w.Protocol());
    EXPECT_EQ(update.ConnectionFailureText(-5).rfind("Comm Port \"", 0), 0u);
    EXPECT_NE(update.ConnectionFailureText(-5).find("is already in use by another application."),
              std::string::npos);
    EXPECT_NE(update.ConnectionFailureText(-25).find("is unable to log into to your Talox"),
              std::string::npos);
    EXPECT_NE(update.ConnectionFailureText(-34).find("Comm Port choice.\nError -34"),
              std::string::npos);
    w.Identity() = InstrumentIdentity{};
    EXPECT_NE(update.ConnectionFailureText(-120).find("your unknown device"), std::string::npos);
    SetInstrumentIdentity(6, 102, &w.Identity());
    EXPECT_EQ(update.ConnectionFailureText(-120),
              "The Talox Firmware Updater does not support your Hygra Mini\nrunning version 102.");
}

TEST_F(UpdateTest, FailedCaptureStopsOrIsAskedInRepMode) {
    sim::DeviceConfig config;
    config.hasLoader = false;  // an update that goes on stops at the loader
    StartDevice("talox", config);
    MainWindow& w = Show();
    fs::create_directories(w.SettingsFilePath());  // the settings file cannot be written
    int r = Start();
    EXPECT_LT(r, 0);
    EXPECT_NE(r, kBSLNoLoader) << "the run stops at the capture";
    ASSERT_NE(Shown_("Settings Error"), nullptr);
    EXPECT_EQ(Shown_("Settings Error")->text,
              "This Talox Firmware Updater could not retrieve the settings from your Talox.\n"
              "Please try again or contact Corvane for help.");

    FakeUi repUi;
    MainWindow rep(repUi, store_, BuildConfig{}, nullptr);
    Environment env;
    env.arguments = {"-rep"};
    env.dataFolder = dir_.string();
    rep.FormShow(env);
    rep.SelectPort(device_->PortPath());
    repUi.answers = {false, true};
    rep.btnStartClick();
    rep.OnTimer(Timer::Start);
    EXPECT_EQ(rep.LastResult(), kUpdateCancelled) << "Cancel: try the capture again later";
    rep.btnStartClick();
    rep.OnTimer(Timer::Start);
    EXPECT_EQ(rep.LastResult(), kBSLNoLoader) << "OK: the update goes on without the settings";
    ASSERT_EQ(repUi.questions.size(), 2u);
    EXPECT_EQ(repUi.questions[0].caption, "Settings Retrieve Error");
}

TEST_F(UpdateTest, RepModeInstallsAnOpenedImageForAnotherType) {
    sim::DeviceConfig config;
    config.version = "1.09";
    StartDevice("br", config);
    MainWindow& w = Show({"-rep"});
    StandInOptions options;
    options.label = "BR 1.10";
    options.version = 110;
    options.typeCode = 4;
    fs::path file = dir_ / "BR 1.10.txt";
    std::ofstream(file, std::ios::binary) << MakeStandInTiTxt(options);
    ASSERT_EQ(w.OpenFirmwareFile(file.string()), 1);
    EXPECT_EQ(w.DisplayName(), "Brisen");
    EXPECT_EQ(w.SettingsFilePath(), (dir_ / "Brisen.settings.txt").string());

    ASSERT_EQ(Start(), kUpdateOk) << (ui_.messages.empty() ? "" : ui_.messages.back().text);
    ExpectFlashHoldsTheImage();
    std::string answer;
    {
        Terrel_Protocol link(nullptr);
        ASSERT_EQ(TSOpen(link.port, device_->PortPath().c_str(), 9600), kTSOk);
        char buf[32] = {};
        int length = sizeof buf;
        ASSERT_GT(DeviceCommand(link, "get -ver\r", '>', 800, buf, &length, nullptr), 0);
        answer = buf;
    }
    EXPECT_EQ(answer, "\rBR 1.10\r>") << "the device runs the opened image";
    EXPECT_EQ(ui_.labels[Label::LblConnect], "You may disconnect your Brisen now.");
}

}  // namespace
}  // namespace tarsa::app
