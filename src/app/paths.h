// Where the program keeps its files: the user's data folder for the log and
// the settings file. The window's persisted options use the user settings
// store of the web layer (web/settings_store.h).
#pragma once

#include <string>

namespace tarsa::app {

// $XDG_DATA_HOME (or ~/.local/share) + "/Corvane/TarsaBSL", created with its
// parents; `fallback` when it cannot be created.
std::string DataFolder(const std::string& fallback);

// Creates `path` and its missing parents (mode 0700). True when it exists.
bool MakeFolders(const std::string& path);

}  // namespace tarsa::app
