// The settings history on POSIX systems: owner-only files, and a symbolic
// link in the settings file's place.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/paths.h"
#include "history_fixture.h"

namespace tarsa::app {
namespace {

namespace fs = std::filesystem;

TEST_F(History, MovedAndCopiedFilesAreOwnerOnly) {
    const fs::path settings = dir_ / "Talox.settings.txt";
    for (const bool move : {true, false}) {
        std::ofstream(settings) << "settings";
        chmod(settings.c_str(), 0644);
        std::string kept;
        ASSERT_EQ(move ? MoveToSettingsHistory(settings.string(), dir_.string(), "Talox", "S1",
                                               kNow, kept)
                       : CopyToSettingsHistory(settings.string(), dir_.string(), "Talox", "S1",
                                               kNow, kept),
                  1);
        struct stat st {};
        ASSERT_EQ(stat(kept.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << (move ? "moved" : "copied");
    }
}

TEST_F(History, ALinkInTheFilesPlaceIsLeftAlone) {
    const fs::path target = dir_ / "elsewhere.txt";
    std::ofstream(target) << "not ours";
    const fs::path settings = dir_ / "Talox.settings.txt";
    fs::create_symlink(target, settings);
    std::string kept;
    EXPECT_EQ(MoveToSettingsHistory(settings.string(), dir_.string(), "Talox", "S1", kNow, kept),
              0);
    EXPECT_EQ(CopyToSettingsHistory(settings.string(), dir_.string(), "Talox", "S1", kNow, kept),
              0);
    EXPECT_TRUE(fs::is_symlink(settings));
    EXPECT_TRUE(Names().empty());
}

}  // namespace
}  // namespace tarsa::app
