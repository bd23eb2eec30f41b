#include "app/settings_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace tarsa::app {
namespace {

std::string HomeFolder() {
    const char* home = getenv("HOME");
    return home && home[0] ? home : ".";
}

std::string OneLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c != '\r' && c != '\n') out += c;
    }
    return out;
}

}  // namespace

IniFileStore::IniFileStore(std::string path) : path_(std::move(path)) {
    std::ifstream in(path_);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0 || line[0] == '#' || line[0] == ';') continue;
        values_[line.substr(0, eq)] = line.substr(eq + 1);
    }
}

bool IniFileStore::ReadBool(const std::string& name, bool& value) const {
    auto it = values_.find(name);
    if (it == values_.end()) return false;
    value = it->second == "1" || it->second == "true";
    return true;
}

bool IniFileStore::ReadString(const std::string& name, std::string& value) const {
    auto it = values_.find(name);
    if (it == values_.end()) return false;
    value = it->second;
    return true;
}

void IniFileStore::WriteBool(const std::string& name, bool value) {
    values_[OneLine(name)] = value ? "1" : "0";
}

void IniFileStore::WriteString(const std::string& name, const std::string& value) {
    values_[OneLine(name)] = OneLine(value);
}

bool IniFileStore::Flush() {
    size_t slash = path_.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(path_.substr(0, slash))) {
        return false;
    }
    std::string temp = path_ + ".temp";
    FILE* f = fopen(temp.c_str(), "wb");
    if (!f) return false;
    fchmod(fileno(f), 0600);
    bool ok = true;
    for (const auto& [name, value] : values_) {
        ok = fprintf(f, "%s=%s\n", name.c_str(), value.c_str()) >= 0 && ok;
    }
    ok = fflush(f) == 0 && ok;
    ok = fsync(fileno(f)) == 0 && ok;
    ok = fclose(f) == 0 && ok;
    if (!ok || rename(temp.c_str(), path_.c_str()) != 0) {
        remove(temp.c_str());
        return false;
    }
    return true;
}

std::string UserConfigPath(const std::string& fileName) {
    const char* xdg = getenv("XDG_CONFIG_HOME");
    std::string base = xdg && xdg[0] == '/' ? xdg : HomeFolder() + "/.config";
    return base + "/Corvane Devices, Inc/" + fileName;
}

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
