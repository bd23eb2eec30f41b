// The tarsa-update program as a script would run it: exit codes, output
// formats, the image dump and the web commands against a local server.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/simulator.h"
#include "support/pty_pair.h"
#include "web/web_test_support.h"

namespace {

namespace fs = std::filesystem;
namespace sim = tarsa::sim;

// What the program prints follows the variant it was built as: the
// instrument updater for the Talox, or the digital-sensor updater whose
// target at start-up is the Skyra 61.
struct Variant {
    const char* caption;          // window caption, also the log file's name
    const char* firstImageLine;   // first line of the built-in image's dump
    const char* versionDocument;  // what the version check asks for
    const char* sameVersion;      // the built-in image's version, as the service writes it
    const char* newerVersion;
};
constexpr Variant kVariant = TARSA_DIGITAL_SENSOR_BUILD
                                 ? Variant{"Skyra 61 Sensor Suite Firmware Updater", "@08100",
                                           "/versionfinder/Handra-C-Firmware.txt", "3.60", "3.62"}
                                 : Variant{"Talox Firmware Updater", "@01200",
                                           "/versionfinder/Talox-Firmware.html", "2.29", "2.31"};

struct ProgramRun {
    int status = -1;
    std::string out;  // standard output and standard error together
};

// Runs tarsa-update with `args` and the environment additions `env`
// ("NAME=value"), standard input closed.
ProgramRun RunProgram(const std::vector<std::string>& args,
                      const std::vector<std::string>& env = {}) {
    std::string command;
    for (const std::string& e : env) command += e + " ";
    command += "'" TARSA_UPDATE_PATH "'";
    for (const std::string& a : args) {
        std::string quoted;
        for (char c : a) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        command += " '" + quoted + "'";
    }
    command += " </dev/null 2>&1";
    ProgramRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    std::array<char, 4096> buf{};
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) run.out.append(buf.data(), n);
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class TarsaUpdateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tarsa_cli_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        env_ = {"XDG_CONFIG_HOME='" + (dir_ / "config").string() + "'",
                "XDG_DATA_HOME='" + (dir_ / "data").string() + "'"};
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_;
    std::vector<std::string> env_;
};

TEST_F(TarsaUpdateTest, UsageErrorsExitTwo) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--bogus"},
        {"--port"},
        {"--port", "ttyUSB0", "--firmware", "x.txt"},
        {"--port", "ttyUSB0", "--new-serial", "123"},
        {"--port", "ttyUSB0", "--factory", "--new-serial", "1234567890123456"},
        {"--list-ports", "--simulate"},
        {"--send-feedback", "--email", "a@b.example"},
        {"--send-feedback", "--name", "A", "--kind", "rant"},
        {"--restore-settings", "s.txt"},
        {"--backup-settings", "s.txt", "--list-ports"},
        {"--port", "ttyUSB0", "--check-version"},
    };
    for (const auto& args : bad) {
        ProgramRun run = RunProgram(args, env_);
        EXPECT_EQ(run.status, 2) << (args.empty() ? "(no arguments)" : args[0]) << "\n" << run.out;
        EXPECT_NE(run.out.find("Usage:"), std::string::npos);
    }
    ProgramRun firmware = RunProgram({"--port", "ttyUSB0", "--firmware", "x.txt"}, env_);
    EXPECT_NE(firmware.out.find("--firmware needs --rep or --factory"), std::string::npos);
}

