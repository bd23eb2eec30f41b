// The file operations on POSIX systems: owner-only modes, descriptors closed
// across exec, a FIFO that does not block the open, links not followed.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "file_ops_fixture.h"

namespace tarsa::platform {
namespace {

mode_t Mode(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

bool ClosedOnExec(int fd) {
    return (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0;
}

TEST_F(FileOps, NewFilesAndFoldersAreOwnerOnlyAndNotInherited) {
    const mode_t earlier = umask(0);  // the modes are the calls' own, not the umask's
    const std::string created = Path("new.txt");
    const int fd = CreateNewOwnerOnly(created.c_str());
    std::string temp;
    const int tempFd = CreateTempBeside(Path("settings.txt"), temp);
    const int folder = MakeOwnerOnlyFolder(Path("folder").c_str());
    umask(earlier);
    ASSERT_GE(fd, 0);
    ASSERT_GE(tempFd, 0);
    ASSERT_EQ(folder, 0);
    EXPECT_TRUE(ClosedOnExec(fd));
    EXPECT_TRUE(ClosedOnExec(tempFd));
    EXPECT_EQ(Mode(created), 0600u);
    EXPECT_EQ(Mode(temp), 0600u);
    EXPECT_EQ(Mode(Path("folder")), 0700u);
    close(fd);
    close(tempFd);

    const int reading = OpenForReading(created.c_str());
    ASSERT_GE(reading, 0);
    EXPECT_TRUE(ClosedOnExec(reading));
    close(reading);
}

TEST_F(FileOps, AFifoDoesNotBlockTheOpenAndALinkIsNotFollowed) {
    const std::string fifo = Path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int fd = OpenForReading(fifo.c_str());  // no writer: a blocking open would hang
    ASSERT_GE(fd, 0);
    close(fd);

    const std::string link = Path("link");
    ASSERT_EQ(symlink(fifo.c_str(), link.c_str()), 0);
    struct stat st {};
    ASSERT_EQ(StatNoFollow(link.c_str(), st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(symlink(Path("nothing").c_str(), Path("dangling").c_str()), 0);
    EXPECT_EQ(StatNoFollow(Path("dangling").c_str(), st), 0);
}

}  // namespace
}  // namespace tarsa::platform
