#include "app/paths.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

namespace tarsa::app {
namespace {

std::string HomeFolder() {
    const char* home = getenv("HOME");
    return home && home[0] ? home : ".";
}

}  // namespace

std::string DataFolder(const std::string& fallback) {
    const char* xdg = getenv("XDG_DATA_HOME");
    std::string base = xdg && xdg[0] == '/' ? xdg : HomeFolder() + "/.local/share";
    std::string folder = base + "/Corvane/TarsaBSL";
    return MakeFolders(folder) ? folder : fallback;
}

bool MakeFolders(const std::string& path) {
    if (path.empty()) return false;
    for (size_t pos = path.find('/', 1);; pos = path.find('/', pos + 1)) {
        std::string partial = path.substr(0, pos);
        if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (pos == std::string::npos) break;
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace tarsa::app
