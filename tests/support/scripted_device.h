// A byte-level scripted device on the master side of a pty, for tests of a
// single protocol layer: each message the host sends (a line up to and
// including its carriage return, or a lone "P") is handed to a script that
// returns the bytes to answer. Messages are recorded with the line speed the
// host had set when they arrived. For whole-device behaviour use the
// simulator instead.
#pragma once

#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/pty_pair.h"

namespace tarsa::test {

class ScriptedDevice {
  public:
    using Script = std::function<std::string(const std::string& message)>;

    explicit ScriptedDevice(Script script) : script_(std::move(script)) {
        stop_ = eventfd(0, EFD_CLOEXEC);
        thread_ = std::thread([this] { Run(); });
    }
    ~ScriptedDevice() {
        uint64_t one = 1;
        if (write(stop_, &one, sizeof one) < 0) {
        }
        thread_.join();
        close(stop_);
    }
    ScriptedDevice(const ScriptedDevice&) = delete;
    ScriptedDevice& operator=(const ScriptedDevice&) = delete;

    bool ok() const { return pty_.ok(); }
    const std::string& PortPath() const { return pty_.SlavePath(); }

    std::vector<std::string> Messages() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }
    std::vector<speed_t> Speeds() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return speeds_;
    }
    void SetScript(Script script) {
        std::lock_guard<std::mutex> lock(mutex_);
        script_ = std::move(script);
    }

  private:
    void Run() {
        std::string line;
        struct pollfd fds[2] = {{pty_.master(), POLLIN, 0}, {stop_, POLLIN, 0}};
        for (;;) {
            if (poll(fds, 2, -1) < 0) continue;
            if (fds[1].revents) return;
            char buf[1024];
            ssize_t n = read(pty_.master(), buf, sizeof buf);
            if (n <= 0) return;
            for (ssize_t i = 0; i < n; ++i) {
                char c = buf[i];
                if (c == 'P' && line.empty()) {
                    Answer("P");
                } else {
                    line += c;
                    if (c == '\r') {
                        Answer(line);
                        line.clear();
                    }
                }
            }
        }
    }
    void Answer(const std::string& message) {
        std::string reply;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            messages_.push_back(message);
            speeds_.push_back(pty_.SlaveSpeed());
            reply = script_ ? script_(message) : std::string();
        }
        if (!reply.empty()) pty_.Send(reply);
    }

    PtyPair pty_;
    Script script_;
    mutable std::mutex mutex_;
    std::vector<std::string> messages_;
    std::vector<speed_t> speeds_;
    int stop_ = -1;
    std::thread thread_;
};

}  // namespace tarsa::test