TEST_F(TarsaUpdateTest, HelpAndVersionExitZero) {
    ProgramRun help = RunProgram({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--list-ports"), std::string::npos);
    ProgramRun version = RunProgram({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("tarsa-update ", 0), 0u);
}

TEST_F(TarsaUpdateTest, ListPortsPrintsNameTabDescription) {
    ProgramRun run = RunProgram({"--list-ports"}, env_);
    EXPECT_EQ(run.status, 0) << run.out;
    std::istringstream lines(run.out);
    std::string line;
    while (std::getline(lines, line)) {
        size_t tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        EXPECT_GT(tab, 0u);
        EXPECT_EQ(line.find('/'), std::string::npos) << "names are bare device names: " << line;
    }
}

TEST_F(TarsaUpdateTest, DumpImageWritesTheBuiltInOrTheGivenImage) {
    fs::path out = dir_ / "dump.txt";
    ProgramRun run = RunProgram({"--dump-image", out.string()}, env_);
    ASSERT_EQ(run.status, 0) << run.out;
    std::ifstream in(out);
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, kVariant.firstImageLine);

    fs::path fw = dir_ / "Talox 2-40.txt";
    std::ofstream(fw) << "@1200\n11 22 33 44\n@FFFE\n00 12\nq\n";
    run = RunProgram({"--dump-image", out.string(), "--rep", "--firmware", fw.string()}, env_);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("(Talox 2.40)"), std::string::npos);
    std::ifstream again(out);
    std::string text((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "@01200\n22114433\n@FFE0\n" + std::string(32, 'F') + "\n" +
                        std::string(28, 'F') + "1200\n");
}

TEST_F(TarsaUpdateTest, UnloadableFirmwareIsAFileErrorBeforeAnyPortIsOpened) {
    fs::path fw = dir_ / "Talox 2-40.txt";
    std::ofstream(fw) << "not a firmware file\n";
    ProgramRun run =
        RunProgram({"--port", "/dev/tarsa-no-such-port", "--rep", "--firmware", fw.string()}, env_);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("File Error"), std::string::npos);
    EXPECT_NE(run.out.find("is not a valid firmware file."), std::string::npos);
    EXPECT_EQ(run.out.find("tarsa-no-such-port"), std::string::npos) << "the port was not used";
}

TEST_F(TarsaUpdateTest, SimulateUpdatesTheVariantsSimulatedDevice) {
    ProgramRun run = RunProgram({"--simulate", "--data-dir", (dir_ / "sim").string()}, env_);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find(TARSA_DIGITAL_SENSOR_BUILD ? "Simulated Handra 1.30 with a Skyra 61"
                                                      : "Simulated Talox 2.10"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("Successfully updated firmware in "), std::string::npos) << run.out;
    EXPECT_TRUE(fs::exists(dir_ / "sim" / (std::string(kVariant.caption) + ".errors.txt")));
}

TEST_F(TarsaUpdateTest, SettingsAreBackedUpAndWrittenBackWithoutAnUpdate) {
    if (TARSA_DIGITAL_SENSOR_BUILD) GTEST_SKIP() << "the instrument updater's commands";
    sim::DeviceConfig config;
    config.settings = {{"i", "LAKE4"}, {"sn", "TX777"}, {"site", "North field"}};
    auto original = sim::Simulator::Start("talox", config);
    ASSERT_NE(original, nullptr);
    const std::string file = (dir_ / "lake4.txt").string();
    const std::string data = (dir_ / "d").string();
    ProgramRun run = RunProgram(
        {"--backup-settings", file, "--port", original->PortPath(), "--data-dir", data}, env_);
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("Saved the settings of your Talox to " + file + "."), std::string::npos)
        << run.out;

    auto reset = sim::Simulator::Start("talox");  // factory settings
    ASSERT_NE(reset, nullptr);
    run = RunProgram({"--restore-settings", file, "--port", reset->PortPath(), "--data-dir", data},
                     env_);
    EXPECT_EQ(run.status, 0) << run.out;
    for (const char* word : {"i", "sn", "site"})
        EXPECT_EQ(reset->Settings()[word], config.settings[word]) << word;
    EXPECT_EQ(reset->BlocksWritten(), 0);

    auto talob = sim::Simulator::Start("talob");
    ASSERT_NE(talob, nullptr);
    run = RunProgram({"--restore-settings", file, "--port", talob->PortPath(), "--data-dir", data,
                      "--factory", "--yes"},
                     env_);
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("Wrong Settings File"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("was saved from a Talox, not from a Talob."), std::string::npos);
}

