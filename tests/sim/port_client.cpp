// Raw pty client for the simulator tests.
#include "sim/port_client.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace tarsa::sim::test {

long long MonoMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

PortClient::~PortClient() {
    Close();
}

bool PortClient::Open(const std::string& path, speed_t baud) {
    Close();
    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    return SetBaud(baud);
}

void PortClient::Close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool PortClient::SetBaud(speed_t baud) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return false;
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, baud);
    ::cfsetospeed(&tio, baud);
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

bool PortClient::Send(std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
            continue;
        }
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string PortClient::ReadUntil(std::string_view until, int timeoutMs) {
    std::string got;
    long long end = MonoMs() + timeoutMs;
    eof = false;
    readErrno = 0;
    for (;;) {
        if (!until.empty() && got.find(until) != std::string::npos) return got;
        long long left = end - MonoMs();
        if (left <= 0) return got;
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, static_cast<int>(left));
        if (r <= 0) continue;
        char buf[1024];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            got.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            eof = true;
            readErrno = n == 0 ? 0 : errno;
            return got;
        }
    }
}

std::string PortClient::ReadFor(int ms) {
    return ReadUntil({}, ms);
}

std::string PortClient::Ask(std::string_view command, int timeoutMs) {
    if (!Send(command)) return {};
    return ReadUntil(">", timeoutMs);
}

std::vector<Section> ReadTiTxtText(const std::string& text) {
    std::istringstream in(text);
    std::vector<Section> sections;
    std::string token;
    while (in >> token) {
        if (token == "q") break;
        if (token[0] == '@') {
            sections.push_back(
                {static_cast<uint32_t>(std::stoul(token.substr(1), nullptr, 16)), {}});
        } else if (!sections.empty()) {
            sections.back().bytes.push_back(static_cast<uint8_t>(std::stoul(token, nullptr, 16)));
        }
    }
    return sections;
}

}  // namespace tarsa::sim::test
