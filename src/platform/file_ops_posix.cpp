#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/file_ops.h"

namespace tarsa::platform {

namespace {

int Result(int rc) {
    return rc < 0 ? -errno : rc;
}

}  // namespace

int OpenForReading(const char* path) {
    return Result(open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
}

int CreateNewOwnerOnly(const char* path) {
    return Result(open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
}

int CreateTempBeside(const std::string& target, std::string& name) {
    std::vector<char> pattern(target.begin(), target.end());
    const char suffix[] = ".XXXXXX";
    pattern.insert(pattern.end(), suffix, suffix + sizeof suffix);
    const int fd = mkostemp(pattern.data(), O_CLOEXEC);  // created with mode 0600
    if (fd < 0) return -errno;
    name = pattern.data();
    return fd;
}

int SyncFile(int fd) {
    return Result(fsync(fd));
}

void SyncFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

int RenameOver(const char* from, const char* to) {
    return Result(rename(from, to));
}

int MakeOwnerOnlyFolder(const char* path) {
    return Result(mkdir(path, 0700));
}

int StatNoFollow(const char* path, struct stat& st) {
    return Result(lstat(path, &st));
}

int IdentifyFile(const char* path, FileIdentity& identity) {
    struct stat st {};
    if (lstat(path, &st) != 0) return -errno;
    identity.volume = static_cast<uint64_t>(st.st_dev);
    identity.index = static_cast<uint64_t>(st.st_ino);
    return 0;
}

time_t UtcToTime(struct tm& utc) {
    return timegm(&utc);
}

}  // namespace tarsa::platform
