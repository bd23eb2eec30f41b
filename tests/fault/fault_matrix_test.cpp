// The fault matrix: a whole Talox update by the tarsa-update program against
// the simulator on a real pty, cut at one point of every phase, by a power
// loss or by the port vanishing. Each row checks that the cut run fails
// clearly and keeps the settings, and that the next run (and, once the new
// firmware runs, a restore from the kept settings file) leaves the flash
// exactly the image and every setting as it was before. Two more rows
// disturb the loader link without cutting it: every 13th frame answered
// with garbage once, every 7th block refused once.
//
// Each row writes its line of the matrix table to TARSA_FAULT_RESULTS
// ("make test-fault" prints them as one table).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/port_client.h"
#include "sim/simulator.h"

namespace {

namespace fs = std::filesystem;
using tarsa::sim::Cut;
using tarsa::sim::Simulator;

// ---- the program as a child process -------------------------------------

struct ProgramRun {
    int status = -1;  // exit status; -1 when it had to be killed
    std::string out;  // standard output and standard error together
};

// Runs tarsa-update with `args`, its configuration and data under `home`;
// killed after `timeoutS` seconds.
ProgramRun RunProgram(const std::vector<std::string>& args, const fs::path& home,
                      int timeoutS = 150) {
    std::vector<std::string> strings = {TARSA_UPDATE_PATH};
    strings.insert(strings.end(), args.begin(), args.end());
    std::vector<std::string> env = {
        "HOME=" + home.string(), "XDG_CONFIG_HOME=" + (home / "config").string(),
        "XDG_DATA_HOME=" + (home / "xdg").string(), "PATH=/usr/bin:/bin", "LANG=C"};
    std::vector<char*> argv, envp;
    for (std::string& s : strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    for (std::string& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);

    ProgramRun run;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return run;
    const pid_t pid = fork();
    if (pid == 0) {
        int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, 0);
        dup2(pipeFds[1], 1);
        dup2(pipeFds[1], 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(pipeFds[1]);
    if (pid < 0) {
        close(pipeFds[0]);
        return run;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutS);
    bool killed = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
        pollfd pfd{pipeFds[0], POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left)) <= 0) continue;
        char buf[4096];
        const ssize_t n = read(pipeFds[0], buf, sizeof buf);
        if (n <= 0) break;
        run.out.append(buf, static_cast<size_t>(n));
    }
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (killed) run.out += "\n(killed after " + std::to_string(timeoutS) + " s)";
    return run;
}

bool Succeeded(const ProgramRun& run) {
    return run.out.find("Successfully updated firmware in ") != std::string::npos;
}

// Where the error messages the program printed begin ("Error: caption").
std::vector<size_t> ErrorStarts(const std::string& out) {
    std::vector<size_t> starts;
    for (size_t at = 0; (at = out.find("Error: ", at)) != std::string::npos; at += 7) {
        if (at == 0 || out[at - 1] == '\n') starts.push_back(at);
    }
    return starts;
}

// The first line of the first error message, and how many more followed.
std::string ErrorLine(const std::string& out) {
    const std::vector<size_t> starts = ErrorStarts(out);
    if (starts.empty()) return {};
    const size_t textStart = out.find('\n', starts[0]);
    if (textStart == std::string::npos) return out.substr(starts[0]);
    const size_t textEnd = out.find('\n', textStart + 1);
    std::string line = out.substr(
        textStart + 1, textEnd == std::string::npos ? std::string::npos : textEnd - textStart - 1);
    if (starts.size() > 1) line += " [+" + std::to_string(starts.size() - 1) + " more]";
    return line;
}

