// The main window's logic behind a recording user interface: start-up texts,
// options, ports and their persistence, the close request, firmware files,
// gates and messages.
#include "app/main_window.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fake_ui.h"
#include "support/test_env.h"
#include "web/web_config.h"

namespace tarsa::app {
namespace {

namespace fs = std::filesystem;
using test::FakeUi;

// The web services of these tests are a local port where nothing listens.
const bool kOffline = [] {
    tarsa::test::SetEnv("TARSA_VERSION_SERVICE", "http://127.0.0.1:9");
    tarsa::test::SetEnv("TARSA_FEEDBACK_SERVICE", "http://127.0.0.1:9");
    return true;
}();

class MemoryStore : public SettingsStore {
  public:
    std::string Read(const std::string& key) override {
        auto it = values.find(key);
        return it == values.end() ? std::string() : it->second;
    }
    bool Write(const std::string& key, const std::string& value) override {
        values[key] = value;
        ++writes;
        return true;
    }
    std::map<std::string, std::string> values;
    int writes = 0;
};

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tarsa_app_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    MainWindow& Show(std::vector<std::string> args = {}, BuildConfig config = {},
                     bool quietCheck = false) {
        config.programVersion = "1.2.3";
        window_ = std::make_unique<MainWindow>(
            ui_, store_, config, [this](TarsaSerial&, std::vector<PortEntry>& out, bool force) {
                forceSeen_ = force;
                out = ports_;
                return static_cast<int>(ports_.size());
            });
        Environment env;
        env.arguments = std::move(args);
        env.dataFolder = dir_.string();
        env.programFolder = "/opt/tarsa/bin";
        env.quietVersionCheck = quietCheck;
        window_->FormShow(env);
        return *window_;
    }
    std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    fs::path dir_;
    FakeUi ui_;
    MemoryStore store_;
    std::vector<PortEntry> ports_{{"ttyUSB0", "USB Serial (ttyUSB0)"},
                                  {"ttyUSB1", "Radio Modem (ttyUSB1)"}};
    bool forceSeen_ = false;
    std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, StartUpDerivesEveryTextFromTheTarget) {
    MainWindow& w = Show();
    EXPECT_EQ(ui_.caption, "Talox Firmware Updater");
    EXPECT_EQ(ui_.title, "Talox Updater");
    EXPECT_EQ(ui_.menuCaption[MenuItem::About], "About Talox Firmware Updater");
    EXPECT_EQ(ui_.labels[Label::UserText1], "This utility updates Talox firmware to");
    EXPECT_EQ(ui_.labels[Label::UserText2], "Talox 2.29");
    EXPECT_EQ(ui_.labels[Label::CommLabel], "Connect to Talox with Comm Port");
    EXPECT_EQ(ui_.labels[Label::LblConnect], "Connect Talox to computer comm port.");
    EXPECT_EQ(w.LogFilePath(), (dir_ / "Talox Firmware Updater.errors.txt").string());
    EXPECT_EQ(w.SettingsFilePath(), (dir_ / "Talox.settings.txt").string());
    EXPECT_EQ(w.VersionFinderPath(), "/versionfinder/Talox-Firmware.html");
    EXPECT_EQ(w.ImageVersion(), 229u);
    EXPECT_TRUE(ui_.menuVisible[MenuItem::DontEraseData]);
    EXPECT_FALSE(ui_.menuVisible[MenuItem::ReplaceSerialNumber]);
    EXPECT_EQ(ui_.timers.count(Timer::EraseWarn), 1u) << "a Talox update erases data: warn first";
    EXPECT_EQ(ui_.timers.count(Timer::WebCheck), 0u);
    EXPECT_EQ(ui_.timers.count(Timer::ConstructorErrors), 0u);
}

TEST_F(MainWindowTest, OptionsAreExactCaseSensitiveWords) {
    MainWindow& w = Show({"-Factory", "/factory", "-rep"});
    EXPECT_FALSE(w.FactoryMode());
    EXPECT_TRUE(w.RepMode());
    EXPECT_TRUE(ui_.menuEnabled[MenuItem::OpenFirmwareFile]);
    EXPECT_EQ(ui_.timers.count(Timer::EraseWarn), 0u) << "rep mode skips the erase warning";
    EXPECT_EQ(ui_.timers.at(Timer::WebCheck), 500u);
}

TEST_F(MainWindowTest, FactoryModeIncludesRepModeAndShowsItsMenus) {
    MainWindow& w = Show({"-factory"});
    EXPECT_TRUE(w.FactoryMode());
    EXPECT_TRUE(w.RepMode());
    EXPECT_TRUE(ui_.menuVisible[MenuItem::ReplaceSerialNumber]);
    w.ReplaceSerialNumberClick();
    EXPECT_TRUE(ui_.serialEditVisible);
    EXPECT_TRUE(ui_.serialFocused);
}

TEST_F(MainWindowTest, EraseWarningThenTheQuietVersionCheck) {
    MainWindow& w = Show();
    std::vector<bool> checks;
    w.versionCheck = [&](bool quiet) { checks.push_back(quiet); };
    w.OnTimer(Timer::EraseWarn);
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].caption, "Data Erase Warning");
    EXPECT_EQ(ui_.messages[0].text,
              "WARNING: The Talox Firmware Updater will erase all measurement data\n stored in "
              "your Talox.\n\n Please download any data you want to save before continuing.");
    EXPECT_EQ(ui_.timers.count(Timer::EraseWarn), 0u);
    ASSERT_EQ(ui_.timers.count(Timer::WebCheck), 1u);
    w.OnTimer(Timer::WebCheck);
    EXPECT_EQ(checks, std::vector<bool>{true});
    EXPECT_NE(Read(w.LogFilePath()).find("ErrorOK Told User:: WARNING: The Talox"),
              std::string::npos)
        << "every message is logged after it was shown";
}

