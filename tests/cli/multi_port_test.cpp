// tarsa-update on several ports at once, its JSON events and the dry run,
// run as a script would run them against simulated Taloxes on real ptys.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/json_events.h"
#include "cli/multi_port.h"
#include "cli/program_run.h"
#include "loader/bsl_host.h"
#include "loader/firmware_image.h"
#include "sim/simulator.h"

namespace {

namespace fs = std::filesystem;
namespace sim = tarsa::sim;
using tarsa::cli::JsonMembers;
using tarsa::cli::MemberNumber;
using tarsa::cli::MemberText;
using tarsa::clitest::ProgramRun;
using tarsa::clitest::RunProgram;

using Settings = std::map<std::string, std::string>;

// What a device holds apart from what runs by itself (clock) or is reset by
// any firmware start.
Settings Kept(Settings s) {
    for (const char* word : {"clock", "records", "resets", "baud", "trait", "build"}) s.erase(word);
    return s;
}

std::string FileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class MultiPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tarsa_multi_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        env_ = {"XDG_CONFIG_HOME='" + (dir_ / "config").string() + "'",
                "XDG_DATA_HOME='" + (dir_ / "xdg").string() + "'"};
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A tray of `count` Taloxes at 2.10, each with a name and serial number
    // of its own and settings that differ from the factory's.
    void StartTray(int count, const std::map<int, Settings>& extra = {}) {
        for (int n = 0; n < count; ++n) {
            sim::DeviceConfig config;
            config.version = "2.10";
            config.settings = {{"i", "TRAY" + std::to_string(n)},
                               {"sn", "SN" + std::to_string(1000 + n)},
                               {"site", "Bench \"" + std::to_string(n) + "\""},
                               {"w", "600"}};
            auto it = extra.find(n);
            if (it != extra.end()) {
                for (const auto& [k, v] : it->second) config.settings[k] = v;
            }
            tray_.push_back(sim::Simulator::Start("talox", config));
            ASSERT_NE(tray_.back(), nullptr);
        }
    }
    std::vector<std::string> Args(std::vector<std::string> args) const {
        args.insert(args.end(), {"--data-dir", (dir_ / "data").string()});
        for (const auto& d : tray_) args.insert(args.end(), {"--port", d->PortPath()});
        return args;
    }
    fs::path PortDir(size_t n) const {
        return dir_ / "data" / tarsa::cli::PortDisplayName(tray_[n]->PortPath());
    }
    void ExpectFlashHoldsTheImage(size_t n) {
        std::vector<uint8_t> flash = tray_[n]->Flash();
        tarsa::TarsaBSLHost host(nullptr);
        std::vector<tarsa::ImageSection> sections;
        ASSERT_GT(tarsa::DecodeImageText(host.image.text, sections), 0);
        for (const tarsa::ImageSection& s : sections) {
            ASSERT_TRUE(std::equal(s.bytes.begin(), s.bytes.end(), flash.begin() + s.address))
                << "device " << n << ", section at " << std::hex << s.address;
        }
    }
    // The table row of device n.
    std::string Row(const std::string& out, size_t n) const {
        const std::string name = tarsa::cli::PortDisplayName(tray_[n]->PortPath());
        std::regex row("\n(" + name + " +[^\n]*)");
        std::smatch m;
        const size_t table = out.find("\nPort ");
        if (table == std::string::npos) return {};
        const std::string tail = out.substr(table);
        return std::regex_search(tail, m, row) ? m[1].str() : std::string();
    }

    fs::path dir_;
    std::vector<std::string> env_;
    std::vector<std::unique_ptr<sim::Simulator>> tray_;
};

