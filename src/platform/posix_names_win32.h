// POSIX names that the shared file code uses and mingw-w64 lacks, given the
// nearest Windows meaning. Included before every source file of the Windows
// build (the Windows toolchain's compile flags), never by name.
//
//   O_CLOEXEC    handles are not inherited (O_NOINHERIT)
//   O_NONBLOCK   nothing: Windows has no FIFO in a file's place to block on
//   O_DIRECTORY  a folder never opens, so a folder's flush does nothing
//   fsync        _commit
//   lstat        stat (no symbolic links in the data folder's files)
//   mkdir(p, m)  _mkdir(p); Windows folders have no mode
//   mkostemp     a fresh file of a unique name, created exclusively
//   timegm       _mkgmtime
//   setenv, unsetenv, mkdtemp  (used by tests) _putenv_s, _mktemp_s + _mkdir
//   rename       MoveFileEx with replace: POSIX rename replaces the target
//                atomically, the C library's rename of Windows refuses to.
#pragma once

#ifdef __cplusplus
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#else
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#endif
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#define O_CLOEXEC _O_NOINHERIT
#define O_NONBLOCK 0
#define O_DIRECTORY 0x10000000

#ifdef __cplusplus
extern "C" {
#endif

__declspec(dllimport) int __stdcall MoveFileExA(const char* from, const char* to,
                                                unsigned long flags);
__declspec(dllimport) unsigned long __stdcall GetLastError(void);

static inline int tarsa_fsync(int fd) {
    return _commit(fd);
}

static inline int tarsa_lstat(const char* path, struct stat* st) {
    return stat(path, st);
}

static inline int tarsa_mkdir(const char* path, int mode) {
    (void)mode;
    return _mkdir(path);
}

static inline int tarsa_mkostemp(char* pattern, int flags) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[1024];
        snprintf(name, sizeof name, "%s", pattern);
        if (_mktemp_s(name, strlen(name) + 1) != 0) return -1;
        const int fd =
            _open(name, _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | flags, _S_IREAD | _S_IWRITE);
        if (fd >= 0 || errno != EEXIST) {
            if (fd >= 0) memcpy(pattern, name, strlen(name));
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

static inline int tarsa_rename(const char* from, const char* to) {
    // MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH
    if (MoveFileExA(from, to, 0x1 | 0x2 | 0x8)) return 0;
    const unsigned long error = GetLastError();
    errno = error == 2 || error == 3 ? ENOENT : error == 5 || error == 32 ? EACCES : EIO;
    return -1;
}

static inline int tarsa_setenv(const char* name, const char* value, int overwrite) {
    if (!overwrite && getenv(name)) return 0;
    return _putenv_s(name, value);
}

static inline int tarsa_unsetenv(const char* name) {
    return _putenv_s(name, "");
}

static inline char* tarsa_mkdtemp(char* pattern) {
    if (_mktemp_s(pattern, strlen(pattern) + 1) != 0 || _mkdir(pattern) != 0) return NULL;
    return pattern;
}

#ifdef __cplusplus
}
#endif

#define fsync tarsa_fsync
#define lstat tarsa_lstat
#define mkdir tarsa_mkdir
#define mkostemp tarsa_mkostemp
#define rename tarsa_rename
#define timegm _mkgmtime
#define setenv tarsa_setenv
#define unsetenv tarsa_unsetenv
#define mkdtemp tarsa_mkdtemp