TEST_F(MainWindowTest, MenuVersionCheckReportsAFailureTheQuietOneStaysSilent) {
    MainWindow& w = Show({}, {}, true);
    w.OnTimer(Timer::WebCheck);
    EXPECT_TRUE(ui_.messages.empty()) << "the start-up check is quiet";
    w.CheckForNewerFirmwareVersion1Click();
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].caption, "Version Check Error");
    EXPECT_EQ(ui_.messages[0].kind, MessageKind::Error);
}

TEST_F(MainWindowTest, FeedbackGetsTheWindowTextsAndATrimmedLog) {
    MainWindow& w = Show();
    WEB_FORM_INFO_TYPE info = w.FeedbackInfo();
    EXPECT_EQ(info.programTitle, "Talox Firmware Updater");
    EXPECT_EQ(info.programVersion, "Talox 2.29");
    EXPECT_EQ(info.registeredName, "");
    EXPECT_EQ(info.registeredCompany, "");
    EXPECT_EQ(info.defaultEmailTo, SupportEmail());
    EXPECT_EQ(info.attachment1, w.LogFilePath());
    EXPECT_EQ(info.attachment2 + info.attachment3, "");
    EXPECT_EQ(info.browseFolder, "/opt/tarsa/bin");

    std::string line(99, 'x');
    for (int i = 0; i < 500; ++i) w.Log()->Write(kLogOutcome, "test", "%s", line.c_str());
    ASSERT_GT(w.Log()->Size(), 40000);
    EXPECT_FALSE(w.SendFeedbackClick()) << "the service does not answer";
    EXPECT_LE(w.Log()->Size(), 32768 + 1024);
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].caption, "Internet Access Error");
    EXPECT_EQ(w.Web().info.programTitle, "Talox Firmware Updater") << "the texts were handed over";
}

