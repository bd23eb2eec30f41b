// The tarsa-update program as a script would run it: exit codes, output
// formats, the image dump and the web commands against a local server.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/program_run.h"
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

using tarsa::clitest::ProgramRun;
using tarsa::clitest::RunProgram;

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

// Each usage error exits 2, says first what is wrong, naming the option, and
// then shows the usage.
TEST_F(TarsaUpdateTest, UsageErrorsExitTwo) {
    const struct {
        std::vector<std::string> args;
        const char* reason;
    } bad[] = {
        {{}, "say what to do (--port, --list-ports, ...)"},
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"--simulate", "stray"}, "unknown option 'stray'"},
        {{"--port"}, "--port needs a value"},
        {{"--port", ""}, "--port needs a value"},
        {{"--data-dir", "--simulate"}, "--data-dir needs a value"},
        {{"--port", "ttyUSB0", "--firmware", "x.txt"}, "--firmware needs --rep or --factory"},
        {{"--port", "ttyUSB0", "--new-serial", "123"}, "--new-serial needs --factory"},
        {{"--port", "ttyUSB0", "--factory", "--new-serial", "1234567890123456"},
         "--new-serial takes at most 15 characters"},
        {{"--list-ports", "--simulate"}, "--list-ports and --simulate cannot be combined"},
        {{"--send-feedback", "--email", "a@b.example"}, "--send-feedback needs --name"},
        {{"--send-feedback", "--name"}, "--name"},
        {{"--send-feedback", "--name", "A", "--kind", "rant"},
         "--kind is general, feature, bug or other"},
        {{"--restore-settings", "s.txt"}, "--restore-settings needs --port"},
        {{"--backup-settings", "s.txt", "--list-ports"},
         "--backup-settings and --list-ports cannot be combined"},
        {{"--port", "ttyUSB0", "--check-version"}, "--port and --check-version cannot be combined"},
        {{"--simulate", "--simulate-baud", "300"},
         "--simulate-baud takes 9600, the line speed of the update"},
        {{"--yes=maybe", "--simulate"}, "--yes"},
        {{"--port", "a", "b"}, "unknown option 'b'"},
        {{"--port", "a", "--port"}, "--port needs a value"},
        {{"--all-ports", "--port", "a"}, "--all-ports and --port cannot be combined"},
        {{"--simulate", "65"}, "--simulate takes 1 to 64 devices"},
        {{"--json", "--list-ports"}, "--json works with --port, --all-ports and --simulate"},
    };
    for (const auto& [args, reason] : bad) {
        ProgramRun run = RunProgram(args, env_);
        const std::string line = args.empty() ? "(no arguments)" : args[0];
        EXPECT_EQ(run.status, 2) << line << "\n" << run.out;
        EXPECT_EQ(run.out.rfind(std::string("tarsa-update: "), 0), 0u) << run.out;
        EXPECT_NE(run.out.substr(0, run.out.find('\n')).find(reason), std::string::npos)
            << line << "\n"
            << run.out;
        EXPECT_NE(run.out.find("Usage:"), std::string::npos);
    }
}

// The text after an option's name and value word on its own line of the
// help; empty when the help has no such line.
std::string HelpFor(const std::string& help, const std::string& option) {
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        size_t at = line.find_first_not_of(' ');
        if (at == std::string::npos || line[at] != '-') continue;
        if (line.compare(at, 3, "-h,") == 0) at += 3;
        if (line.compare(at, option.size(), option) != 0) continue;
        const size_t end = at + option.size();
        if (end < line.size() && line[end] != ' ') continue;  // --email, not --email-to
        const size_t gap = line.find("  ", end);
        if (gap == std::string::npos) return {};
        const size_t text = line.find_first_not_of(' ', gap);
        return text == std::string::npos ? std::string() : line.substr(text);
    }
    return {};
}