TEST_F(MultiPortTest, TrayOfSixteenUpdatesEveryDeviceOnItsOwn) {
    constexpr size_t kPowerLoss = 4, kLowBattery = 11;
    StartTray(16, {{static_cast<int>(kLowBattery), {{"batt", "5"}}}});
    std::vector<Settings> before;
    for (const auto& d : tray_) before.push_back(Kept(d->Settings()));
    const std::vector<uint8_t> lowFlash = tray_[kLowBattery]->Flash();
    tray_[kPowerLoss]->SetPowerLossAfterBlocks(40);

    ProgramRun run = RunProgram(Args({"--yes"}), env_);
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("14 of 16 ports succeeded."), std::string::npos) << run.out;

    const std::regex otherPort("/dev/pts/([0-9]+)");
    for (size_t n = 0; n < tray_.size(); ++n) {
        SCOPED_TRACE("device " + std::to_string(n));
        const std::string row = Row(run.out, n);
        const fs::path log = PortDir(n) / "Talox Firmware Updater.errors.txt";
        ASSERT_TRUE(fs::exists(log)) << "each port has its own log";
        // No port's log mentions another port.
        const std::string logText = FileText(log);
        for (auto it = std::sregex_iterator(logText.begin(), logText.end(), otherPort);
             it != std::sregex_iterator(); ++it) {
            ASSERT_EQ((*it)[0].str(), tray_[n]->PortPath());
        }
        if (n == kPowerLoss) {
            EXPECT_NE(row.find("Firmware Upload Error"), std::string::npos) << row;
            EXPECT_NE(FileText(PortDir(n) / "Talox.settings.txt").find("SN1004"), std::string::npos)
                << "the failed port keeps its own settings file";
            continue;
        }
        if (n == kLowBattery) {
            EXPECT_NE(row.find("Batteries Too Low"), std::string::npos) << row;
            EXPECT_EQ(tray_[n]->Flash(), lowFlash) << "a refused device is not touched";
            continue;
        }
        EXPECT_NE(row.find("TRAY" + std::to_string(n)), std::string::npos) << row;
        EXPECT_NE(row.find("SN" + std::to_string(1000 + n)), std::string::npos) << row;
        EXPECT_NE(row.find("2.10 -> 2.29"), std::string::npos) << row;
        EXPECT_NE(row.find("Successfully updated firmware in "), std::string::npos) << row;
        ExpectFlashHoldsTheImage(n);
        Settings after = tray_[n]->Settings();
        EXPECT_EQ(after["records"], "0");
        EXPECT_EQ(Kept(after), before[n]) << "the settings are back, this device's own";
        // The settings file went into this port's own history.
        ASSERT_TRUE(fs::exists(PortDir(n) / "history"));
        size_t own = 0;
        for (const auto& e : fs::directory_iterator(PortDir(n) / "history")) {
            own += e.path().filename().string().find("SN" + std::to_string(1000 + n)) !=
                   std::string::npos;
        }
        EXPECT_EQ(own, 1u);
    }
    EXPECT_FALSE(fs::exists(dir_ / "data" / "Talox.settings.txt")) << "nothing shared on top";
    EXPECT_FALSE(fs::exists(dir_ / "data" / "Talox Firmware Updater.errors.txt"));
}

