// Operating-system description, MIME types, program path and browser start
// on Windows: RtlGetVersion (which, unlike GetVersionEx, is not bent by the
// program's compatibility manifest), the Content Type values of the
// registry's file classes, GetModuleFileName and ShellExecute.
#include <windows.h>
// shellapi.h needs the types of windows.h first.
#include <shellapi.h>

#include <string>

#include "web/system_info.h"
#include "web/system_info_text.h"

namespace tarsa {

std::string OperatingSystemDescription() {
    using RtlGetVersionCall = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    auto call = ntdll ? reinterpret_cast<RtlGetVersionCall>(
                            reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
                      : nullptr;
    if (!call || call(&info) != 0) return WindowsOsDescription(0, 0, 0, 0, "");
    std::string servicePack;
    for (const wchar_t* c = info.szCSDVersion; *c && servicePack.size() < 127; ++c) {
        servicePack += *c < 0x80 ? static_cast<char>(*c) : '?';
    }
    return WindowsOsDescription(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion,
                                info.dwBuildNumber, servicePack);
}

// The table path names the MIME table of other systems; Windows keeps the
// types in the registry under HKEY_CLASSES_ROOT\.<ext>, value "Content Type".
std::string MimeTypeForFile(const std::string& fileName, const std::string&) {
    const std::string fallback = "application/octet-stream";
    const std::string base = FileNameOf(fileName);
    const size_t dot = base.rfind('.');
    if (dot == std::string::npos || dot + 1 == base.size()) return fallback;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, base.substr(dot).c_str(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return fallback;
    }
    char type[128] = {};
    DWORD size = sizeof type - 1;
    DWORD kind = 0;
    const bool found = RegQueryValueExA(key, "Content Type", nullptr, &kind,
                                        reinterpret_cast<BYTE*>(type), &size) == ERROR_SUCCESS &&
                       kind == REG_SZ;
    RegCloseKey(key);
    type[sizeof type - 1] = '\0';
    // The registry is outside input: a content type is one printable word.
    std::string text;
    for (const char* c = type; found && *c; ++c) {
        if (*c <= ' ' || *c == 0x7F) break;
        text += *c;
    }
    return text.empty() ? fallback : text;
}

std::string ProgramFilePath() {
    char path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::string(path, n) : std::string();
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The shell opens the address in the user's default browser; the opener and
// the wait of other systems have no meaning here.
bool LaunchBrowser(const std::string& url, const std::string&, int) {
    const auto rc = reinterpret_cast<INT_PTR>(
        ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return rc > 32;
}

}  // namespace tarsa