TEST_F(MainWindowTest, FileDialogsAsTheWindowDefinesThem) {
    MainWindow& w = Show({"-rep"});
    w.OpenFirmwareFile1Click();
    w.DumpFirmwareImage1Click();
    ASSERT_EQ(ui_.dialogs.size(), 2u);
    EXPECT_EQ(ui_.dialogs[0].title, "Please select a firmware file");
    EXPECT_EQ(ui_.dialogs[0].filter, "Firmware File (*.txt)|*.txt|Any File (*.*)|*.*");
    EXPECT_EQ(ui_.dialogs[0].defaultExtension, ".txt");
    EXPECT_EQ(ui_.dialogs[0].folder, fs::current_path().string());
    EXPECT_TRUE(ui_.dialogs[0].mustExist);
    EXPECT_EQ(ui_.dialogs[1].title, "Save Firmware Image");
    EXPECT_EQ(ui_.dialogs[1].filter, "");
    EXPECT_FALSE(ui_.dialogs[1].mustExist);
    EXPECT_TRUE(ui_.messages.empty()) << "cancelled dialogs do nothing";
}

TEST_F(MainWindowTest, NamedPortComesFirstAndStaysAcrossEnumerations) {
    MainWindow& w = Show();
    w.SelectPort("/dev/pts/7", "Simulated Talox (/dev/pts/7)");
    EXPECT_EQ(ui_.portList.front(), "Simulated Talox (/dev/pts/7)");
    EXPECT_EQ(ui_.portIndex, 0);
    w.cbCommPortDropDown();
    EXPECT_EQ(ui_.portList,
              (std::vector<std::string>{"Simulated Talox (/dev/pts/7)", "USB Serial (ttyUSB0)",
                                        "Radio Modem (ttyUSB1)"}));
    ui_.portIndex = 2;
    w.cbCommPortChange();
    EXPECT_EQ(w.SelectedPortName(), "ttyUSB1");
    w.SelectPort("ttyUSB0");
    EXPECT_EQ(ui_.portIndex, 1) << "a listed port is only selected";
}

TEST_F(MainWindowTest, SavedPortIsSelectedAndSavedAgainAtClose) {
    store_.values["CommPort"] = "ttyUSB1";
    store_.values["FindAllComms"] = "1";
    MainWindow& w = Show();
    EXPECT_EQ(ui_.portList,
              (std::vector<std::string>{"USB Serial (ttyUSB0)", "Radio Modem (ttyUSB1)"}));
    EXPECT_EQ(ui_.portIndex, 1);
    EXPECT_EQ(w.SelectedPortName(), "ttyUSB1");
    EXPECT_TRUE(forceSeen_);
    EXPECT_TRUE(ui_.menuChecked[MenuItem::ForceFindAllCommPorts]);
    w.ForceFindAllCommPortsClick();
    w.FormClose();
    EXPECT_EQ(store_.values["FindAllComms"], "0");
    EXPECT_EQ(store_.values["VerboseLog"], "1");
    EXPECT_EQ(store_.values["CommPort"], "ttyUSB1");
    EXPECT_EQ(store_.writes, 3);
}

TEST_F(MainWindowTest, VanishedSavedPortFallsBackToTheFirst) {
    store_.values["CommPort"] = "ttyACM7";
    MainWindow& w = Show();
    EXPECT_EQ(ui_.portIndex, 0);
    w.FormClose();
    EXPECT_EQ(store_.values["CommPort"], "ttyUSB0");
}

TEST_F(MainWindowTest, NoPortsDisablesStartAndSavesAnEmptyName) {
    ports_.clear();
    store_.values["CommPort"] = "ttyUSB0";
    MainWindow& w = Show();
    EXPECT_EQ(ui_.portList, std::vector<std::string>{"No Comm Ports Found"});
    EXPECT_FALSE(ui_.buttonEnabled[Button::Start]);
    EXPECT_EQ(w.SelectedPortName(), "");
    w.FormClose();
    EXPECT_EQ(store_.values["CommPort"], "");

    ports_ = {{"ttyS4", "Serial Port (ttyS4)"}};
    w.cbCommPortDropDown();
    ui_.portIndex = 0;
    w.cbCommPortChange();
    EXPECT_EQ(w.SelectedPortName(), "ttyS4");
    EXPECT_TRUE(ui_.buttonEnabled[Button::Start]);
}

