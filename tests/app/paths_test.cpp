// The settings history: its file names, the move into it and what it keeps.
#include "app/paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "history_fixture.h"

namespace tarsa::app {
namespace {

namespace fs = std::filesystem;

TEST_F(History, NamesCarryDeviceSerialAndUtcTime) {
    EXPECT_EQ(HistoryFileName("Talox", "TX12345", kNow + 3661),
              "Talox_TX12345_20261208T010101Z.settings.txt");
    EXPECT_EQ(HistoryFileName("Skyra 61", "a/b_c", kNow, 3),
              "Skyra-61_a-b-c_20261208T000000Z-3.settings.txt");
    EXPECT_EQ(HistoryFileName("Talox", "", kNow), "Talox_unknown_20261208T000000Z.settings.txt");
    EXPECT_EQ(HistoryFileName("Talox", "..", kNow), "Talox_-._20261208T000000Z.settings.txt");
    for (int copy : {1, 2, 17}) {
        time_t when = 0;
        ASSERT_TRUE(HistoryFileTime(HistoryFileName("Hygra 8", "H8-1", kNow - 5, copy), when));
        EXPECT_EQ(when, kNow - 5);
    }
    time_t when = 0;
    for (const char* foreign : {"Talox.settings.txt", "notes.txt", "x_20261208T000000Z.txt",
                                "x_20261308T000000Z.settings.txt", "_2026120T8000000Z.settings.txt",
                                "x20261208T000000Z.settings.txt"}) {
        EXPECT_FALSE(HistoryFileTime(foreign, when)) << foreign;
    }
}

TEST_F(History, MoveKeepsTheFileBesideAnEarlierOne) {
    const fs::path settings = dir_ / "Talox.settings.txt";
    std::string moved;
    EXPECT_EQ(MoveToSettingsHistory(settings.string(), dir_.string(), "Talox", "S1", kNow, moved),
              0)
        << "nothing to move";
    fs::create_directories(settings);
    EXPECT_EQ(MoveToSettingsHistory(settings.string(), dir_.string(), "Talox", "S1", kNow, moved),
              0)
        << "a folder is no settings file";
    fs::remove(settings);

    for (const char* content : {"first", "second"}) {
        std::ofstream(settings) << content;
        ASSERT_EQ(
            MoveToSettingsHistory(settings.string(), dir_.string(), "Talox", "S1", kNow, moved), 1);
        EXPECT_FALSE(fs::exists(settings));
        std::ifstream in(moved);
        std::string text;
        in >> text;
        EXPECT_EQ(text, content);
    }
    EXPECT_EQ(moved, (dir_ / "history" / "Talox_S1_20261208T000000Z-2.settings.txt").string());
    EXPECT_EQ(Names().size(), 2u);

    fs::remove_all(dir_ / "history");
    std::ofstream(dir_ / "history") << "a file in the folder's place";
    std::ofstream(settings) << "kept";
    EXPECT_LT(MoveToSettingsHistory(settings.string(), dir_.string(), "Talox", "S1", kNow, moved),
              0);
    EXPECT_TRUE(fs::exists(settings)) << "a failed move leaves the file where it was";
}

TEST_F(History, FoldersAreMadeWithTheirMissingParents) {
    const std::string nested = (dir_ / "a").string() + FolderSeparator() + "b/c";
    EXPECT_TRUE(MakeFolders(nested));
    EXPECT_TRUE(fs::is_directory(nested));
    EXPECT_TRUE(MakeFolders(nested)) << "made already";
    std::ofstream(dir_ / "file") << "in the way";
    EXPECT_FALSE(MakeFolders((dir_ / "file" / "d").string()));
}

TEST_F(History, KeepsTheNewestHundredAndEverythingYoungerThanThirtyDays) {
    struct Case {
        int young;  // files moved within the last 30 days
        int old;    // files older than that
        size_t kept;
    };
    for (const Case& c : {Case{90, 30, 100}, Case{110, 10, 110}, Case{0, 99, 99}}) {
        fs::remove_all(dir_ / "history");
        fs::create_directories(dir_ / "history");
        for (int i = 0; i < c.young; ++i)
            Put(HistoryFileName("Talox", "Y" + std::to_string(i), kNow - i * 3600));
        for (int i = 0; i < c.old; ++i)
            Put(HistoryFileName("Talox", "O" + std::to_string(i), kNow - 31 * kDay - i * 3600));
        Put("notes.txt");
        PruneSettingsHistory((dir_ / "history").string(), kNow);
        const auto names = Names();
        EXPECT_EQ(names.size(), c.kept + 1) << c.young << " young, " << c.old << " old";
        EXPECT_TRUE(names.count("notes.txt")) << "files of other names are left alone";
        for (int i = 0; i < c.young; ++i)
            EXPECT_TRUE(
                names.count(HistoryFileName("Talox", "Y" + std::to_string(i), kNow - i * 3600)));
        // What goes is always the oldest.
        const int oldKept = static_cast<int>(c.kept) - c.young;
        for (int i = 0; i < c.old; ++i) {
            EXPECT_EQ(names.count(HistoryFileName("Talox", "O" + std::to_string(i),
                                                  kNow - 31 * kDay - i * 3600)),
                      i < oldKept ? 1u : 0u)
                << i;
        }
    }
}

TEST(ShellWord, QuotesOnlyWhatAShellWouldSplit) {
    EXPECT_EQ(ShellWord("/tmp/x/Talox_S1_20261208T000000Z.settings.txt"),
              "/tmp/x/Talox_S1_20261208T000000Z.settings.txt");
    EXPECT_EQ(ShellWord("/home/a b/it's"), "'/home/a b/it'\\''s'");
    EXPECT_EQ(ShellWord(""), "''");
}

}  // namespace
}  // namespace tarsa::app