// Without --yes the device whose update would ask is refused with the
// question's text; every line is one JSON object, every port's events come
// in order from start to result.
TEST_F(MultiPortTest, JsonEventsAreObjectsInOrderPerPort) {
    StartTray(3, {{1, {{"batt", "5"}}}});
    tray_.push_back(nullptr);
    sim::DeviceConfig newer;
    newer.version = "2.30";
    tray_.back() = sim::Simulator::Start("talox", newer);
    ASSERT_NE(tray_.back(), nullptr);

    ProgramRun run = RunProgram(Args({"--json"}), env_);
    EXPECT_EQ(run.status, 1);
    std::map<std::string, std::vector<JsonMembers>> events;  // by port
    std::istringstream lines(run.out);
    std::string line;
    while (std::getline(lines, line)) {
        JsonMembers m;
        ASSERT_TRUE(tarsa::cli::ParseJsonObject(line, m)) << "not one JSON object: " << line;
        events[MemberText(m, "port")].push_back(m);
    }
    ASSERT_EQ(events.size(), 4u) << run.out;
    const std::vector<std::string> phases = {"Connecting to Talox...",
                                             "Checking battery power...",
                                             "Saving settings for this Talox...",
                                             "Starting the firmware loader...",
                                             "Erasing firmware memory...",
                                             "Uploading new firmware code...",
                                             "Restarting the Talox, please wait...",
                                             "Checking new firmware...",
                                             "Restoring settings...",
                                             "Erasing old data..."};
    for (size_t n = 0; n < tray_.size(); ++n) {
        const auto& list = events[tray_[n]->PortPath()];
        SCOPED_TRACE("device " + std::to_string(n));
        ASSERT_GE(list.size(), 2u);
        EXPECT_EQ(MemberText(list.front(), "event"), "start");
        EXPECT_EQ(MemberText(list.front(), "firmware"), "Talox 2.29");
        const JsonMembers& result = list.back();
        ASSERT_EQ(MemberText(result, "event"), "result");
        std::vector<std::string> seen;
        std::map<std::string, int> count;
        int percent = 0;
        for (const JsonMembers& m : list) {
            const std::string event = MemberText(m, "event");
            ++count[event];
            if (event == "phase") seen.push_back(MemberText(m, "phase"));
            if (event == "progress" && n != 1 && n != 3) {
                EXPECT_GE(MemberNumber(m, "percent"), percent) << "progress only rises";
                percent = static_cast<int>(MemberNumber(m, "percent"));
                EXPECT_TRUE(m.count("seconds_left") && m.count("phase"));
            }
        }
        EXPECT_EQ(count["start"], 1);
        EXPECT_EQ(count["result"], 1);
        if (n == 1) {
            EXPECT_EQ(MemberNumber(result, "code"), -130);
            EXPECT_EQ(MemberText(result, "caption"), "Batteries Too Low");
            EXPECT_GE(count["message"], 1);
        } else if (n == 3) {
            ASSERT_EQ(count["question"], 1);
            const auto q = std::find_if(list.begin(), list.end(), [](const JsonMembers& m) {
                return MemberText(m, "event") == "question";
            });
            EXPECT_EQ(MemberText(*q, "caption"), "Newer Firmware");
            EXPECT_EQ(MemberText(*q, "answer"), "cancel");
            EXPECT_EQ(MemberNumber(result, "code"), -40);
            EXPECT_NE(MemberText(result, "text").find(MemberText(*q, "text")), std::string::npos)
                << "refused with the question's text";
            EXPECT_EQ(tray_[n]->State(), "application");
        } else {
            EXPECT_EQ(seen.size(), phases.size() + 1);
            for (size_t i = 0; i < phases.size() && i < seen.size(); ++i) {
                EXPECT_EQ(seen[i], phases[i]);
            }
            EXPECT_EQ(percent, 100);
            EXPECT_EQ(MemberNumber(result, "code"), 1);
            EXPECT_EQ(MemberText(result, "version_before"), "2.10");
            EXPECT_EQ(MemberText(result, "version_after"), "2.29");
            EXPECT_EQ(MemberText(result, "serial"), "SN" + std::to_string(1000 + n));
            EXPECT_EQ(MemberText(result, "device_name"), "TRAY" + std::to_string(n));
        }
    }
}

TEST_F(MultiPortTest, CheckOnlyChangesNothingAndRefusesALowBattery) {
    struct Case {
        const char* battery;
        int status;
        const char* says;
    };
    for (const Case& c : {Case{"87", 0,
                               "Check only: would install Talox 2.29 over 2.10, erase stored "
                               "data, restore 18 settings"},
                          Case{"5", 1, "Batteries Too Low"}}) {
        SCOPED_TRACE(c.battery);
        tray_.clear();
        StartTray(1, {{0, {{"batt", c.battery}}}});
        sim::Simulator& d = *tray_[0];
        const std::vector<uint8_t> flash = d.Flash();
        const Settings before = Kept(d.Settings());
        const fs::path backup = dir_ / ("backup" + std::string(c.battery) + ".txt");
        ProgramRun run =
            RunProgram(Args({"--check-only", "--backup-settings", backup.string()}), env_);
        EXPECT_EQ(run.status, c.status) << run.out;
        EXPECT_NE(run.out.find(c.says), std::string::npos) << run.out;
        EXPECT_EQ(d.Flash(), flash);
        EXPECT_EQ(Kept(d.Settings()), before);
        EXPECT_EQ(d.Settings()["records"], "1000") << "the stored data stays";
        EXPECT_EQ(d.State(), "application") << "no loader started";
        const std::string sent = d.Received();
        for (const char* write : {"set ", "boot", "\ryes\r"}) {
            EXPECT_EQ(sent.find(write), std::string::npos) << "sent " << write;
        }
        EXPECT_EQ(fs::exists(backup), c.status == 0);
        if (c.status == 0) {
            EXPECT_NE(FileText(backup).find("SN1000"), std::string::npos);
        }
    }
}