TEST_F(MainWindowTest, CloseRequestRefusesWhileBusy) {
    MainWindow& w = Show();
    w.SetBusy(true);
    EXPECT_FALSE(w.RequestClose());
    ASSERT_EQ(ui_.warnings.size(), 1u);
    EXPECT_EQ(ui_.warnings[0].caption, "Don't Quit Now!");
    EXPECT_EQ(ui_.warnings[0].text,
              "The Talox Firmware Updater is updating your Talox!\nThis process should NOT be "
              "interrupted.\n\nYour Talox may be unusable or have missing settings\nuntil you "
              "complete the firmware update process.\n\nClick OK to continue updating "
              "yourTalox.\n");
    EXPECT_FALSE(ui_.closed);
    EXPECT_TRUE(w.KeepGoing());

    w.SetBusy(false);
    EXPECT_TRUE(w.RequestClose());
    EXPECT_TRUE(ui_.closed);
    EXPECT_FALSE(w.KeepGoing());
}

TEST_F(MainWindowTest, StartDisablesControlsAndArmsTheStartTimer) {
    MainWindow& w = Show();
    int runs = 0;
    w.runUpdate = [&] { return ++runs; };
    w.btnStartClick();
    EXPECT_FALSE(ui_.buttonEnabled[Button::Start]);
    EXPECT_FALSE(ui_.buttonEnabled[Button::Close]);
    EXPECT_FALSE(ui_.menuEnabled[MenuItem::UpdateFirmware]);
    EXPECT_EQ(ui_.timers.at(Timer::Start), 100u);
    w.OnTimer(Timer::Start);
    EXPECT_EQ(runs, 1);
}

TEST_F(MainWindowTest, OpeningAFirmwareFileRetargetsTheWindow) {
    MainWindow& w = Show({"-rep"});
    fs::path file = dir_ / "H8 2-05.txt";
    std::ofstream(file) << "@2100\n00 11 22 33\n@FFFE\n00 21\nq\n";
    EXPECT_EQ(w.OpenFirmwareFile(file.string()), 1);
    EXPECT_EQ(w.DisplayName(), "Hygra 8");
    EXPECT_EQ(ui_.labels[Label::UserText2], "H8 2.05");
    EXPECT_EQ(ui_.labels[Label::UserText1], "This utility updates Hygra 8 firmware to");
    EXPECT_EQ(ui_.labels[Label::LblConnect], "Connect Hygra 8 to computer comm port.");
    EXPECT_EQ(w.SettingsFilePath(), (dir_ / "Hygra 8.settings.txt").string());
    EXPECT_EQ(w.ImageVersion(), 205u);
    EXPECT_EQ(w.Host().image.typeCode, 15);
    EXPECT_EQ(ui_.caption, "Talox Firmware Updater") << "the caption keeps its start-up value";
    EXPECT_EQ(ui_.beeps, 1);

    // Each 'W' call of the upload now moves by 35328 / the new image length.
    float increment = 35328.0f / static_cast<float>(w.Host().image.length);
    w.ProgressAccumulator() = 21.0f;
    w.ProgressHook(0, 0, 1, 'W');
    EXPECT_EQ(w.Progress(), std::min(100, static_cast<int>(21.0f + increment + 0.5f)));
    EXPECT_GT(increment, 1000.0f) << "a tiny image moves the bar by a lot";
}

