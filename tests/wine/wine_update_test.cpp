// tarsa-update.exe and the Windows serial port under wine, against the
// simulator on a pseudo-terminal that the test maps as a wine COM port: a
// whole update with the flash and every setting checked, an update cut by a
// power loss and finished by the next run, the Windows serial port test, the
// HTTP client's cases on WinHTTP, and the feedback contact details read back
// from wine's registry.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/program_run.h"
#include "sim/port_client.h"
#include "sim/simulator.h"
#include "web/http_test_routes.h"
#include "web/web_test_support.h"

namespace {

namespace fs = std::filesystem;
using tarsa::clitest::ProgramRun;
using tarsa::clitest::RunProgram;
using tarsa::sim::Simulator;

std::string Prefix() {
    const char* set = std::getenv("WINEPREFIX");
    return set && set[0] ? set : std::string(TARSA_WINDOWS_BUILD) + "/wineprefix";
}

// Settings that differ from the factory's, so that a lost restore shows.
const std::map<std::string, std::string> kFieldSettings = {
    {"i", "FIELD7"},
    {"sn", "TX20417"},
    {"site", "Lake Mere north"},
    {"depth", "1 2 3 4 5"},
    {"lat", "+45.12345"},
    {"w", "600"},
    {"ports", "1 0 2 0 3"},
    {"data", "12345"},
    {"adc30", "120 121 122 123 124 125 126 127 128 129"},
};

std::map<std::string, std::string> Kept(std::map<std::string, std::string> settings) {
    for (const char* word : {"clock", "records", "resets", "baud", "login"}) settings.erase(word);
    return settings;
}

// The factory flash with the information memory, the main flash and the
// vector segment erased, then the image: what a clean update leaves.
std::vector<uint8_t> ExpectedFlash(std::vector<uint8_t> flash) {
    for (size_t a = 0x1000; a <= 0xFFFF && a < flash.size(); ++a) {
        if (a <= 0xF9FF || a >= 0xFE00) flash[a] = 0xFF;
    }
    std::ifstream in(TARSA_FIRMWARE_FILE, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    for (const auto& section : tarsa::sim::test::ReadTiTxtText(text.str())) {
        for (size_t i = 0; i < section.bytes.size(); ++i) {
            if (section.address + i < flash.size()) flash[section.address + i] = section.bytes[i];
        }
    }
    return flash;
}

// A simulated Talox 2.10 with field settings on wine's COM<number>.
class WineUpdateTest : public ::testing::Test {
  protected:
    void Map(int number) {
        tarsa::sim::DeviceConfig config;
        config.version = "2.10";
        config.settings = kFieldSettings;
        sim_ = Simulator::Start("talox", config);
        ASSERT_TRUE(sim_);
        port_ = "COM" + std::to_string(number);
        link_ = fs::path(Prefix()) / "dosdevices" / ("com" + std::to_string(number));
        fs::remove(link_);
        fs::create_symlink(sim_->PortPath(), link_);
        before_ = Kept(sim_->Settings());
        expectedFlash_ = ExpectedFlash(sim_->Flash());
    }
    void TearDown() override {
        if (!link_.empty()) fs::remove(link_);
    }
    // `dataDir`: a folder of this test's own (tests run side by side in one
    // wine prefix); empty: the user's application-data folder.
    ProgramRun Update(const fs::path& dataDir = {}) {
        if (dataDir.empty()) return RunProgram({"--port", port_, "--yes"});
        return RunProgram({"--port", port_, "--yes", "--data-dir", "Z:" + dataDir.string()});
    }
    void ExpectUpdated() {
        EXPECT_TRUE(sim_->Flash() == expectedFlash_) << "the flash is not the image";
        EXPECT_EQ(Kept(sim_->Settings()), before_) << "settings were not restored";
    }

    std::unique_ptr<Simulator> sim_;
    std::string port_;
    fs::path link_;
    std::map<std::string, std::string> before_;
    std::vector<uint8_t> expectedFlash_;
};

TEST_F(WineUpdateTest, WholeUpdateOnAComPort) {
    Map(5);
    const ProgramRun run = Update();
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("Successfully updated firmware in "), std::string::npos) << run.out;
    ExpectUpdated();
    // The log is in the user's application-data folder.
    bool logFound = false;
    for (const auto& user : fs::directory_iterator(fs::path(Prefix()) / "drive_c" / "users")) {
        logFound |= fs::exists(user.path() / "AppData" / "Roaming" / "Corvane" / "TarsaBSL" /
                               "Talox Firmware Updater.errors.txt");
    }
    EXPECT_TRUE(logFound);
}

TEST_F(WineUpdateTest, PowerLossDuringTheUploadIsFinishedByTheNextRun) {
    Map(7);
    const fs::path data = fs::temp_directory_path() / ("tarsa_wine_" + std::to_string(getpid()));
    fs::create_directories(data);
    sim_->SetPowerLossAfterBlocks(40);
    const ProgramRun cut = Update(data);
    EXPECT_NE(cut.status, 0) << cut.out;
    EXPECT_EQ(cut.out.find("Successfully updated"), std::string::npos) << cut.out;
    sim_->PowerOn();
    const ProgramRun again = Update(data);
    EXPECT_EQ(again.status, 0) << again.out;
    ExpectUpdated();
    fs::remove_all(data);
}

TEST_F(WineUpdateTest, SerialPortOnAComPort) {
    Map(6);
    const ProgramRun run = RunProgram(
        {std::string(TARSA_WINDOWS_BUILD) + "/tests/windows/win_serial_port_test.exe"},
        {"WINEPREFIX='" + Prefix() + "'", "TARSA_TEST_COMPORT=" + port_}, TARSA_WINE_RUN);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("[  PASSED  ] 6 tests."), std::string::npos) << run.out;
}

TEST(WineHttpTest, ClientOnWinHttpAgainstTheTestServer) {
    const tarsa::httptest::HttpTestServers servers;
    const auto& bases = servers.Bases();
    const ProgramRun run = RunProgram(
        {std::string(TARSA_WINDOWS_BUILD) + "/tests/windows/win_http_client_test.exe"},
        {"WINEPREFIX='" + Prefix() + "'", "TARSA_TEST_HTTP_BASE=" + bases.server,
         "TARSA_TEST_SILENT_BASE=" + bases.silent, "TARSA_TEST_CLOSED_BASE=" + bases.closed},
        TARSA_WINE_RUN);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("[  PASSED  ] 8 tests."), std::string::npos) << run.out;
}

TEST(WineRegistryTest, FeedbackContactDetailsAreKeptInTheRegistry) {
    tarsa::webtest::FeedbackService service;
    const ProgramRun run =
        RunProgram({"--send-feedback", "--name", "Reg Tester", "--company", "Lake Works", "--email",
                    "reg@x.example", "--message", "Sent from wine."},
                   {"TARSA_FEEDBACK_SERVICE=" + service.Base()});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(service.Field("Name"), "Reg Tester");
    const ProgramRun query =
        RunProgram({"reg", "query", "HKCU\\Software\\Corvane Devices, Inc\\FeedbackForm"},
                   {"WINEPREFIX='" + Prefix() + "'"}, TARSA_WINE_RUN);
    EXPECT_NE(query.out.find("Reg Tester"), std::string::npos) << query.out;
    EXPECT_NE(query.out.find("Lake Works"), std::string::npos) << query.out;
    EXPECT_NE(query.out.find("reg@x.example"), std::string::npos) << query.out;
}

}  // namespace
