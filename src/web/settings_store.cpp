// The ini-like settings file.
#include "web/settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tarsa {

namespace {

constexpr size_t kMaxFileBytes = 64 * 1024;

std::string Escape(const std::string& v) {
    std::string out;
    for (char c : v) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::string Unescape(const std::string& v) {
    std::string out;
    for (size_t i = 0; i < v.size() && out.size() < kMaxStoredValueBytes; ++i) {
        if (v[i] == '\\' && i + 1 < v.size()) {
            const char n = v[++i];
            out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
        } else {
            out += v[i];
        }
    }
    return out;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Creates every missing folder of `dir` with mode 0700.
bool MakeFolders(const std::string& dir) {
    for (size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos != dir.size() && dir[pos] != '/') continue;
        const std::string part = dir.substr(0, pos);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> IniFileStore::Load() const {
    std::vector<std::pair<std::string, std::string>> entries;
    std::ifstream in(path_, std::ios::binary);
    if (!in) return entries;
    std::string text(kMaxFileBytes, '\0');
    in.read(text.data(), static_cast<std::streamsize>(kMaxFileBytes));
    text.resize(static_cast<size_t>(in.gcount()));
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0 || line[0] == '[' || line[0] == ';') continue;
        const std::string key = line.substr(0, eq);
        const std::string value = Unescape(line.substr(eq + 1));
        bool replaced = false;
        for (auto& e : entries)
            if (e.first == key) {
                e.second = value;
                replaced = true;
            }
        if (!replaced) entries.emplace_back(key, value);
    }
    return entries;
}

std::string IniFileStore::Read(const std::string& key) {
    for (const auto& e : Load())
        if (e.first == key) return e.second;
    return {};
}

bool IniFileStore::Write(const std::string& key, const std::string& value) {
    if (path_.empty() || key.empty() || key.find_first_of("=\r\n") != std::string::npos)
        return false;
    auto entries = Load();
    const std::string stored = value.substr(0, kMaxStoredValueBytes);
    bool found = false;
    for (auto& e : entries)
        if (e.first == key) {
            e.second = stored;
            found = true;
        }
    if (!found) entries.emplace_back(key, stored);

    const size_t slash = path_.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(path_.substr(0, slash)))
        return false;
    std::string text;
    for (const auto& e : entries) text += e.first + "=" + Escape(e.second) + "\n";
    const std::string work = path_ + ".temp";
    unlink(work.c_str());  // a left-over work file would keep its own mode
    const int fd = open(work.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool ok = WriteAll(fd, text) && fsync(fd) == 0;
    if (close(fd) != 0 || !ok || rename(work.c_str(), path_.c_str()) != 0) {
        unlink(work.c_str());
        return false;
    }
    return true;
}

std::string UserSettingsPath(const std::string& name) {
    std::string base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/') return {};
        base = std::string(home) + "/.config";
    }
    return base + "/Corvane Devices, Inc/" + name + ".ini";
}

std::unique_ptr<SettingsStore> OpenUserSettings(const std::string& name) {
    return std::make_unique<IniFileStore>(UserSettingsPath(name));
}

}  // namespace tarsa