// The settings file that the program's "--restore-settings FILE" advice names.
fs::path AdvisedRestoreFile(const std::string& out) {
    const std::string option = "--restore-settings ";
    const size_t at = out.rfind(option);
    if (at == std::string::npos) return {};
    const size_t start = at + option.size();
    const size_t end = out.find(" --port", start);
    if (end == std::string::npos) return {};
    return out.substr(start, end - start);
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// ---- the device and what it must end with ------------------------------

// Settings that differ from the factory's, so that a lost restore shows.
const std::map<std::string, std::string> kFieldSettings = {
    {"i", "FIELD7"},
    {"sn", "TX20417"},
    {"devid", "LM-07"},
    {"report", "3"},
    {"depth", "1 2 3 4 5"},
    {"site", "Lake Mere north"},
    {"lat", "+45.12345"},
    {"long", "-122.50000"},
    {"tz", "4"},
    {"w", "600"},
    {"padc", "30"},
    {"ports", "1 0 2 0 3"},
    {"r", "2"},
    {"data", "12345"},
    {"adc30", "120 121 122 123 124 125 126 127 128 129"},
    {"adc15", "130 131 132 133 134 135 136 137 138 139"},
};

// What the settings file calls each of those settings (the ADC factors and
// the time zone are written in other forms and are left to the final check).
const std::map<std::string, std::string> kFileKeys = {
    {"i", "name"},      {"sn", "sn"},     {"devid", "deviceid"}, {"report", "report"},
    {"depth", "depth"}, {"site", "site"}, {"lat", "lat"},        {"long", "lon"},
    {"w", "wake"},      {"padc", "padc"}, {"ports", "ports"},    {"r", "rmode"},
    {"data", "data"},
};

// The device's settings without what an update changes on purpose.
std::map<std::string, std::string> Kept(std::map<std::string, std::string> settings) {
    for (const char* word : {"clock", "records", "resets", "baud"}) settings.erase(word);
    return settings;
}

// The flash a clean update leaves: the factory flash with the information
// memory, the main flash and the vector segment erased, then the image.
std::vector<uint8_t> ExpectedFlash(std::vector<uint8_t> flash) {
    auto erase = [&](size_t from, size_t to) {
        for (size_t a = from; a <= to && a < flash.size(); ++a) flash[a] = 0xFF;
    };
    erase(0x1000, 0x10FF);
    erase(0x1100, 0xF9FF);
    erase(0xFE00, 0xFFFF);
    for (const auto& section : tarsa::sim::test::ReadTiTxtText(ReadAll(TARSA_FIRMWARE_FILE))) {
        for (size_t i = 0; i < section.bytes.size(); ++i) {
            if (section.address + i < flash.size()) flash[section.address + i] = section.bytes[i];
        }
    }
    return flash;
}

// "W" frames of a whole upload: 256 bytes each, per section.
int BlocksOfImage() {
    int blocks = 0;
    for (const auto& section : tarsa::sim::test::ReadTiTxtText(ReadAll(TARSA_FIRMWARE_FILE))) {
        if (section.address >= 0xFFE0) continue;  // the vectors go with "V"
        size_t bytes = section.bytes.size();
        if (section.address + bytes > 0xFFE0) bytes = 0xFFE0 - section.address;
        blocks += static_cast<int>((bytes + 255) / 256);
    }
    return blocks;
}

// Where two flash images first differ ("" when they are the same).
std::string FlashDifference(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want) {
    if (got.size() != want.size()) return "flash size differs";
    for (size_t a = 0; a < got.size(); ++a) {
        if (got[a] != want[a]) {
            char text[80];
            snprintf(text, sizeof text, "flash differs from 0x%04zX (0x%02X, not 0x%02X)", a,
                     got[a], want[a]);
            return text;
        }
    }
    return {};
}

// Settings that differ between `got` and `want`, as "word: got (want)".
std::string SettingsDifference(const std::map<std::string, std::string>& got,
                               const std::map<std::string, std::string>& want) {
    std::string out;
    for (const auto& [word, value] : want) {
        const auto it = got.find(word);
        const std::string have = it == got.end() ? "(missing)" : it->second;
        if (have != value)
            out += (out.empty() ? "" : "; ") + word + ": " + have + " (" + value + ")";
    }
    return out;
}

// The value of `key` in a settings file's text, or nullopt.
std::optional<std::string> FileValue(const std::string& text, const std::string& key) {
    const std::string start = key + "=\"";
    size_t at = text.rfind("\n" + start) != std::string::npos ? text.rfind("\n" + start) + 1
                : text.rfind(start, 0) == 0                   ? 0
                                                              : std::string::npos;
    if (at == std::string::npos) return std::nullopt;
    at += start.size();
    const size_t end = text.find('"', at);
    if (end == std::string::npos) return std::nullopt;
    return text.substr(at, end - at);
}

// True when the settings file text holds the field settings.
bool HoldsFieldSettings(const std::string& text) {
    // ADC factors are written as the slopes (even positions) and the offsets.
    for (const char* word : {"adc15", "adc30"}) {
        std::istringstream in(kFieldSettings.at(word));
        std::string slopes, offsets, value;
        for (int i = 0; in >> value; ++i) {
            std::string& to = i % 2 ? offsets : slopes;
            to += (to.empty() ? "" : " ") + value;
        }
        const std::string key = word == std::string("adc15") ? "ADC15" : "ADC30";
        if (FileValue(text, key + " slopes") != slopes) return false;
        if (FileValue(text, key + " offsets") != offsets) return false;
    }
    for (const auto& [word, key] : kFileKeys) {
        const auto value = FileValue(text, key);
        if (!value) return false;
        const std::string& want = kFieldSettings.at(word);
        if (word == "lat" || word == "long") {
            if (std::abs(std::stod(*value) - std::stod(want)) > 1e-5) return false;
        } else if (*value != want) {
            return false;
        }
    }
    return true;
}

// ---- the rows ------------------------------------------------------------

struct Point {
    const char* name;
    const char* prefix;  // the command the cut falls on starts with this
    int nth;             // the n-th such command of the run; 0: the image's last block
    bool afterExecute;   // the device executes it, the answer is lost
    bool captureDone;    // the settings are in the settings file at the cut
    bool firmwareNew;    // the new firmware runs when the device comes back
    // The first line of the one message the cut run shows; the port
    // vanishing may show another than a power loss.
    const char* message;
    const char* vanishMessage = nullptr;  // null: the same
};

constexpr const char* kNoAnswer = "The Talox Firmware Updater is unable to connect to your Talox";
constexpr const char* kNoCapture =
    "This Talox Firmware Updater could not retrieve the settings from your Talox.";
constexpr const char* kNoLoader = "This Talox does not have a working firmware loader.";
constexpr const char* kLoaderLost =
    "The Talox Firmware Updater is unable to connect to the firmware loader in your Talox.";
constexpr const char* kLoaderError =
    "The Talox Firmware Updater encountered an error working with your Talox.";
constexpr const char* kNoCheck =
    "The Talox Firmware Updater was unable to verify the new firmware in your Talox.";
constexpr const char* kNoRestore =
    "The Talox Firmware Updater failed to restore the settings for your Talox.";
constexpr const char* kNoClock =
    "The Talox Firmware Updater failed to set the clock in your Talox.";
constexpr const char* kNoErase =
    "The Talox Firmware Updater was unable to erase the data in your Talox.";

// The clock commands are "set -t H:M:S" and "set -d Y-M-D"; the blank keeps
// the restore's "set -tz", "set -depth" and "set -devid" from counting.
constexpr Point kPoints[] = {
    {"connect (version)", "get -ver", 1, false, false, false, kNoAnswer},
    {"capture first (name)", "get -i", 1, false, false, false, kNoCapture},
    {"capture middle (site)", "get -site", 1, false, false, false, kNoCapture},
    {"capture last (adc15)", "get -adc15", 1, false, false, false, kNoCapture},
    {"loader start (boot)", "boot", 1, false, true, false, kNoLoader, kLoaderLost},
    {"loader started (boot answer)", "boot", 1, true, true, false, kNoLoader, kLoaderLost},
    {"loader greeting (P)", "P", 1, false, true, false, kNoLoader, kLoaderLost},
    {"loader version (g)", "g.", 1, false, true, false, kNoLoader, kLoaderLost},
    {"erase information memory", "X1000", 1, false, true, false, kLoaderError},
    {"erase first main segment", "X1100", 1, false, true, false, kLoaderError},
    {"erase middle segment", "X", 60, false, true, false, kLoaderError},
    {"erase last segment", "XF900", 1, false, true, false, kLoaderError},
    {"first block", "W", 1, false, true, false, kLoaderError},
    {"middle block", "W", -1, false, true, false, kLoaderError},
    {"last block", "W", 0, false, true, false, kLoaderError},
    {"vectors", "V", 1, false, true, false, kLoaderError},
    {"restart (after vectors)", "V", 1, true, true, true, kLoaderError},
    {"reconnect (version)", "get -ver", 2, false, true, true, kLoaderError},
    {"firmware check (post)", "post", 1, false, true, true, kNoCheck},
    {"restore name", "set -i", 1, false, true, true, kNoRestore},
    {"restore site (text)", "set -site", 1, false, true, true, kNoRestore},
    {"restore depths (list)", "set -depth", 1, false, true, true, kNoRestore},
    {"restore wake (number)", "set -w", 1, false, true, true, kNoRestore},
    {"restore ADC factors", "set -adc30", 1, false, true, true, kNoRestore},
    {"clock time", "set -t ", 1, false, true, true, kNoClock},
    {"clock date", "set -d ", 1, false, true, true, kNoClock},
    {"data erase", "yes", 1, false, true, true, kNoErase},
};

struct Row {
    const Point* point = nullptr;  // null: a disturbance row without a cut
    Cut::Kind kind = Cut::Kind::PowerLoss;
    const char* disturbance = nullptr;
};

std::vector<Row> Rows() {
    std::vector<Row> rows;
    for (const Point& p : kPoints) {
        rows.push_back({&p, Cut::Kind::PowerLoss, nullptr});
        rows.push_back({&p, Cut::Kind::Vanish, nullptr});
    }
    rows.push_back({nullptr, Cut::Kind::PowerLoss, "every 13th frame garbled once"});
    rows.push_back({nullptr, Cut::Kind::PowerLoss, "every 7th block refused once"});
    return rows;
}

std::string RowName(const Row& row) {
    std::string name = row.point ? row.point->name : row.disturbance;
    if (row.point) name += row.kind == Cut::Kind::PowerLoss ? " power" : " vanish";
    std::string out;
    for (char c : name) out += isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return out;
}

// Writes the row's line of the table.
void Report(size_t index, const Row& row, const std::string& message, bool recovered,
            const std::string& detail) {
    fs::create_directories(TARSA_FAULT_RESULTS);
    char file[32];
    snprintf(file, sizeof file, "%03zu.row", index);
    std::string kind = !row.point                         ? "-"
                       : row.kind == Cut::Kind::PowerLoss ? "power loss"
                                                          : "port vanishes";
    std::string first = message.empty() ? "-" : message;
    for (char& c : first) {
        if (c == '|') c = '/';
    }
    std::ofstream(fs::path(TARSA_FAULT_RESULTS) / file)
        << "| " << (row.point ? row.point->name : row.disturbance) << " | " << kind << " | "
        << first << " | " << (recovered ? "yes" : "no")
        << (detail.empty() ? "" : " (" + detail + ")") << " |\n";
}

class FaultMatrix : public ::testing::TestWithParam<size_t> {
  protected:
    void SetUp() override {
        home_ = fs::temp_directory_path() /
                ("tarsa_fault_" + std::to_string(getpid()) + "_" + std::to_string(GetParam()));
        fs::remove_all(home_);
        fs::create_directories(home_ / "data");
        tarsa::sim::DeviceConfig config;
        config.version = "2.10";
        config.settings = kFieldSettings;
        sim_ = Simulator::Start("talox", config);
        ASSERT_TRUE(sim_) << "the simulator refused the field settings";
        before_ = Kept(sim_->Settings());
        expectedFlash_ = ExpectedFlash(sim_->Flash());
    }
    void TearDown() override {
        sim_.reset();
        if (!getenv("KEEP_TMP")) fs::remove_all(home_);
    }

    ProgramRun Update() {
        return RunProgram({"--port", sim_->PortPath(), "--yes", "--data-dir", Data().string()},
                          home_);
    }
    ProgramRun Restore(const fs::path& file) {
        return RunProgram({"--restore-settings", file.string(), "--port", sim_->PortPath(), "--yes",
                           "--data-dir", Data().string()},
                          home_);
    }
    fs::path Data() const { return home_ / "data"; }
    // The settings files in the data folder and its history, with their texts.
    std::string Listing() const {
        std::string out;
        for (const auto& entry : fs::recursive_directory_iterator(Data())) {
            if (entry.path().string().find(".settings.") == std::string::npos) continue;
            out += entry.path().string() + ":\n" + ReadAll(entry.path()) + "\n";
        }
        return out.empty() ? "(no settings file)\n" : out;
    }
    fs::path SettingsFile() const { return Data() / "Talox.settings.txt"; }

    // The settings file, or else the newest history copy, that holds the
    // field settings (empty when none does).
    fs::path KeptSettings() const {
        if (fs::exists(SettingsFile()) && HoldsFieldSettings(ReadAll(SettingsFile()))) {
            return SettingsFile();
        }
        fs::path best;
        if (fs::is_directory(Data() / "history")) {
            for (const auto& entry : fs::directory_iterator(Data() / "history")) {
                if (HoldsFieldSettings(ReadAll(entry.path()))) best = entry.path();
            }
        }
        return best;
    }

    // The device comes back after a cut: its power returns, or it is
    // plugged in again on a new pty.
    void ComeBack(Cut::Kind kind) {
        if (kind == Cut::Kind::Vanish) {
            ASSERT_TRUE(sim_->Reconnect());
        } else {
            sim_->PowerOn();
        }
    }

    fs::path home_;
    std::unique_ptr<Simulator> sim_;
    std::map<std::string, std::string> before_;
    std::vector<uint8_t> expectedFlash_;
};

TEST_P(FaultMatrix, RecoversEverything) {
    const std::vector<Row> rows = Rows();
    const Row& row = rows[GetParam()];
    std::string message;
    std::string detail;

    if (!row.point) {
        // Disturbed but not cut: the one run must succeed with the exact image.
        if (std::string(row.disturbance).find("13th") != std::string::npos) {
            sim_->SetGarbleEveryFrame(13);
        } else {
            sim_->SetRefuseEveryBlock(7);
        }
        ProgramRun run = Update();
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_TRUE(Succeeded(run)) << run.out;
        message = run.status == 0 ? "(succeeded)" : ErrorLine(run.out);
    } else {
        const Point& p = *row.point;
        Cut cut;
        cut.kind = row.kind;
        cut.prefix = p.prefix;
        cut.afterExecute = p.afterExecute;
        const int blocks = BlocksOfImage();
        cut.nth = p.nth == 0 ? blocks : p.nth < 0 ? (blocks + 1) / 2 : p.nth;
        sim_->SetCut(cut);

        // The cut run fails, says why, and claims no success.
        ProgramRun first = Update();
        message = ErrorLine(first.out);
        EXPECT_TRUE(sim_->CutDone()) << "the cut never came:\n" << first.out;
        EXPECT_NE(first.status, 0) << first.out;
        EXPECT_FALSE(Succeeded(first)) << first.out;
        // One message, the step's own ("[+n more]" when others followed).
        const char* expected =
            row.kind == Cut::Kind::Vanish && p.vanishMessage ? p.vanishMessage : p.message;
        EXPECT_EQ(message, expected) << first.out;

        // The settings are kept: on the device when the capture was not
        // finished, else in the settings file or its history copy.
        if (!p.captureDone) {
            EXPECT_EQ(SettingsDifference(Kept(sim_->Settings()), before_), "");
        } else {
            EXPECT_FALSE(KeptSettings().empty()) << "no settings file holds the settings:\n"
                                                 << Listing() << first.out;
        }

        ASSERT_NO_FATAL_FAILURE(ComeBack(row.kind));
        ProgramRun second = Update();
        if (!p.firmwareNew) {
            EXPECT_EQ(second.status, 0) << second.out;
            EXPECT_TRUE(Succeeded(second)) << second.out;
            if (second.status != 0) detail = "next run: " + ErrorLine(second.out);
        } else {
            // The new firmware already runs: the kept settings go back with
            // --restore-settings, with the file the program names for it.
            fs::path kept = AdvisedRestoreFile(second.out);
            if (kept.empty()) kept = KeptSettings();
            EXPECT_FALSE(kept.empty()) << "no settings file holds the settings:\n" << second.out;
            if (!kept.empty()) {
                ProgramRun restore = Restore(kept);
                EXPECT_EQ(restore.status, 0) << restore.out;
                if (restore.status != 0) detail = "restore: " + ErrorLine(restore.out);
            } else {
                detail = "no kept settings file";
            }
        }
    }

    const std::string flash = FlashDifference(sim_->Flash(), expectedFlash_);
    const std::string settings = SettingsDifference(Kept(sim_->Settings()), before_);
    EXPECT_EQ(flash, "");
    EXPECT_EQ(settings, "");
    if (!flash.empty()) detail += (detail.empty() ? "" : "; ") + flash;
    if (!settings.empty()) detail += (detail.empty() ? "" : "; ") + settings;
    Report(GetParam(), row, message, !HasFailure(), detail);
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrix, ::testing::Range<size_t>(0, Rows().size()),
                         [](const auto& param) {
                             char index[8];
                             snprintf(index, sizeof index, "%02zu_", param.param);
                             return std::string(index) + RowName(Rows()[param.param]);
                         });

}  // namespace
