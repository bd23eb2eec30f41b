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

std::string ReadCapped(const std::string& path, size_t cap) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string text(cap, '\0');
    in.read(text.data(), static_cast<std::streamsize>(cap));
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

}  // namespace

std::string OperatingSystemDescription() {
    std::string osRelease = ReadCapped("/etc/os-release", kMaxOsReleaseBytes);
    if (osRelease.empty()) osRelease = ReadCapped("/usr/lib/os-release", kMaxOsReleaseBytes);
    struct utsname u {};
    const std::string release = uname(&u) == 0 ? u.release : "";
    return LinuxOsDescription(osRelease, release);
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
