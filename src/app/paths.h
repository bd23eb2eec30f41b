// Where the program keeps its files: the user's data folder for the log and
// the settings file, and the settings history beneath it. The window's
// persisted options use the user settings store of the web layer
// (web/settings_store.h).
//
// The settings history (<data folder>/history) keeps every settings file the
// program would otherwise replace or delete: a settings file may be the only
// copy of a device's configuration (an update whose restore failed), so it
// is moved there, never overwritten. Each file is named after the device,
// its serial number and the UTC time it was moved,
// "Talox_TX12345_20261208T161834Z.settings.txt", and is readable by its
// owner only. The history keeps the newest kHistoryKeepFiles files and never
// removes one younger than kHistoryKeepSeconds; files whose names are not of
// that form are never touched.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

namespace tarsa::app {

// $XDG_DATA_HOME (or ~/.local/share) + "/Corvane/TarsaBSL" (on Windows the
// application-data folder + "\Corvane\TarsaBSL"), created with its
// parents; `fallback` when it cannot be created.
std::string DataFolder(const std::string& fallback);

// What joins a folder and a file name in the paths the program shows: "/",
// on Windows a backslash.
const char* FolderSeparator();

// Creates `path` and its missing parents (mode 0700). True when it exists.
bool MakeFolders(const std::string& path);

inline constexpr size_t kHistoryKeepFiles = 100;
inline constexpr time_t kHistoryKeepSeconds = 30 * 24 * 3600;

// <data folder>/history.
std::string SettingsHistoryFolder(const std::string& dataFolder);

// The history file name for `device` (a display name) and `serial` at
// `when` (UTC); characters other than letters, digits, '.' and '-' become
// '-', an empty serial "unknown". `copy` > 1 adds "-copy" before the suffix.
std::string HistoryFileName(const std::string& device, const std::string& serial, time_t when,
                            int copy = 1);

// The UTC time in a history file name; false when `name` is not one.
bool HistoryFileTime(const std::string& name, time_t& when);

// Moves the file at `path` into the history folder of `dataFolder` (created
// when missing) under HistoryFileName(device, serial, now), next to and
// never over an existing one, with mode 0600, then prunes the history.
// `movedTo` receives the new path. Returns 1 moved, 0 when there is no file
// at `path`, or -(errno) of the step that failed (the file is then left
// where it was).
int MoveToSettingsHistory(const std::string& path, const std::string& dataFolder,
                          const std::string& device, const std::string& serial, time_t now,
                          std::string& movedTo);

// As MoveToSettingsHistory, but the file at `path` stays where it is and an
// owner-only copy goes into the history; `copiedTo` receives its path.
int CopyToSettingsHistory(const std::string& path, const std::string& dataFolder,
                          const std::string& device, const std::string& serial, time_t now,
                          std::string& copiedTo);

// Removes the oldest history files beyond the newest kHistoryKeepFiles,
// sparing every one younger than kHistoryKeepSeconds at `now`. Returns the
// number removed.
int PruneSettingsHistory(const std::string& historyFolder, time_t now);

// `text` as one word for a POSIX shell: unchanged when it holds only safe
// characters, otherwise in single quotes.
std::string ShellWord(const std::string& text);

}  // namespace tarsa::app