TEST_F(TarsaUpdateTest, HelpAndVersionExitZero) {
    ProgramRun help = RunProgram({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage:\n", 0), 0u) << help.out;
    // Every option the program takes is listed, each with what it does.
    for (const char* option : {"--list-ports",
                               "--port",
                               "--all-ports",
                               "--json",
                               "--check-only",
                               "--yes",
                               "--data-dir",
                               "--rep",
                               "--factory",
                               "--firmware",
                               "--keep-data",
                               "--new-serial",
                               "--verbose",
                               "--restore-settings",
                               "--backup-settings",
                               "--dump-image",
                               "--simulate",
                               "--simulate-baud",
                               "--check-version",
                               "--send-feedback",
                               "--name",
                               "--email",
                               "--company",
                               "--phone",
                               "--email-to",
                               "--kind",
                               "--message",
                               "--attach",
                               "--help",
                               "--version"}) {
        EXPECT_GT(HelpFor(help.out, option).size(), 8u) << option << "\n" << help.out;
    }
    // --help and --version win wherever they stand.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--bogus", "--help"}, {"--send-feedback", "--name", "-h"}}) {
        EXPECT_EQ(RunProgram(args).out, help.out) << args[0];
    }
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--version"}, {"--port", "--version"}}) {
        ProgramRun version = RunProgram(args);
        EXPECT_EQ(version.status, 0);
        EXPECT_EQ(version.out, std::string("tarsa-update ") + TARSA_TEST_VERSION + "\n");
    }
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
    // The unprivileged user runs a copy in the test's own folder: the build
    // folder may lie where that user cannot enter (a clone under /root).
    const fs::path program = dir_ / "tarsa-update";
    fs::copy_file(TARSA_UPDATE_PATH, program);
    fs::permissions(program, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
    const std::string asNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups";
    if (system((asNobody + " test -x '" + program.string() + "'").c_str()) != 0) {
        GTEST_SKIP() << "the unprivileged user cannot reach " << program
                     << " (a temporary folder inside a private one?)";
    }
    auto env = env_;
    env.push_back(asNobody + " env HOME='" + data.string() + "'");
    ProgramRun run =
        RunProgram({"--port", pty.SlavePath(), "--data-dir", data.string()}, env, program.string());
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

// The feedback form's own checks judge the fields given on the command line,
// before the service is contacted (here it cannot be reached): each refusal
// is the form's warning and exits 1, as a failed send does.
TEST_F(TarsaUpdateTest, FeedbackFieldsAreJudgedByTheFormBeforeTheService) {
    const struct {
        std::vector<std::string> fields;
        const char* told;
    } forms[] = {
        {{"--name", ""}, "Missing Information\nPlease enter your name in the name field\n"},
        {{"--name", "Ada"},
         "Missing Information\nPlease enter your phone number or email address so Corvane "
         "can respond to your feedback.\n"},
        {{"--name", "Ada", "--phone", "555", "--email-to", "rep.example"},
         "Bad Email Address\nThe email address you entered for your Corvane\n"
         "Representative isn't complete."},
        {{"--name", "Ada", "--email", "ada @x.example"},
         "Please remove any space characters in the email address."},
        {{"--name", "Ada", "--email", "ada@x.example", "--attach", (dir_ / "none.txt").string()},
         "Error Reading File\nError sending the file \"none.txt\". "},
        // Sound fields reach the service.
        {{"--name", "Ada", "--email", "ada@x.example"}, "Internet Access Error"},
    };
    auto env = env_;
    env.push_back("TARSA_FEEDBACK_SERVICE=http://127.0.0.1:1");
    for (const auto& [fields, told] : forms) {
        std::vector<std::string> args = {"--send-feedback"};
        args.insert(args.end(), fields.begin(), fields.end());
        ProgramRun run = RunProgram(args, env);
        EXPECT_EQ(run.status, 1) << told << "\n" << run.out;
        EXPECT_NE(run.out.find(told), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("Usage:"), std::string::npos) << run.out;
        if (std::string(told) != "Internet Access Error") {
            EXPECT_EQ(run.out.find("Internet Access Error"), std::string::npos) << run.out;
        }
    }
}

}  // namespace
