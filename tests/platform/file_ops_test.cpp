// The file operations on every platform: what each does and the errno-style
// results the callers tell apart.
#include "platform/file_ops.h"

#include <cerrno>

#include "file_ops_fixture.h"

namespace tarsa::platform {
namespace {

TEST_F(FileOps, RenameOverReplacesTheTarget) {
    const std::string target = Put("settings.txt", "old");
    const std::string fresh = Put("settings.new", "new");
    ASSERT_EQ(RenameOver(fresh.c_str(), target.c_str()), 0);
    EXPECT_EQ(Read(target), "new");
    EXPECT_FALSE(std::filesystem::exists(fresh));

    EXPECT_EQ(RenameOver(fresh.c_str(), target.c_str()), -ENOENT);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(Read(target), "new");
}

TEST_F(FileOps, NewFilesAreCreatedOnlyWhereNothingIs) {
    const std::string path = Path("new.txt");
    const int fd = CreateNewOwnerOnly(path.c_str());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WriteAndClose(fd, "written"));
    EXPECT_EQ(Read(path), "written");
    EXPECT_EQ(CreateNewOwnerOnly(path.c_str()), -EEXIST);
    EXPECT_EQ(CreateNewOwnerOnly(Path("missing/new.txt").c_str()), -ENOENT);

    EXPECT_EQ(MakeOwnerOnlyFolder(Path("folder").c_str()), 0);
    EXPECT_EQ(MakeOwnerOnlyFolder(Path("folder").c_str()), -EEXIST);
    EXPECT_EQ(MakeOwnerOnlyFolder(path.c_str()), -EEXIST) << "a file in the folder's place";
    EXPECT_EQ(MakeOwnerOnlyFolder(Path("missing/folder").c_str()), -ENOENT);
}

TEST_F(FileOps, TemporaryFilesAreNewAndBesideTheirTarget) {
    const std::string target = Put("settings.txt", "old");
    std::string first;
    std::string second;
    const int a = CreateTempBeside(target, first);
    const int b = CreateTempBeside(target, second);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    EXPECT_NE(first, second);
    for (const std::string& name : {first, second}) {
        EXPECT_EQ(name.rfind(target + ".", 0), 0u) << name;
        EXPECT_TRUE(std::filesystem::is_regular_file(name)) << name;
    }
    ASSERT_TRUE(WriteAndClose(a, "first"));
    ASSERT_TRUE(WriteAndClose(b, "second"));
    EXPECT_EQ(Read(first), "first");
    EXPECT_EQ(Read(target), "old");

    std::string none;
    EXPECT_EQ(CreateTempBeside(Path("missing/settings.txt"), none), -ENOENT);
}

TEST_F(FileOps, OpenAndStatTellAFileAFolderAndNothingApart) {
    const std::string file = Put("file.txt", "content");
    const int fd = OpenForReading(file.c_str());
    ASSERT_GE(fd, 0);
    char buffer[16] = {};
    EXPECT_EQ(read(fd, buffer, sizeof buffer), 7);
    close(fd);
    EXPECT_EQ(OpenForReading(Path("missing.txt").c_str()), -ENOENT);

    struct stat st {};
    ASSERT_EQ(StatNoFollow(file.c_str(), st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_size, 7);
    ASSERT_EQ(StatNoFollow(dir_.string().c_str(), st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(StatNoFollow(Path("missing.txt").c_str(), st), -ENOENT);
}

TEST_F(FileOps, AFileRenamedInAnothersPlaceIsAnotherFile) {
    const std::string target = Put("settings.txt", "old");
    FileIdentity before;
    FileIdentity again;
    ASSERT_EQ(IdentifyFile(target.c_str(), before), 0);
    std::ofstream(target, std::ios::app) << "written in place";
    ASSERT_EQ(IdentifyFile(target.c_str(), again), 0);
    EXPECT_EQ(before, again) << "a file written to stays the same file";

    const std::string fresh = Put("settings.new", "new");
    ASSERT_EQ(RenameOver(fresh.c_str(), target.c_str()), 0);
    FileIdentity after;
    ASSERT_EQ(IdentifyFile(target.c_str(), after), 0);
    EXPECT_NE(before, after);
    EXPECT_EQ(IdentifyFile(fresh.c_str(), after), -ENOENT);
}

TEST(UtcToTime, ReadsTheTimeAsUtcAndNormalisesIt) {
    struct Case {
        int year, month0, day, hour;
        time_t when;
        int normalYear, normalMonth0;
    };
    for (const Case& c : {Case{70, 0, 1, 0, 0, 70, 0}, Case{126, 11, 8, 0, 1796688000, 126, 11},
                          Case{126, 12, 8, 1, 1796688000 + 31 * 86400 + 3600, 127, 0},
                          Case{124, 1, 29, 12, 1709208000, 124, 1}}) {
        struct tm utc {};
        utc.tm_year = c.year;
        utc.tm_mon = c.month0;
        utc.tm_mday = c.day;
        utc.tm_hour = c.hour;
        EXPECT_EQ(UtcToTime(utc), c.when) << c.year << "-" << c.month0 << "-" << c.day;
        EXPECT_EQ(utc.tm_year, c.normalYear);
        EXPECT_EQ(utc.tm_mon, c.normalMonth0);
    }
}

}  // namespace
}  // namespace tarsa::platform
