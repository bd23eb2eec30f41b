// The data folder on POSIX systems, after the XDG base-directory rules.
#include <cstdlib>

#include "app/paths.h"

namespace tarsa::app {

std::string DataFolder(const std::string& fallback) {
    const char* xdg = getenv("XDG_DATA_HOME");
    const char* home = getenv("HOME");
    std::string base =
        xdg && xdg[0] == '/' ? xdg : std::string(home && home[0] ? home : ".") + "/.local/share";
    std::string folder = base + "/Corvane/TarsaBSL";
    return MakeFolders(folder) ? folder : fallback;
}

const char* FolderSeparator() {
    return "/";
}

}  // namespace tarsa::app
