// The web services' rules on text, on every platform: version documents,
// the operating-system names of the Windows version table, the MIME table
// and the forms of a service address.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "web/system_info.h"
#include "web/system_info_text.h"
#include "web/version_check.h"
#include "web/web_config.h"

namespace tarsa {
namespace {

TEST(VersionDocument, VersionTextRules) {
    struct Case {
        const char* reply;
        int status;
        int version;
        bool direct;
    };
    const Case cases[] = {
        {"2.31 http://dl.example/x.exe\r\n", 0, 231, true},
        {"231\nhttp://dl.example/info.html", 0, 231, false},
        {"2 http://dl.example/", 0, 200, false},
        {"1.5 http://dl.example/", 0, 150, false},
        {"1.005\thttp://dl.example/", 0, 100, false},
        {"0.125 http://dl.example/", 0, 13, false},  // 12.5 rounds away from zero
        {"50 http://dl.example/", 0, 50, false},     // integers from 10 on are not scaled
        {"  2.29  \nhttp://dl.example/", 0, 229, false},
        {"no address here", kVersionParseError, 0, false},
        {"latest http://dl.example/", kVersionParseError, 0, false},
        {"http://dl.example/ at the start", kVersionParseError, 0, false},
        {"1e400 http://dl.example/", kVersionParseError, 0, false},
        {"nan http://dl.example/", kVersionParseError, 0, false},
        {"2.31 https://dl.example/x.exe", 0, 231, true},
        {"2.31 httpx://dl.example/x.exe", kVersionParseError, 0, false},
        {"2.31 http:/dl.example/", kVersionParseError, 0, false},
        {"2.31 https:dl.example/", kVersionParseError, 0, false},
        {"2.31 http://dl.example/a\x01"
         "b",
         kVersionParseError, 0, false},
    };
    for (const Case& c : cases) {
        const VersionDocument doc = ParseVersionDocument(c.reply);
        EXPECT_EQ(doc.status, c.status) << c.reply;
        if (c.status == 0) {
            EXPECT_EQ(doc.remoteVersion, c.version) << c.reply;
            EXPECT_EQ(doc.directDownload, c.direct) << c.reply;
        }
    }
    EXPECT_EQ(ParseVersionDocument("2.31 http://dl.example/x.exe  \r\n\t").address,
              "http://dl.example/x.exe");
}

TEST(VersionDocument, AddressIsCutTo999Characters) {
    const std::string address = "http://dl.example/" + std::string(2000, 'a');
    const VersionDocument doc = ParseVersionDocument("2.40 " + address);
    EXPECT_EQ(doc.status, 0);
    EXPECT_EQ(doc.address, address.substr(0, 999));
}

TEST(VersionDocument, ArbitraryBytesNeverCrash) {
    uint32_t x = 12345;
    auto next = [&x] { return x = x * 1103515245u + 12345u; };
    for (int round = 0; round < 3000; ++round) {
        std::string bytes;
        const size_t length = next() % 1500;
        const size_t linkAt = next() % 1600;
        for (size_t i = 0; i < length; ++i) {
            if (i == linkAt) bytes += "http";
            bytes += static_cast<char>(next() >> 24);
        }
        const VersionDocument doc = ParseVersionDocument(bytes);
        EXPECT_TRUE(doc.status == 0 || doc.status == kVersionParseError);
        EXPECT_LE(doc.address.size(), kMaxDownloadAddressChars);
    }
}

TEST(OsDescription, WindowsNamesFromTheVersionTable) {
    struct Row {
        uint32_t platform, major, minor, build;
        const char* servicePack;
        const char* text;
    };
    const Row rows[] = {
        {kWin32Windows, 4, 10, 0x04000A22, "A", "Windows 98 A (Version 4.10 build 2594)"},
        {kWin32Windows, 4, 3, 950, "", " (Version 4.3 build 950)"},
        {kWin32Windows, 5, 0, 1, "", "Unknown Win32  (Version 5.0 build 1)"},
        {kWin32Nt, 4, 0, 1381, "Service Pack 6",
         "Windows NT 4.0 Service Pack 6 (Version 4.0 build 1381)"},
        {kWin32Nt, 5, 1, 2600, "Service Pack 3",
         "Windows XP Service Pack 3 (Version 5.1 build 2600)"},
        {kWin32Nt, 5, 3, 1, "", " (Version 5.3 build 1)"},
        {kWin32Nt, 6, 1, 7601, "", "Windows Vista  (Version 6.1 build 7601)"},
        {kWin32Nt, 10, 0, 19045, "", "Unknown WinNT  (Version 10.0 build 19045)"},
        {3, 1, 0, 0, "", "Unknown Windows Platform  (Version 1.0 build 0)"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(WindowsOsDescription(r.platform, r.major, r.minor, r.build, r.servicePack),
                  r.text);
    }
}

TEST(MimeTable, LooksUpTheExtensionCaseBlind) {
    const std::string table =
        "# comment text/x-nope txt\n"
        "text/plain\t\ttxt log asc\n"
        "application/pdf pdf\n"
        "application/x-tar tar # trailing comment gz\n";
    EXPECT_EQ(MimeTypeFromTable("/var/log/Talox Firmware Updater.errors.txt", table), "text/plain");
    EXPECT_EQ(MimeTypeFromTable("REPORT.PDF", table), "application/pdf");
    EXPECT_EQ(MimeTypeFromTable("a.gz", table), "application/octet-stream");
    EXPECT_EQ(MimeTypeFromTable("Makefile", table), "application/octet-stream");
    EXPECT_EQ(MimeTypeFromTable("dir.d/noext", table), "application/octet-stream");
    EXPECT_EQ(MimeTypeFromTable("trailing.", table), "application/octet-stream");
}

TEST(ServiceAddresses, AcceptedAndRefusedForms) {
    for (const char* good : {"http://127.0.0.1:8080", "https://updates.example.com",
                             "HTTPS://Mirror.Example:443/", "http://[::1]:9000", "http://h"})
        EXPECT_TRUE(IsServiceAddress(good)) << good;
    for (const char* bad : {"127.0.0.1:8080", "ftp://h", "http://", "http://h:0", "http://h:65536",
                            "http://h:", "http://h/path", "http://user@h", "http://h:80x",
                            "http://[::1", "https:// h"})
        EXPECT_FALSE(IsServiceAddress(bad)) << bad;
}

}  // namespace
}  // namespace tarsa
