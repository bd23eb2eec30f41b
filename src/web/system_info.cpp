// Operating-system description, MIME table lookup, program path and browser
// start on Linux.
#include "web/system_info.h"

#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

namespace tarsa {

namespace {

constexpr size_t kMaxOsReleaseBytes = 16 * 1024;
constexpr size_t kMaxMimeTableBytes = 1024 * 1024;
constexpr size_t kMaxNameChars = 100;

std::string ReadCapped(const std::string& path, size_t cap) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string text(cap, '\0');
    in.read(text.data(), static_cast<std::streamsize>(cap));
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

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

std::string OperatingSystemDescription() {
    std::string osRelease = ReadCapped("/etc/os-release", kMaxOsReleaseBytes);
    if (osRelease.empty()) osRelease = ReadCapped("/usr/lib/os-release", kMaxOsReleaseBytes);
    struct utsname u {};
    const std::string release = uname(&u) == 0 ? u.release : "";
    return LinuxOsDescription(osRelease, release);
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

std::string MimeTypeForFile(const std::string& fileName, const std::string& tablePath) {
    return MimeTypeFromTable(fileName, ReadCapped(tablePath, kMaxMimeTableBytes));
}

std::string ProgramFilePath() {
    std::vector<char> buf(PATH_MAX + 1);
    const ssize_t n = readlink("/proc/self/exe", buf.data(), PATH_MAX);
    return n > 0 ? std::string(buf.data(), static_cast<size_t>(n)) : std::string();
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool LaunchBrowser(const std::string& url, const std::string& opener, int waitMs) {
    std::vector<char> arg0(opener.begin(), opener.end());
    arg0.push_back('\0');
    std::vector<char> arg1(url.begin(), url.end());
    arg1.push_back('\0');
    char* argv[] = {arg0.data(), arg1.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, arg0.data(), nullptr, nullptr, argv, environ) != 0) return false;

    int status = 0;
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        int ready;
        do {
            ready = poll(&p, 1, waitMs);
        } while (ready < 0 && errno == EINTR);
        close(pidfd);
        if (ready == 0) {
            // Still running: a browser in the foreground. Reap it when it ends.
            std::thread([pid] {
                int s = 0;
                while (waitpid(pid, &s, 0) < 0 && errno == EINTR) {
                }
            }).detach();
            return true;
        }
    }
    pid_t done;
    do {
        done = waitpid(pid, &status, 0);
    } while (done < 0 && errno == EINTR);
    return done == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace tarsa
