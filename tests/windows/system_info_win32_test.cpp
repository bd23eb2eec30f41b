// What the web services take from Windows: the version through RtlGetVersion
// and the content types of the registry's file classes, which the test sets
// in HKEY_CLASSES_ROOT (wine's prefix lets it) and removes.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "web/system_info.h"

namespace tarsa {
namespace {

TEST(WindowsSystemInfo, DescriptionCarriesTheRunningVersion) {
    const std::string text = OperatingSystemDescription();
    EXPECT_NE(text.find(" (Version "), std::string::npos) << text;
    EXPECT_NE(text.find(" build "), std::string::npos) << text;
    // The fallback of a failed version call reads version 0.0.
    EXPECT_EQ(text.find("Version 0.0"), std::string::npos) << text;
}

class ContentTypes : public ::testing::Test {
  protected:
    void Set(const char* extension, DWORD kind, const void* data, DWORD size) {
        created_.push_back(extension);
        ASSERT_EQ(RegSetKeyValueA(HKEY_CLASSES_ROOT, extension, "Content Type", kind, data, size),
                  ERROR_SUCCESS);
    }
    void SetText(const char* extension, const std::string& type) {
        Set(extension, REG_SZ, type.c_str(), static_cast<DWORD>(type.size() + 1));
    }
    void TearDown() override {
        for (const std::string& key : created_) RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str());
    }
    std::vector<std::string> created_;
};

TEST_F(ContentTypes, AreReadFromTheRegistryAsOneWordAtMost) {
    SetText(".tarsatxt", "text/x-tarsa");
    SetText(".tarsaevil", "text/plain\x1b[2J; rm -rf");
    SetText(".tarsalong", std::string(300, 'a'));
    const DWORD number = 7;
    Set(".tarsanum", REG_DWORD, &number, sizeof number);
    EXPECT_EQ(MimeTypeForFile("C:\\logs\\Report.TARSATXT"), "text/x-tarsa");
    EXPECT_EQ(MimeTypeForFile("Z:/tmp/a.tarsatxt"), "text/x-tarsa");
    EXPECT_EQ(MimeTypeForFile("a.tarsaevil"), "text/plain");
    EXPECT_EQ(MimeTypeForFile("a.tarsalong"), "application/octet-stream");
    EXPECT_EQ(MimeTypeForFile("a.tarsanum"), "application/octet-stream");
    for (const char* none : {"a.tarsanone", "C:\\dir.tarsatxt\\noext", "trailing.", "Makefile"})
        EXPECT_EQ(MimeTypeForFile(none), "application/octet-stream") << none;
}

TEST(WindowsSystemInfo, ProgramPathAndFileNames) {
    EXPECT_EQ(FileNameOf(ProgramFilePath()), "win_web_tests.exe");
    EXPECT_EQ(FileNameOf("C:\\a/b\\c.txt"), "c.txt");
}

}  // namespace
}  // namespace tarsa
