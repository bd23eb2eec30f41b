// The instrument update end to end: the main window's logic behind a recording
// user interface, the real protocol layers, and a simulated Talox on a pty.
#include "app/update_workflow.h"

#include "app/settings_transfer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
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
    // The files in the settings history, by name.
    std::vector<fs::path> History() const {
        std::vector<fs::path> files;
        if (!fs::exists(dir_ / "history")) return files;
        for (const auto& entry : fs::directory_iterator(dir_ / "history"))
            files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        return files;
    }
    static std::string FileText(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
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
    const auto history = History();
    ASSERT_EQ(history.size(), 1u) << "into the history, not away";
    EXPECT_EQ(history[0].filename().string().rfind("Talox_TX12345_", 0), 0u) << history[0];
    EXPECT_NE(FileText(history[0]).find("sn=\"TX12345\""), std::string::npos);
    struct stat st {};
    ASSERT_EQ(stat(history[0].c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_NE(LogText().find("Settings history: moved " + w.SettingsFilePath() + " to " +
                             history[0].string()),
              std::string::npos);
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

// The port vanishing after the restart: one message that names the step the
// device was lost in, and nothing after it (no clock, no data erase).
struct LostAfterRestart {
    const char* name;
    const char* prefix;  // the command the port vanishes at
    const char* caption;
    const char* text;
};
void PrintTo(const LostAfterRestart& c, std::ostream* out) {
    *out << c.name;
}

class LostAfterRestartTest : public UpdateTest,
                             public ::testing::WithParamInterface<LostAfterRestart> {};

TEST_P(LostAfterRestartTest, IsReportedOnceByItsOwnStep) {
    sim::DeviceConfig config;
    config.version = "2.10";
    config.settings = kCustomSettings;
    StartDevice("talox", config);
    MainWindow& w = Show();
    sim::Cut cut;
    cut.kind = sim::Cut::Kind::Vanish;
    cut.prefix = GetParam().prefix;
    device_->SetCut(cut);

    EXPECT_EQ(Start(), -21);
    ASSERT_TRUE(device_->CutDone());
    ASSERT_EQ(ui_.messages.size(), 1u) << ui_.messages.back().caption;
    EXPECT_EQ(ui_.messages[0].caption, GetParam().caption);
    EXPECT_EQ(ui_.messages[0].text, GetParam().text);
    const std::string sent = device_->Received();
    const size_t lost = sent.rfind(GetParam().prefix);
    EXPECT_EQ(sent.find("yes\r", lost + 1), std::string::npos) << "nothing erased after it";
    EXPECT_TRUE(fs::exists(w.SettingsFilePath())) << "kept for the next run";
}

INSTANTIATE_TEST_SUITE_P(
    Steps, LostAfterRestartTest,
    ::testing::Values(
        LostAfterRestart{"check", "post", "Firmware Error",
                         "The Talox Firmware Updater was unable to verify the new firmware in "
                         "your Talox.\n\nPlease try again or contact Corvane.\n\n[Error -21]"},
        LostAfterRestart{"restore", "set -site", "Settings Error",
                         "The Talox Firmware Updater failed to restore the settings for your "
                         "Talox.\n\nPlease try again.\n\n[Error -21]"},
        LostAfterRestart{"clock", "set -t ", "Clock Error",
                         "The Talox Firmware Updater failed to set the clock in your "
                         "Talox.\n\nPlease try again.\n\n[Error -21]"},
        LostAfterRestart{"erase", "yes", "Data Erase Error",
                         "The Talox Firmware Updater was unable to erase the data in your "
                         "Talox.\nPlease try again.\n[Error: -21]"}),
    [](const auto& param) { return std::string(param.param.name); });

// A run whose restore failed leaves the only copy of the settings in the
// settings file; the next run finds the application answering and must keep
// that file before its capture replaces it.
TEST_F(UpdateTest, EarlierSettingsFileIsKeptBeforeTheCaptureReplacesIt) {
    sim::DeviceConfig config;
    config.settings = kCustomSettings;
    config.hasLoader = false;  // each run stops after its capture
    StartDevice("talox", config);
    MainWindow& w = Show();
    ASSERT_EQ(Start(), kBSLNoLoader);
    const std::string original = FileText(w.SettingsFilePath());
    ASSERT_NE(original.find("sn=\"TX12345\""), std::string::npos);
    EXPECT_TRUE(History().empty());

    config.settings = {};  // factory values now
    StartDevice("talox", config);
    w.SelectPort(device_->PortPath());
    ui_.messages.clear();
    ASSERT_EQ(Start(), kBSLNoLoader);
    const auto history = History();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(FileText(history[0]), original) << "the earlier file, unchanged";
    EXPECT_EQ(history[0].filename().string().rfind("Talox_TX12345_", 0), 0u) << history[0];
    EXPECT_EQ(FileText(w.SettingsFilePath()).find("TX12345"), std::string::npos)
        << "the new capture holds the factory values";
    const test::Shown* told = Shown_("Earlier Settings File");
    ASSERT_NE(told, nullptr);
    EXPECT_EQ(ui_.messages.front().caption, "Earlier Settings File") << "said before capturing";
    EXPECT_NE(told->text.find("It has been moved to\n" + history[0].string()), std::string::npos)
        << told->text;
    EXPECT_NE(told->text.find("tarsa-update --restore-settings " + history[0].string() +
                              " --port " + device_->PortPath()),
              std::string::npos)
        << told->text;

    // A history that cannot be written stops the run before the capture.
    fs::remove_all(dir_ / "history");
    std::ofstream(dir_ / "history") << "a file where the folder belongs";
    ui_.messages.clear();
    EXPECT_EQ(Start(), kUpdateSettingsNotKept);
    ASSERT_NE(Shown_("Settings Error"), nullptr);
    EXPECT_TRUE(fs::exists(w.SettingsFilePath())) << "left where it was";
}

// The settings alone: a history file written back to a device whose
// firmware reset them, and a backup that keeps what it replaces.
TEST_F(UpdateTest, RestoreSettingsWritesAHistoryFileBackWithoutAnUpdate) {
    sim::DeviceConfig config;
    config.settings = kCustomSettings;
    config.hasLoader = false;
    StartDevice("talox", config);
    const auto before = Kept(device_->Settings());
    MainWindow& w = Show();
    ASSERT_EQ(Start(), kBSLNoLoader);  // the capture is in the settings file
    config.settings = {};
    StartDevice("talox", config);  // the same device after its firmware was reset
    w.SelectPort(device_->PortPath());
    ASSERT_EQ(Start(), kBSLNoLoader);
    ASSERT_EQ(History().size(), 1u);
    const std::string kept = History()[0].string();
    ASSERT_NE(Kept(device_->Settings()), before);

    ui_.messages.clear();
    ASSERT_EQ(RestoreSettingsFromFile(w, kept), kTransferOk)
        << (ui_.messages.empty() ? "" : ui_.messages.back().text);
    EXPECT_TRUE(ui_.messages.empty());
    EXPECT_EQ(Kept(device_->Settings()), before);
    EXPECT_EQ(device_->BlocksWritten(), 0) << "the firmware is not touched";
    EXPECT_EQ(ui_.labels[Label::StatusText],
              "Restored the settings of your Talox from " + kept + ".");
    EXPECT_FALSE(w.Busy());

    // Files that are not for this device are refused and change nothing.
    const fs::path h8 = dir_ / "h8.txt";
    std::ofstream(h8, std::ios::binary)
        << "***** Auto-Generated Settings File -- DO NOT EDIT *****\r\n\r\n"
           "type=\"H8\"\r\nsn=\"H8-1\"\r\n";
    const fs::path notes = dir_ / "notes.txt";
    std::ofstream(notes) << "sn=\"X\"\n";
    const std::string tail = "\n\nNothing was changed on your Talox.";
    struct Refusal {
        fs::path file;
        int result;
        std::string text;
    };
    const Refusal refusals[] = {
        {h8, kTransferWrongFile,
         "The settings file\n" + h8.string() + "\nwas saved from a Hygra 8, not from a Talox." +
             tail},
        {notes, kTransferWrongFile,
         "The file\n" + notes.string() + "\nis not a settings file." + tail},
        {dir_ / "missing.txt", kTPFileNotFound,
         "The Talox Firmware Updater couldn't find the settings file for your Talox.\n\nPlease "
         "try again or contact Corvane for help.\n\n" +
             (dir_ / "missing.txt").string()},
    };
    const int commands = device_->CommandCount();
    for (const Refusal& r : refusals) {
        ui_.messages.clear();
        EXPECT_EQ(RestoreSettingsFromFile(w, r.file.string()), r.result) << r.file;
        ASSERT_EQ(ui_.messages.size(), 1u) << r.file;
        EXPECT_EQ(ui_.messages[0].text, r.text);
    }
    EXPECT_EQ(Kept(device_->Settings()), before);
    EXPECT_LE(device_->CommandCount() - commands, 2) << "identified, never written to";
}

TEST_F(UpdateTest, BackupSettingsKeepsWhatItReplacesAndNeverAForeignFile) {
    sim::DeviceConfig config;
    config.settings = kCustomSettings;
    StartDevice("talox", config);
    MainWindow& w = Show();
    const fs::path backup = dir_ / "lake4.txt";
    ASSERT_EQ(BackupSettingsToFile(w, backup.string()), kTransferOk)
        << (ui_.messages.empty() ? "" : ui_.messages.back().text);
    const std::string first = FileText(backup);
    EXPECT_NE(first.find("name=\"LAKE4\"\r\n"), std::string::npos);
    EXPECT_TRUE(ui_.messages.empty());
    EXPECT_EQ(device_->BlocksWritten(), 0);

    ASSERT_EQ(BackupSettingsToFile(w, backup.string()), kTransferOk);
    ASSERT_EQ(History().size(), 1u);
    EXPECT_EQ(FileText(History()[0]), first);
    ASSERT_NE(Shown_("Earlier Settings File"), nullptr);
    EXPECT_NE(Shown_("Earlier Settings File")->text.find(History()[0].string()), std::string::npos);

    const fs::path notes = dir_ / "notes.txt";
    std::ofstream(notes) << "not settings";
    ui_.messages.clear();
    EXPECT_EQ(BackupSettingsToFile(w, notes.string()), kTransferWrongFile);
    EXPECT_EQ(FileText(notes), "not settings");
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].caption, "Wrong Settings File");
    EXPECT_EQ(History().size(), 1u);
}

// A Talox capture that fails after its first commands keeps the captured
// mark; the restore mask must then be empty, not the last run's.
TEST_F(UpdateTest, ARunStartsWithNothingCapturedByTheLastOne) {
    StartDevice("talox");
    MainWindow& w = Show();
    Tarsa_protocol& tp = w.Protocol();
    tp.savedFlags = 0x7FFEFFF;
    tp.captured = 1;
    ASSERT_EQ(AllocateRecords(tp.users, 2), kRecordsAllocated);
    SetText(tp.loggerSettings.site, "from the last run");
    uint32_t flags = 1;
    int captured = 1;
    int32_t users = 1;
    std::string site = "?";
    RunStartSequence(
        w, tp,
        [&] {
            flags = tp.savedFlags;
            captured = tp.captured;
            users = tp.users.count;
            site = tp.loggerSettings.site;
            return -1;
        },
        [] {});
    EXPECT_EQ(flags, 0u);
    EXPECT_EQ(captured, 0);
    EXPECT_EQ(users, 0);
    EXPECT_EQ(site, "");
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
