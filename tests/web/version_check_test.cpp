// Tests of the online version check: whole checks against a real server with
// the messages the user sees in the menu and the quiet check (the version
// documents' rules are in web_text_test.cpp).
#include "web/version_check.h"

#include <gtest/gtest.h>

#include <atomic>

#include "web/web_config.h"
#include "web_test_support.h"

namespace tarsa {
namespace {

using webtest::ClosedBase;
using webtest::FakeWindow;
using webtest::MemoryStore;
using webtest::TestServer;

// A version service on 127.0.0.1 that serves one document under
// /versionfinder/Talox-Firmware.html and counts its requests.
class VersionCheck : public ::testing::Test {
  protected:
    void Serve(const std::string& document) {
        srv.server.Get("/versionfinder/Talox-Firmware.html",
                       [this, document](const httplib::Request&, httplib::Response& res) {
                           ++hits;
                           res.set_content(document, "text/html");
                       });
        srv.Start();
        web.versionService = srv.Base();
    }
    std::optional<int> Check(bool quiet, int installed = 229) {
        return CheckVersion(web, installed, "/versionfinder/Talox-Firmware.html", quiet, kTitle);
    }

    static constexpr const char* kTitle = "Talox Firmware Updater";
    TestServer srv;
    std::atomic<int> hits{0};
    FakeWindow ui;
    MemoryStore store;
    TfrmWeb web{ui, store, nullptr};
};

TEST_F(VersionCheck, NewerDirectDownloadOpensTheAddressOnYes) {
    Serve("2.31 http://dl.example/TaloxUpdate.exe\n");
    ui.answers = {true};
    EXPECT_EQ(Check(true), 231);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text,
              "There is newer version of Talox Firmware Updater available for download."
              "\n\nWould you like to download this new version with your web browser now?");
    EXPECT_EQ(ui.messages[0].caption, "New Version Available");
    EXPECT_TRUE(ui.messages[0].ask);
    EXPECT_EQ(ui.messages[0].kind, kWebInformation);
    EXPECT_EQ(ui.opened, std::vector<std::string>{"http://dl.example/TaloxUpdate.exe"});
}

TEST_F(VersionCheck, NewerInformationPageAndBrowserFailure) {
    Serve("2.40\nhttp://dl.example/news.html");
    ui.answers = {true};
    ui.browserWorks = false;
    EXPECT_EQ(Check(false), 240);
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[0].text,
              "There is information about a newer version of Talox Firmware Updater\navailable "
              "at http://dl.example/news.html\n\nWould you like to visit this page with your web "
              "browser now?");
    EXPECT_EQ(ui.messages[1].text,
              "Talox Firmware Updater had trouble launching your web browser.\n"
              "Please try manually going to:\nhttp://dl.example/news.html");
    EXPECT_EQ(ui.messages[1].caption, "Web Browser Launch Error");
    EXPECT_EQ(ui.messages[1].kind, kWebWarning);
}

TEST_F(VersionCheck, DecliningTheOfferOpensNothing) {
    Serve("2.31 http://dl.example/x.exe");
    ui.answers = {false};
    EXPECT_EQ(Check(false), 231);
    EXPECT_TRUE(ui.opened.empty());
}

TEST_F(VersionCheck, EqualVersionSpeaksOnlyInTheMenuCheck) {
    Serve("229 http://dl.example/x.exe");
    EXPECT_EQ(Check(true), 229);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(Check(false), 229);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "You are using the latest version of Talox Firmware Updater.");
    EXPECT_EQ(ui.messages[0].caption, "Version Finder");
}

TEST_F(VersionCheck, OlderServiceVersionSpeaksOnlyInTheMenuCheck) {
    Serve("2.10 http://dl.example/x.exe");
    EXPECT_EQ(Check(true), 210);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(Check(false), 210);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text,
              "You are running a newer version of Talox Firmware Updater\n"
              "than is available from Corvane's web site.");
}

TEST_F(VersionCheck, UnreadableReplyGivesTheParseErrorInTheMenuOnly) {
    Serve("version two point three one");
    EXPECT_EQ(Check(true), std::nullopt);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(Check(false), std::nullopt);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text,
              "Error parsing the version information returned by \n"
              "Corvane's version check service.\n[error -1002]"
              "\n\nPlease try again or contact Corvane for help.");
    EXPECT_EQ(ui.messages[0].caption, "Version Check Error");
    EXPECT_EQ(ui.messages[0].kind, kWebError);
}