TEST_F(MainWindowTest, UnknownPrefixKeepsTheTargetAndInvalidFilesChangeNothing) {
    MainWindow& w = Show({"-rep"});
    fs::path bad = dir_ / "Talox 9.99.txt";
    std::ofstream(bad) << "\n@1200\n00 11\nq\n";
    EXPECT_EQ(w.OpenFirmwareFile(bad.string()), -100);
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].caption, "File Error");
    EXPECT_EQ(ui_.messages[0].text,
              "The file \"Talox 9.99.txt\" is not a valid firmware file.\nPlease choose a new "
              "firmware file to open.");
    EXPECT_EQ(w.Host().image.label, "Talox 2.29");
    EXPECT_EQ(ui_.labels[Label::UserText2], "Talox 2.29");

    EXPECT_EQ(w.OpenFirmwareFile((dir_ / "missing.txt").string()), -2);
    EXPECT_EQ(ui_.messages.back().text,
              "The Talox Firmware Updater could not opening \"missing.txt\".\nPlease try "
              "again.\nError -2");

    fs::path custom = dir_ / "Custom 3-10.txt";
    std::ofstream(custom) << "@1200\n00 11\n@FFFE\n00 12\nq\n";
    EXPECT_EQ(w.OpenFirmwareFile(custom.string()), 1);
    EXPECT_EQ(w.Host().image.typeCode, 3) << "a file naming no type is for the build target";
    EXPECT_EQ(w.DisplayName(), "Talox");
    EXPECT_EQ(w.ImageVersion(), 310u);
}

TEST_F(MainWindowTest, DumpWritesTheImageHeld) {
    MainWindow& w = Show();
    EXPECT_EQ(w.DumpFirmwareImage((dir_ / "dump.txt").string()), 1);
    std::string text = Read(dir_ / "dump.txt");
    EXPECT_EQ(text.rfind("@01200\n", 0), 0u);
    EXPECT_NE(text.find("\n@FFE0\n"), std::string::npos);
    EXPECT_LT(w.DumpFirmwareImage((dir_ / "no" / "dump.txt").string()), 0);
    EXPECT_EQ(ui_.messages.back().caption, "Error");
    EXPECT_EQ(ui_.messages.back().text.rfind("Error saving firmware image: -", 0), 0u);
}

TEST_F(MainWindowTest, VersionWindowRefusesOutsideAndAsksInRepMode) {
    MainWindow& w = Show();
    InstrumentIdentity h8{};
    SetInstrumentIdentity(15, 202, &h8);
    EXPECT_TRUE(w.CheckFirmwareWindow(h8));
    h8.version = 999;
    EXPECT_TRUE(w.CheckFirmwareWindow(h8));
    h8.version = 201;
    EXPECT_FALSE(w.CheckFirmwareWindow(h8));
    EXPECT_EQ(ui_.messages.back().caption, "Wrong Firmware Version");
    EXPECT_EQ(ui_.messages.back().text,
              "The Talox Firmware Updater doesn't support this Talox\nrunning version "
              "2.01.\n\nThis updater only works with firmware version 2.02 (or newer).");
    h8.version = 1000;
    EXPECT_FALSE(w.CheckFirmwareWindow(h8));
    EXPECT_NE(ui_.messages.back().text.find("version 9.99 (or older)."), std::string::npos);

    InstrumentIdentity talox{};
    SetInstrumentIdentity(3, 5000, &talox);
    EXPECT_TRUE(w.CheckFirmwareWindow(talox)) << "the Talox has no version window";

    FakeUi repUi;
    MemoryStore repStore;
    MainWindow rep(repUi, repStore, {}, {});
    Environment env;
    env.arguments = {"-rep"};
    env.dataFolder = dir_.string();
    rep.FormShow(env);
    repUi.answers = {true, false};
    EXPECT_TRUE(rep.CheckFirmwareWindow(h8));
    EXPECT_FALSE(rep.CheckFirmwareWindow(h8));
    ASSERT_EQ(repUi.questions.size(), 2u);
    EXPECT_NE(repUi.questions[0].text.find("\n\nClick OK to force the update anyway.\nClick "
                                           "CANCEL to quit the updater."),
              std::string::npos);
}