TEST_F(TarsaUpdateTest, PortTheUserMayNotOpenNamesTheDialoutFix) {
    if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0) {
        GTEST_SKIP() << "needs root and setpriv to run as an unprivileged user";
    }
    tarsa::test::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    ASSERT_EQ(chmod(pty.SlavePath().c_str(), 0600), 0);
    fs::path data = dir_ / "nobody";
    fs::create_directories(data);
    fs::permissions(dir_, fs::perms::all);
    fs::permissions(data, fs::perms::all);
    auto env = env_;
    env.push_back("setpriv --reuid=65534 --regid=65534 --clear-groups env HOME='" + data.string() +
                  "'");
    ProgramRun run = RunProgram({"--port", pty.SlavePath(), "--data-dir", data.string()}, env);
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("permission denied on " + pty.SlavePath()), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("'dialout' group"), std::string::npos);
}

TEST_F(TarsaUpdateTest, CheckVersionReportsWhatTheServiceSays) {
    tarsa::webtest::TestServer service;
    std::string document =
        std::string(kVariant.sameVersion) + " https://www.corvane.example/talox.html";
    service.server.Get(kVariant.versionDocument,
                       [&](const httplib::Request&, httplib::Response& res) {
                           res.set_content(document, "text/html");
                       });
    service.Start();
    auto env = env_;
    env.push_back("TARSA_VERSION_SERVICE=" + service.Base());
    ProgramRun run = RunProgram({"--check-version"}, env);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(
        run.out.find(std::string("You are using the latest version of ") + kVariant.caption + "."),
        std::string::npos)
        << run.out;

    document = std::string(kVariant.newerVersion) + " https://www.corvane.example/talox.html";
    run = RunProgram({"--check-version"}, env);
    EXPECT_NE(
        run.out.find(std::string("There is information about a newer version of ") +
                     kVariant.caption + "\navailable at https://www.corvane.example/talox.html"),
        std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("No (no terminal to ask"), std::string::npos);

    env.back() = "TARSA_VERSION_SERVICE=http://127.0.0.1:1";
    run = RunProgram({"--check-version"}, env);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("Version Check Error"), std::string::npos);
}

TEST_F(TarsaUpdateTest, FeedbackIsPostedWithTheLogAttached) {
    tarsa::webtest::TestServer service;
    std::string name, message, attachmentName;
    service.server.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("ok", "text/plain");
    });
    service.server.Post("/php-bin/app_feedback.php",
                        [&](const httplib::Request& req, httplib::Response& res) {
                            for (const auto& [key, file] : req.files) {
                                if (file.filename.empty()) {
                                    if (key == "Name") name = file.content;
                                    if (key == "Feedback") message = file.content;
                                } else if (attachmentName.empty()) {
                                    attachmentName = file.filename;
                                }
                            }
                            res.set_content("Script Completed", "text/html");
                        });
    service.Start();
    // A log to attach: any earlier run leaves one.
    RunProgram({"--dump-image", (dir_ / "d.txt").string()}, env_);
    fs::path log =
        dir_ / "data" / "Corvane" / "TarsaBSL" / (std::string(kVariant.caption) + ".errors.txt");
    std::ofstream(log, std::ios::app) << "1 Jan 2026 0:00:00 - test: line\r\n";

    auto env = env_;
    env.push_back("TARSA_FEEDBACK_SERVICE=" + service.Base());
    ProgramRun run = RunProgram({"--send-feedback", "--name", "Ada Tester", "--email",
                                 "ada@x.example", "--message", "The update went fine."},
                                env);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("Feedback sent."), std::string::npos);
    EXPECT_EQ(name, "Ada Tester");
    EXPECT_EQ(message, "The update went fine.");
    EXPECT_EQ(attachmentName, std::string(kVariant.caption) + ".errors.txt");
}

}  // namespace
