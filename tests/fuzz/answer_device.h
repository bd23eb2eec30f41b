// A device for the fuzz targets of device answers: on the master side of a
// pty it answers each message the host sends (a line up to its carriage
// return, an SDI-12 command up to its "!", or a lone "P") with the next piece
// of the fuzz input, followed by the target's terminator so that the host
// need not wait out its time-out. The pieces are separated by kAnswerBreak.
// When the pieces are used up, the next message hangs the line up (the
// master closes), so the host's following wait ends at once.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/pty_pair.h"

namespace tarsa::fuzz {

inline constexpr char kAnswerBreak = '\x1e';

class AnswerDevice {
  public:
    AnswerDevice(const uint8_t* data, size_t size, std::string terminator)
        : terminator_(std::move(terminator)) {
        std::string_view input(reinterpret_cast<const char*>(data), size);
        size_t start = 0;
        for (;;) {
            size_t end = input.find(kAnswerBreak, start);
            answers_.emplace_back(input.substr(start, end - start));
            if (end == std::string_view::npos) break;
            start = end + 1;
        }
        // A host that stops reading must not block the device thread.
        if (pty_.ok()) fcntl(pty_.master(), F_SETFL, fcntl(pty_.master(), F_GETFL) | O_NONBLOCK);
        stop_ = eventfd(0, EFD_CLOEXEC);
        if (pty_.ok() && stop_ >= 0) thread_ = std::thread([this] { Run(); });
    }
    ~AnswerDevice() {
        uint64_t one = 1;
        if (write(stop_, &one, sizeof one) < 0) {
        }
        if (thread_.joinable()) thread_.join();
        if (stop_ >= 0) close(stop_);
    }
    AnswerDevice(const AnswerDevice&) = delete;
    AnswerDevice& operator=(const AnswerDevice&) = delete;

    bool ok() const { return thread_.joinable(); }
    const char* PortPath() const { return pty_.SlavePath().c_str(); }

  private:
    void Run() {
        std::string message;
        struct pollfd fds[2] = {{pty_.master(), POLLIN, 0}, {stop_, POLLIN, 0}};
        for (;;) {
            if (poll(fds, 2, -1) < 0) continue;
            if (fds[1].revents) return;
            char buf[512];
            ssize_t n = read(pty_.master(), buf, sizeof buf);
            if (n <= 0) return;
            for (ssize_t i = 0; i < n; ++i) {
                const char c = buf[i];
                if (c == '|') continue;  // an SDI-12 bus break: nothing to answer
                message += c;
                if (c == '\r' || c == '!' || message == "P") {
                    message.clear();
                    if (!Answer()) return;
                }
            }
        }
    }
    // Sends the next piece; false (and the line hung up) when none is left.
    bool Answer() {
        if (next_ >= answers_.size()) {
            pty_.CloseMaster();
            return false;
        }
        pty_.Send(std::string(answers_[next_++]) + terminator_);
        return true;
    }

    test::PtyPair pty_;
    std::string terminator_;
    std::vector<std::string_view> answers_;
    size_t next_ = 0;
    int stop_ = -1;
    std::thread thread_;
};

}  // namespace tarsa::fuzz