TEST_F(MainWindowTest, HardwareRevisionFormsRefuseAsConfigured) {
    MainWindow& w = Show();
    EXPECT_TRUE(w.CheckHardwareRevision()) << "a Talox build carries no revision check";
    char revision = 'B';
    w.readHardwareRevision = [&] { return revision; };
    w.hardwareRevisionForm = 1;
    EXPECT_FALSE(w.CheckHardwareRevision());
    EXPECT_EQ(ui_.messages.back().text,
              "The hardware revision of the connected Talox is 'B'.\n\nThis updater only works "
              "with Talox hardware revision 'C'.");
    revision = 'C';
    EXPECT_TRUE(w.CheckHardwareRevision());
    w.hardwareRevisionForm = 2;
    EXPECT_FALSE(w.CheckHardwareRevision());
    EXPECT_NE(ui_.messages.back().text.find("hardware revision 'A' or 'B'."), std::string::npos);
    revision = '\0';
    EXPECT_TRUE(w.CheckHardwareRevision()) << "an unreadable revision passes form two";
}

TEST_F(MainWindowTest, CalibrationRemindersOnlyForThreeTypes) {
    MainWindow& w = Show();
    for (int type = 0; type <= 25; ++type) w.ShowCalibrationReminder(type);
    ASSERT_EQ(ui_.messages.size(), 3u);
    EXPECT_EQ(ui_.messages[0].caption, "Thermik Calibration");
    EXPECT_EQ(ui_.messages[1].caption, "Please Calibrate Your R-40");
    EXPECT_EQ(ui_.messages[2].caption, "Please Calibrate Your Venetra");
}

TEST_F(MainWindowTest, HelpWarnsAboutErasingAndAboutShowsTheVersion) {
    MainWindow& w = Show();
    std::string help = w.HelpText();
    EXPECT_EQ(help.rfind("The Talox Firmware Updater replaces the firmware that operates your "
                         "Talox.\n",
                         0),
              0u);
    EXPECT_NE(help.find("Please download any measurement data stored in yourTalox that you want "
                        "to save.\n\n"),
              std::string::npos);
    w.About1Click();
    EXPECT_EQ(ui_.messages.back().caption, "About Talox Firmware Updater");
    EXPECT_EQ(ui_.messages.back().kind, MessageKind::Information);
    EXPECT_NE(ui_.messages.back().text.find("TarsaBSL Engine version 1.2.3\nCommunication "
                                            "Protocol version 1.8.4\n\n"),
              std::string::npos);
}

TEST_F(MainWindowTest, DamagedImageIsReportedAndTheWindowCloses) {
    MainWindow& w = Show();
    w.Host().constructorError = kBSLImageDamaged;
    w.OnTimer(Timer::ConstructorErrors);
    ASSERT_FALSE(ui_.messages.empty());
    EXPECT_EQ(ui_.messages.back().caption, "Application Launch Error");
    EXPECT_EQ(ui_.messages.back().text,
              "The internal firware file for this Talox Firmware Updater is corrupt.\n\nPlease "
              "restart this application and try again.");
    EXPECT_TRUE(ui_.closed);
    EXPECT_NE(Read(w.LogFilePath())
                  .find("TarsaBSL frmMain: HostBSL class got an constructor "
                        "error (-101)"),
              std::string::npos);
}

TEST_F(MainWindowTest, ProgressHookStepsOnEraseAndAccumulatesOnUpload) {
    MainWindow& w = Show();
    w.SetProgress(8);
    for (int i = 0; i < 12; ++i) EXPECT_TRUE(w.ProgressHook(116, 0, 1, 'X'));
    EXPECT_EQ(w.Progress(), 20);
    w.ProgressAccumulator() = 21.0f;
    for (int i = 0; i < 223; ++i) w.ProgressHook(113780, 0, 1, 'W');
    EXPECT_EQ(w.Progress(), static_cast<int>(21.0f + 223 * kCompiledInIncrement + 0.5f));
    EXPECT_GE(w.Progress(), 89);
    EXPECT_LE(w.Progress(), 91);
    w.ProgressHook(0, 0, 1, 'Q');
    EXPECT_GE(ui_.pumps, 236);
}

}  // namespace
}  // namespace tarsa::app
