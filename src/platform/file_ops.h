// File operations of the shared code whose meaning differs between the
// platforms. file_ops_posix.cpp and file_ops_win32.cpp implement them; CMake
// builds the one of the target.
//
// Results are errno-style: a descriptor (or 0) on success, -errno on failure,
// with errno set to the same value.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <string>

namespace tarsa::platform {

// Opens `path` for reading. A FIFO in the file's place does not block the
// open; the caller checks with fstat that it opened a regular file. A folder
// opens on POSIX systems and gives -EISDIR on Windows.
int OpenForReading(const char* path);

// Creates `path`, which must not exist yet, and opens it for writing. Only
// its owner may read and write it.
int CreateNewOwnerOnly(const char* path);

// Creates a new file of a unique name beside `target` (in its folder, so
// that it can be renamed over `target`), owner-only as above, and opens it
// for writing. `name` receives the file's path.
int CreateTempBeside(const std::string& target, std::string& name);

// Flushes the file's data to disk. 0 or -errno.
int SyncFile(int fd);

// Flushes the folder's entries to disk, so that a rename in it outlasts a
// crash. Best effort: a failure loses nothing that was written.
void SyncFolder(const std::string& folder);

// Renames `from` over `to` in one step: `to` names the old file until it
// names the new one, and never nothing. 0 or -errno; -EXDEV when the two are
// on different file systems.
int RenameOver(const char* from, const char* to);

// Creates the folder `path`, open to its owner only. 0 or -errno; -EEXIST
// when something of that name is there already.
int MakeOwnerOnlyFolder(const char* path);

// The status of `path` itself: a symbolic link is not followed. 0 or -errno.
int StatNoFollow(const char* path, struct stat& st);

// What tells one file from another: two looks at one file give the same
// identity, a file put in its place by a rename gives another.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t index = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of the file at `path` (of a symbolic link itself, not of what
// it names). 0 or -errno.
int IdentifyFile(const char* path, FileIdentity& identity);

// The time of `utc` read as Coordinated Universal Time, or -1. `utc` is
// normalised as mktime does (a 13th month becomes January of the next year).
time_t UtcToTime(struct tm& utc);

}  // namespace tarsa::platform
