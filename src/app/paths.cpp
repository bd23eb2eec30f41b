#include "app/paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/file_ops.h"

namespace tarsa::app {
namespace {

constexpr const char* kHistorySuffix = ".settings.txt";
constexpr const char* kTimeFormat = "%Y%m%dT%H%M%SZ";
constexpr size_t kTimeLength = 16;  // 20261208T161834Z
// More copies of one device within one second than this is not a history.
constexpr int kMaxCopies = 1000;

std::string FileNamePart(const std::string& text, const char* empty) {
    std::string out;
    for (char c : text) {
        const bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '-';
        out += safe ? c : '-';
    }
    // A leading dot would hide the file.
    if (!out.empty() && out[0] == '.') out[0] = '-';
    return out.empty() ? empty : out;
}

bool AllDigits(const std::string& s, size_t from, size_t count) {
    if (from + count > s.size()) return false;
    for (size_t i = from; i < from + count; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
    }
    return true;
}

// Writes `from` to a new owner-only file `to` (which must not exist): a copy
// kept in the history, or a move to a history on another file system.
// Returns 1 or -(errno).
int CopyFile(const std::string& from, const std::string& to) {
    const int in = platform::OpenForReading(from.c_str());
    if (in < 0) return in;
    const int out = platform::CreateNewOwnerOnly(to.c_str());
    if (out < 0) {
        close(in);
        return out;
    }
    int rc = 1;
    char buffer[8192];
    for (;;) {
        const ssize_t n = read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            rc = -errno;
            break;
        }
        if (n == 0) break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = write(out, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                rc = w < 0 ? -errno : -EIO;
                break;
            }
            done += w;
        }
        if (rc < 0) break;
    }
    if (rc > 0 && platform::SyncFile(out) != 0) rc = -errno;
    if (close(out) != 0 && rc > 0) rc = -errno;
    close(in);
    if (rc < 0) unlink(to.c_str());
    return rc;
}

// The first history path for `device`, `serial` and `now` that is not taken;
// empty when every copy number is.
std::string FreeHistoryPath(const std::string& folder, const std::string& device,
                            const std::string& serial, time_t now) {
    for (int copy = 1; copy <= kMaxCopies; ++copy) {
        std::string candidate =
            folder + FolderSeparator() + HistoryFileName(device, serial, now, copy);
        struct stat existing {};
        if (platform::StatNoFollow(candidate.c_str(), existing) == -ENOENT) return candidate;
    }
    return {};
}

}  // namespace