// Ctrl-C twice within 3 s stops every port; every settings file stays.
TEST_F(MultiPortTest, CtrlCStopsEveryPortAndKeepsTheSettingsFiles) {
    StartTray(4);
    for (const auto& d : tray_) d->SetProgramMs(40);  // an upload that takes its time
    const fs::path out = dir_ / "out.txt";
    std::vector<std::string> args = Args({"--yes"});
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (dir_ / "xdg").c_str(), 1);
        FILE* f = freopen(out.c_str(), "w", stdout);
        if (f == nullptr || dup2(STDOUT_FILENO, STDERR_FILENO) < 0) _exit(126);
        std::vector<char*> argv = {const_cast<char*>(TARSA_UPDATE_PATH)};
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    // Wait until every device is in its upload, its settings saved.
    auto uploading = [&] {
        for (const auto& d : tray_) {
            if (d->BlocksWritten() < 5) return false;
        }
        return true;
    };
    for (int i = 0; i < 600 && !uploading(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(uploading()) << FileText(out);
    kill(pid, SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    const std::string text = FileText(out);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << text;
    EXPECT_NE(text.find("Don't Quit Now!"), std::string::npos) << text;
    EXPECT_NE(text.find("0 of 4 ports succeeded."), std::string::npos) << text;
    for (size_t n = 0; n < tray_.size(); ++n) {
        EXPECT_NE(Row(text, n).find("Stopped by the user"), std::string::npos) << text;
        EXPECT_NE(FileText(PortDir(n) / "Talox.settings.txt").find("SN" + std::to_string(1000 + n)),
                  std::string::npos)
            << "device " << n << " keeps its settings file";
        EXPECT_LT(tray_[n]->BlocksWritten(), 300) << "stopped in the middle of the upload";
    }
}

TEST(MultiPortOptions, UsageErrorsExitTwo) {
    const std::vector<std::vector<std::string>> bad = {
        {"--all-ports", "--port", "ttyUSB0"},
        {"--all-ports", "--list-ports"},
        {"--simulate", "0"},
        {"--json", "--list-ports"},
        {"--check-only", "--dump-image", "x.txt"},
        {"--port", "a", "--port", "b", "--factory", "--new-serial", "1"},
        {"--port", "a", "--port", "b", "--check-only", "--backup-settings", "s.txt"},
    };
    for (const auto& args : bad) {
        ProgramRun run = RunProgram(args);
        EXPECT_EQ(run.status, 2) << args[0] << " " << args[1] << "\n" << run.out;
    }
}

TEST(JsonEvents, TextsAreEscapedAndReadBack) {
    struct Case {
        std::string text;
        std::string quoted;
        std::string readBack;
    };
    const std::vector<Case> cases = {
        {"plain", "\"plain\"", "plain"},
        {"a \"b\" \\c", "\"a \\\"b\\\" \\\\c\"", "a \"b\" \\c"},
        {"line\nnext\r\t\x01", "\"line\\nnext\\r\\t\\u0001\"", "line\nnext\r\t\x01"},
        {"caf\xC3\xA9", "\"caf\xC3\xA9\"", "caf\xC3\xA9"},
        {"bad \xFF\xC3(", "\"bad \xEF\xBF\xBD\xEF\xBF\xBD(\"", "bad \xEF\xBF\xBD\xEF\xBF\xBD("},
        {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"",
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tarsa::cli::JsonQuote(c.text), c.quoted);
        JsonMembers m;
        ASSERT_TRUE(tarsa::cli::ParseJsonObject(
            tarsa::cli::JsonObject().Add("t", c.text).Add("n", -35).Text(), m));
        EXPECT_EQ(MemberText(m, "t"), c.readBack);
        EXPECT_EQ(MemberNumber(m, "n"), -35);
    }
    JsonMembers m;
    for (const char* bad : {"", "{", "{\"a\":1} x", "{'a':1}", "{\"a\":01}", "{\"a\":\"\x01\"}",
                            "{\"a\":[1,]}", "{\"a\":\"\\ud800\"}", "[1]", "{\"a\" 1}"}) {
        EXPECT_FALSE(tarsa::cli::ParseJsonObject(bad, m)) << bad;
    }
    ASSERT_TRUE(tarsa::cli::ParseJsonObject(
        " {\"a\":{\"b\":[1,2.5e3,null]},\"c\":true,\"d\":\"\\u00e9\\ud83d\\ude00\"} ", m));
    EXPECT_EQ(m["a"].text, "{\"b\":[1,2.5e3,null]}");
    EXPECT_TRUE(m["c"].boolean);
    EXPECT_EQ(MemberText(m, "d"), "\xC3\xA9\xF0\x9F\x98\x80");
}

}  // namespace