TEST_F(VersionCheck, OverlongOrBinaryRepliesAreParseErrors) {
    srv.server.Get("/long", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("2.31 http://dl.example/" + std::string(5 * 1024 * 1024, 'a'), "text/html");
    });
    srv.server.Get("/binary", [](const httplib::Request&, httplib::Response& res) {
        std::string bytes;
        for (int i = 0; i < 4096; ++i) bytes += static_cast<char>((i * 131) & 0xFF);
        res.set_content(bytes, "application/octet-stream");
    });
    srv.Start();
    web.versionService = srv.Base();
    EXPECT_EQ(CheckVersion(web, 229, "/long", false, kTitle), std::nullopt);
    EXPECT_EQ(CheckVersion(web, 229, "/binary", false, kTitle), std::nullopt);
    ASSERT_EQ(ui.messages.size(), 2u);
    for (const auto& m : ui.messages)
        EXPECT_NE(m.text.find("[error -1002]"), std::string::npos) << m.text;
}

TEST_F(VersionCheck, ServiceDownGivesTheConnectionErrorWithItsReason) {
    web.versionService = ClosedBase();
    EXPECT_EQ(Check(true), std::nullopt);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(Check(false), std::nullopt);
    ASSERT_EQ(ui.messages.size(), 1u);
    const std::string head =
        "Error connecting to Corvane's version check service.\n"
        "This feature requires your computer to be connected \n"
        "to the internet.\n\n\nPlease make a connection to the internet and try again."
        "\n\nError: ";
    EXPECT_EQ(ui.messages[0].text.substr(0, head.size()), head);
    EXPECT_GT(ui.messages[0].text.size(), head.size());

    // A service that accepts and then says nothing ends in the time-out.
    webtest::SilentListener silent;
    web.versionService = silent.Base();
    web.http.transferTimeoutMs = 300;
    EXPECT_EQ(Check(false), std::nullopt);
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_NE(ui.messages[1].text.find("timed out"), std::string::npos) << ui.messages[1].text;
}

TEST_F(VersionCheck, MissingDocumentIsAConnectionError) {
    srv.Start();
    web.versionService = srv.Base();
    EXPECT_EQ(Check(false), std::nullopt);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].text.find("\n\nError: The service answered with HTTP status 404."),
              std::string::npos);
}

TEST_F(VersionCheck, RedirectsAreFollowed) {
    srv.server.Get("/versionfinder/Talox-Firmware.html",
                   [](const httplib::Request&, httplib::Response& res) {
                       res.set_redirect("/current/talox.txt");
                   });
    srv.server.Get("/current/talox.txt", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("2.29 http://dl.example/x.exe", "text/plain");
    });
    srv.Start();
    web.versionService = srv.Base();
    EXPECT_EQ(Check(true), 229);
}

TEST_F(VersionCheck, NoPathOrNoInstalledVersionMakesNoRequest) {
    Serve("2.31 http://dl.example/x.exe");
    EXPECT_EQ(CheckVersion(web, 229, "", false, kTitle), std::nullopt);
    EXPECT_EQ(Check(false, 0), std::nullopt);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(hits.load(), 0);
}

TEST(VersionCheckConfig, EnvironmentOverrideAndItsRefusal) {
    TestServer srv;
    srv.server.Get("/v.txt", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("2.31 http://dl.example/x.exe", "text/plain");
    });
    srv.Start();
    FakeWindow ui;
    MemoryStore store;
    setenv(kVersionServiceEnv, (srv.Base() + "/").c_str(), 1);
    {
        TfrmWeb web(ui, store, nullptr);
        EXPECT_EQ(web.versionService, srv.Base());
        EXPECT_EQ(CheckVersion(web, 229, "v.txt", true, "T"), 231);
    }
    setenv(kVersionServiceEnv, "127.0.0.1:8080", 1);  // no scheme: refused, not guessed
    {
        TfrmWeb web(ui, store, nullptr);
        ui.messages.clear();
        EXPECT_EQ(CheckVersion(web, 229, "/v.txt", false, "T"), std::nullopt);
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_NE(ui.messages[0].text.find("TARSA_VERSION_SERVICE"), std::string::npos);
    }
    setenv(kVersionServiceEnv, webtest::kNowhere, 1);
}

}  // namespace
}  // namespace tarsa