// Each leading part is made in turn, split at "/" and at the platform's own
// separator. A part that cannot be made is passed over (a drive such as
// "C:" or a share's name cannot, nor can a parent the user may not write
// but which exists): only the whole path must be made or be there already.
bool MakeFolders(const std::string& path) {
    if (path.empty()) return false;
    const char separators[] = {'/', FolderSeparator()[0], '\0'};
    for (size_t pos = path.find_first_of(separators, 1); pos != std::string::npos;
         pos = path.find_first_of(separators, pos + 1)) {
        platform::MakeOwnerOnlyFolder(path.substr(0, pos).c_str());
    }
    const int made = platform::MakeOwnerOnlyFolder(path.c_str());
    if (made != 0 && made != -EEXIST) return false;
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string SettingsHistoryFolder(const std::string& dataFolder) {
    return dataFolder + FolderSeparator() + "history";
}

std::string HistoryFileName(const std::string& device, const std::string& serial, time_t when,
                            int copy) {
    struct tm utc {};
    gmtime_r(&when, &utc);
    char stamp[32];
    strftime(stamp, sizeof stamp, kTimeFormat, &utc);
    std::string name =
        FileNamePart(device, "device") + "_" + FileNamePart(serial, "unknown") + "_" + stamp;
    if (copy > 1) name += "-" + std::to_string(copy);
    return name + kHistorySuffix;
}

bool HistoryFileTime(const std::string& name, time_t& when) {
    const size_t suffix = strlen(kHistorySuffix);
    if (name.size() <= suffix || name.compare(name.size() - suffix, suffix, kHistorySuffix) != 0) {
        return false;
    }
    std::string stem = name.substr(0, name.size() - suffix);
    const size_t dash = stem.find_last_of('-');
    if (dash != std::string::npos && dash > 0 && stem[dash - 1] == 'Z' &&
        AllDigits(stem, dash + 1, stem.size() - dash - 1) && stem.size() > dash + 1) {
        stem.resize(dash);
    }
    if (stem.size() < kTimeLength + 1) return false;
    const size_t at = stem.size() - kTimeLength;
    if (stem[at - 1] != '_' || !AllDigits(stem, at, 8) || stem[at + 8] != 'T' ||
        !AllDigits(stem, at + 9, 6) || stem[at + 15] != 'Z') {
        return false;
    }
    struct tm utc {};
    utc.tm_year = std::atoi(stem.substr(at, 4).c_str()) - 1900;
    utc.tm_mon = std::atoi(stem.substr(at + 4, 2).c_str()) - 1;
    utc.tm_mday = std::atoi(stem.substr(at + 6, 2).c_str());
    utc.tm_hour = std::atoi(stem.substr(at + 9, 2).c_str());
    utc.tm_min = std::atoi(stem.substr(at + 11, 2).c_str());
    utc.tm_sec = std::atoi(stem.substr(at + 13, 2).c_str());
    const struct tm asRead = utc;
    when = platform::UtcToTime(utc);
    // UtcToTime normalises a 13th month or a 32nd day; such a name is not ours.
    return when != static_cast<time_t>(-1) && utc.tm_year == asRead.tm_year &&
           utc.tm_mon == asRead.tm_mon && utc.tm_mday == asRead.tm_mday &&
           utc.tm_hour == asRead.tm_hour && utc.tm_min == asRead.tm_min;
}

namespace {

// What moving and copying into the history share: 1 with the history folder
// made and a free name in it, 0 when `path` is no regular file (nothing to
// keep), or -errno.
int PrepareHistoryEntry(const std::string& path, const std::string& dataFolder,
                        const std::string& device, const std::string& serial, time_t now,
                        std::string& folder, std::string& target) {
    struct stat st {};
    if (const int rc = platform::StatNoFollow(path.c_str(), st); rc != 0) {
        return rc == -ENOENT ? 0 : rc;
    }
    if (!S_ISREG(st.st_mode)) return 0;  // not a settings file: nothing to keep
    folder = SettingsHistoryFolder(dataFolder);
    errno = 0;
    if (!MakeFolders(folder)) return errno ? -errno : -ENOTDIR;
    target = FreeHistoryPath(folder, device, serial, now);
    return target.empty() ? -EEXIST : 1;
}

}  // namespace

int MoveToSettingsHistory(const std::string& path, const std::string& dataFolder,
                          const std::string& device, const std::string& serial, time_t now,
                          std::string& movedTo) {
    std::string folder, target;
    if (const int ready =
            PrepareHistoryEntry(path, dataFolder, device, serial, now, folder, target);
        ready != 1) {
        return ready;
    }
    if (const int moved = platform::RenameOver(path.c_str(), target.c_str()); moved != 0) {
        if (moved != -EXDEV) return moved;
        const int rc = CopyFile(path, target);
        if (rc < 0) return rc;
        if (unlink(path.c_str()) != 0) {
            const int error = errno;
            unlink(target.c_str());
            return -error;
        }
    }
    chmod(target.c_str(), 0600);
    platform::SyncFolder(folder);
    movedTo = target;
    PruneSettingsHistory(folder, now);
    return 1;
}

int CopyToSettingsHistory(const std::string& path, const std::string& dataFolder,
                          const std::string& device, const std::string& serial, time_t now,
                          std::string& copiedTo) {
    std::string folder, target;
    if (const int ready =
            PrepareHistoryEntry(path, dataFolder, device, serial, now, folder, target);
        ready != 1) {
        return ready;
    }
    const int rc = CopyFile(path, target);
    if (rc < 0) return rc;
    platform::SyncFolder(folder);
    copiedTo = target;
    PruneSettingsHistory(folder, now);
    return 1;
}

int PruneSettingsHistory(const std::string& historyFolder, time_t now) {
    DIR* dir = opendir(historyFolder.c_str());
    if (!dir) return 0;
    std::vector<std::pair<time_t, std::string>> files;
    while (const dirent* entry = readdir(dir)) {
        time_t when = 0;
        if (HistoryFileTime(entry->d_name, when)) files.emplace_back(when, entry->d_name);
    }
    closedir(dir);
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second > b.second;
    });
    int removed = 0;
    for (size_t i = kHistoryKeepFiles; i < files.size(); ++i) {
        if (now - files[i].first < kHistoryKeepSeconds) continue;
        const std::string file = historyFolder + FolderSeparator() + files[i].second;
        struct stat st {};
        if (platform::StatNoFollow(file.c_str(), st) == 0 && S_ISREG(st.st_mode) &&
            unlink(file.c_str()) == 0) {
            ++removed;
        }
    }
    return removed;
}

std::string ShellWord(const std::string& text) {
    bool safe = !text.empty();
    for (char c : text) {
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              (c != '\0' && strchr("_./:=@%+,-", c)))) {
            safe = false;
        }
    }
    if (safe) return text;
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace tarsa::app
