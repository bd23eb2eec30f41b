// The data folder on Windows: the user's application-data folder (made when
// missing) + "\Corvane\TarsaBSL".
#include <windows.h>
// shlobj.h needs the types of windows.h first.
#include <shlobj.h>

#include "app/paths.h"

namespace tarsa::app {

std::string DataFolder(const std::string& fallback) {
    char appData[MAX_PATH] = {};
    if (SHGetFolderPathA(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT,
                         appData) != S_OK) {
        return fallback;
    }
    std::string folder = std::string(appData) + "\\Corvane";
    CreateDirectoryA(folder.c_str(), nullptr);
    folder += "\\TarsaBSL";
    CreateDirectoryA(folder.c_str(), nullptr);
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    const bool made =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return made ? folder : fallback;
}

const char* FolderSeparator() {
    return "\\";
}

}  // namespace tarsa::app
