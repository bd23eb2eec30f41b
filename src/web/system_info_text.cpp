// The texts of the system description and the MIME table lookup: pure
// functions over what the platform file (system_info.cpp on Linux,
// system_info_win32.cpp on Windows) reads from the system.
#include <fstream>
#include <sstream>

#include "web/system_info.h"
#include "web/system_info_text.h"

namespace tarsa {

namespace {

constexpr size_t kMaxNameChars = 100;

// Printable text only, cut to `cap` bytes.
std::string Clean(const std::string& s, size_t cap) {
    std::string out;
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) continue;
        if (out.size() >= cap) break;
        out += c;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

// The value of KEY in os-release text, quotes and backslash escapes removed.
std::string OsReleaseValue(const std::string& text, const std::string& key) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() <= key.size() || line.compare(0, key.size(), key) != 0 ||
            line[key.size()] != '=')
            continue;
        std::string v = line.substr(key.size() + 1);
        if (!v.empty() && v.back() == '\r') v.pop_back();
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
            const char q = v.front();
            std::string out;
            for (size_t i = 1; i + 1 < v.size(); ++i) {
                if (q == '"' && v[i] == '\\' && i + 2 < v.size()) ++i;
                out += v[i];
            }
            v = out;
        }
        return v;
    }
    return {};
}

// Reads a run of digits at `pos` into `value`; false when there is none or it
// does not fit.
bool ReadNumber(const std::string& s, size_t& pos, unsigned long& value) {
    const size_t start = pos;
    value = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
        if (value > 100000000UL) return false;
        value = value * 10 + static_cast<unsigned long>(s[pos] - '0');
        ++pos;
    }
    return pos > start;
}

}  // namespace

std::string LinuxOsDescription(const std::string& osRelease, const std::string& kernelRelease) {
    std::string name = Clean(OsReleaseValue(osRelease, "PRETTY_NAME"), kMaxNameChars);
    if (name.empty()) {
        name = Clean(OsReleaseValue(osRelease, "NAME"), kMaxNameChars);
        const std::string version = Clean(OsReleaseValue(osRelease, "VERSION"), kMaxNameChars);
        if (!name.empty() && !version.empty()) name += " " + version;
    }
    if (name.empty()) name = "Linux";
    const std::string release = Clean(kernelRelease, 64);
    std::string text = name;
    if (!release.empty()) text += " kernel " + release;

    size_t pos = 0;
    unsigned long major = 0, minor = 0, build = 0;
    if (ReadNumber(release, pos, major) && pos < release.size() && release[pos] == '.' &&
        ReadNumber(release, ++pos, minor)) {
        if (pos < release.size() && release[pos] == '.' && !ReadNumber(release, ++pos, build))
            build = 0;
        text += " (Version " + std::to_string(major) + "." + std::to_string(minor) + " build " +
                std::to_string(build) + ")";
    }
    return text;
}

std::string WindowsOsDescription(uint32_t platform, uint32_t major, uint32_t minor, uint32_t build,
                                 const std::string& servicePack) {
    const std::string version = std::to_string(major) + "." + std::to_string(minor);
    std::string name;
    if (platform == kWin32Windows) {
        if (major != 4) {
            name = "Unknown Win32 ";
        } else if (minor == 0) {
            name = "Windows 95 ";
        } else if (minor == 10) {
            name = "Windows 98 ";
        } else if (minor == 90) {
            name = "Windows ME ";
        }
        build &= 0xFFFF;
    } else if (platform == kWin32Nt) {
        if (major <= 4) {
            name = "Windows NT " + version + " ";
        } else if (major == 5) {
            if (minor == 0) name = "Windows 2000 ";
            if (minor == 1) name = "Windows XP ";
            if (minor == 2) name = "Windows Server 2003 ";
        } else if (major == 6) {
            name = "Windows Vista ";
        } else {
            name = "Unknown WinNT ";
        }
    } else {
        name = "Unknown Windows Platform ";
    }
    return name + Clean(servicePack, 128) + " (Version " + version + " build " +
           std::to_string(build) + ")";
}

std::string MimeTypeFromTable(const std::string& fileName, const std::string& table) {
    const std::string fallback = "application/octet-stream";
    const std::string base = FileNameOf(fileName);
    const size_t dot = base.rfind('.');
    if (dot == std::string::npos || dot + 1 == base.size()) return fallback;
    std::string ext = base.substr(dot + 1);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');

    std::istringstream lines(table);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t hash = line.find('#');
        if (hash != std::string::npos) line.resize(hash);
        std::istringstream words(line);
        std::string type, word;
        if (!(words >> type)) continue;
        while (words >> word) {
            for (char& c : word)
                if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (word == ext) return Clean(type, 127);
        }
    }
    return fallback;
}

}  // namespace tarsa
