// Tests of what the web services take from the system and the build: the
// operating-system description, the MIME table, the service addresses and
// their environment overrides, the settings file and the browser start.
#include "web/system_info.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "web/settings_store.h"
#include "web/system_info_text.h"
#include "web/web_config.h"
#include "web_test_support.h"

namespace tarsa {
namespace {

using webtest::ReadWhole;
using webtest::TempDir;

TEST(OsDescription, NameKernelAndVersionShape) {
    const std::string debian =
        "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\n"
        "VERSION=\"12 (bookworm)\"\n";
    EXPECT_EQ(LinuxOsDescription(debian, "6.1.0-18-amd64"),
              "Debian GNU/Linux 12 (bookworm) kernel 6.1.0-18-amd64 (Version 6.1 build 0)");
    EXPECT_EQ(LinuxOsDescription("NAME=Fedora\nVERSION='40 (Workstation)'\n", "6.8.5-301.fc40"),
              "Fedora 40 (Workstation) kernel 6.8.5-301.fc40 (Version 6.8 build 5)");
    EXPECT_EQ(LinuxOsDescription("", "5.10"), "Linux kernel 5.10 (Version 5.10 build 0)");
    EXPECT_EQ(LinuxOsDescription("", "custom"), "Linux kernel custom");
    // Control characters and over-long names from a hostile file are dropped or cut.
    const std::string hostile = "PRETTY_NAME=\"Evil\x1b[2J OS " + std::string(500, 'A') + "\"\n";
    const std::string text = LinuxOsDescription(hostile, "6.1.0");
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    EXPECT_LT(text.size(), 200u);
    EXPECT_NE(OperatingSystemDescription().find(" kernel "), std::string::npos);
}

TEST(MimeTable, MissingSystemTableGivesTheFallback) {
    EXPECT_EQ(MimeTypeForFile("x.txt", "/nonexistent/mime.types"), "application/octet-stream");
}

TEST(ServiceAddresses, EnvironmentReplacesTheBuildDefault) {
    const char* env = "TARSA_TEST_SERVICE_ADDRESS";
    std::string error;
    unsetenv(env);
    EXPECT_EQ(ServiceAddress(env, "https://svc.example", error), "https://svc.example");
    setenv(env, "", 1);
    EXPECT_EQ(ServiceAddress(env, "https://svc.example", error), "https://svc.example");
    setenv(env, "http://127.0.0.1:8080/", 1);
    EXPECT_EQ(ServiceAddress(env, "https://svc.example", error), "http://127.0.0.1:8080");
    EXPECT_TRUE(error.empty());
    setenv(env, "mirror.example", 1);
    EXPECT_EQ(ServiceAddress(env, "https://svc.example", error), "");
    EXPECT_NE(error.find(env), std::string::npos);
    unsetenv(env);
    EXPECT_EQ(std::string(DefaultFeedbackService()).rfind("https://", 0), 0u);
    EXPECT_EQ(std::string(DefaultVersionService()).rfind("https://", 0), 0u);
}

TEST(IniStore, RoundTripsValuesPrivately) {
    TempDir dir;
    const std::string path = dir.Root() + "/cfg/Corvane Devices, Inc/FeedbackForm.ini";
    IniFileStore store(path);
    EXPECT_EQ(store.Read("Name"), "");
    ASSERT_TRUE(store.Write("Name", "Ann = Example"));
    ASSERT_TRUE(store.Write("Company", "two\nlines \\ and\r more"));
    ASSERT_TRUE(store.Write("Name", "Ann Changed"));
    IniFileStore again(path);
    EXPECT_EQ(again.Read("Name"), "Ann Changed");
    EXPECT_EQ(again.Read("Company"), "two\nlines \\ and\r more");
    EXPECT_EQ(ReadWhole(path), "Name=Ann Changed\nCompany=two\\nlines \\\\ and\\r more\n");
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(store.Write("Bad=Key", "v"));
}

TEST(IniStore, HostileFilesAreReadWithinBounds) {
    TempDir dir;
    const std::string path = dir.Write(
        "f.ini", "[FeedbackForm]\n; note\ngarbage line\n=novalue\nEmail=" + std::string(5000, 'e') +
                     "\r\nPhone=555\\\n" + std::string(200000, 'z'));
    IniFileStore store(path);
    EXPECT_EQ(store.Read("Email"), std::string(kMaxStoredValueBytes, 'e'));
    EXPECT_EQ(store.Read("Phone"), "555\\");
    EXPECT_EQ(store.Read("garbage line"), "");
}

TEST(Browser, OpenerGetsTheAddressAsOneArgument) {
    TempDir dir;
    const std::string record = dir.Path("args");
    const std::string opener =
        dir.Write("opener", "#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" > '" + record + "'\nexit 0\n");
    chmod(opener.c_str(), 0755);
    const std::string url = "http://dl.example/a b;$(touch " + dir.Path("pwned") + ").exe";
    EXPECT_TRUE(LaunchBrowser(url, opener));
    EXPECT_EQ(ReadWhole(record), "1|" + url + "|");
    struct stat st {};
    EXPECT_NE(stat(dir.Path("pwned").c_str(), &st), 0);

    const std::string failing = dir.Write("failing", "#!/bin/sh\nexit 3\n");
    chmod(failing.c_str(), 0755);
    EXPECT_FALSE(LaunchBrowser(url, failing));
    EXPECT_FALSE(LaunchBrowser(url, dir.Path("missing-opener")));

    const std::string slow = dir.Write("slow", "#!/bin/sh\nexec >/dev/null 2>&1\nsleep 3\n");
    chmod(slow.c_str(), 0755);
    EXPECT_TRUE(LaunchBrowser(url, slow, 100));  // still running: taken as started
}

}  // namespace
}  // namespace tarsa
