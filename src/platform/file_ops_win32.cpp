// Windows: the C library's descriptors, with handles that child processes do
// not inherit. Windows files and folders have no mode bits: a new one gets
// the access list of its folder, and the program's folders are in the user's
// own profile.
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <random>

#include "platform/file_ops.h"

namespace tarsa::platform {

namespace {

int Fail(int error) {
    errno = error;
    return -error;
}

int Result(int rc) {
    return rc < 0 ? -errno : rc;
}

// The errno of a failed call of the Windows API.
int LastError() {
    switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        default:
            return EIO;
    }
}

constexpr int kNewFileFlags = _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT;
constexpr int kOwnerReadWrite = _S_IREAD | _S_IWRITE;

}  // namespace

// Windows has no FIFO that could take a file's place. A folder does not open
// as a file (the C library says only "access denied"); it is named as what it
// is, so that callers can tell it from a file they may not read.
int OpenForReading(const char* path) {
    const int fd = _open(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd >= 0) return fd;
    const int error = errno;
    const DWORD attributes = GetFileAttributesA(path);
    const bool folder =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return Fail(error == EACCES && folder ? EISDIR : error);
}

int CreateNewOwnerOnly(const char* path) {
    return Result(_open(path, kNewFileFlags, kOwnerReadWrite));
}

int CreateTempBeside(const std::string& target, std::string& name) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = target + ".";
        for (int i = 0; i < 6; ++i) candidate += kLetters[pick(random)];
        const int fd = _open(candidate.c_str(), kNewFileFlags, kOwnerReadWrite);
        if (fd >= 0) {
            name = candidate;
            return fd;
        }
        if (errno != EEXIST) return -errno;
    }
    return Fail(EEXIST);
}

int SyncFile(int fd) {
    return Result(_commit(fd));
}

// A folder cannot be opened as a file on Windows; a file's move is made
// durable by the move itself (see RenameOver).
void SyncFolder(const std::string&) {}

// The C library's rename refuses to replace a file; MoveFileEx does, in one
// step, and returns only when the move is on disk.
int RenameOver(const char* from, const char* to) {
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
    return Fail(LastError());
}

int MakeOwnerOnlyFolder(const char* path) {
    return Result(_mkdir(path));
}

// Plain stat, which follows a symbolic link: on Windows only an administrator
// (or developer mode) makes one, and the program's folders hold none.
int StatNoFollow(const char* path, struct stat& st) {
    return Result(stat(path, &st));
}

// The C library's stat gives no file number on Windows; the file system's
// own is the volume's serial number and the file's index on it. The handle
// asks for no access, so that a file open elsewhere can be looked at too.
int IdentifyFile(const char* path, FileIdentity& identity) {
    const HANDLE file = CreateFileA(
        path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Fail(LastError());
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(file, &info) != 0;
    const int error = known ? 0 : LastError();
    CloseHandle(file);
    if (!known) return Fail(error);
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return 0;
}

time_t UtcToTime(struct tm& utc) {
    return _mkgmtime(&utc);
}

}  // namespace tarsa::platform
