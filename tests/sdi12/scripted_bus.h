// A scripted sensor bus behind a reader in pass-through, on the master side
// of a pty: "|" is a break, a command runs up to its "!", and "]", "[", the
// grave accent and a "P" right after "]" are steering characters for the
// reader. Each command is handed to a script that returns the bytes to answer
// (empty: silence). Every byte and every event is recorded with its arrival
// time, so tests can check the exact bytes and the pauses between them.
#pragma once

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/pty_pair.h"

namespace tarsa::test {

class ScriptedBus {
  public:
    using Script = std::function<std::string(const std::string& command)>;
    struct Event {
        std::string text;  // "|", a command such as "?I!", or a steering character
        long atMs;         // since the bus was created
    };

    explicit ScriptedBus(Script script) : script_(std::move(script)) {
        stop_ = eventfd(0, EFD_CLOEXEC);
        thread_ = std::thread([this] { Run(); });
    }
    ~ScriptedBus() {
        uint64_t one = 1;
        if (write(stop_, &one, sizeof one) < 0) {
        }
        thread_.join();
        close(stop_);
    }
    ScriptedBus(const ScriptedBus&) = delete;
    ScriptedBus& operator=(const ScriptedBus&) = delete;

    bool ok() const { return pty_.ok(); }
    const std::string& PortPath() const { return pty_.SlavePath(); }
    std::vector<Event> Events() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    // The event texts only, in order.
    std::vector<std::string> Texts() const {
        std::vector<std::string> out;
        for (const Event& e : Events()) out.push_back(e.text);
        return out;
    }
    std::string Raw() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return raw_;
    }

    // Forgets what was recorded so far.
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.clear();
        raw_.clear();
    }

  private:
    long Now() const {
        return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start_)
                                     .count());
    }
    void Record(const std::string& text) { events_.push_back({text, Now()}); }

    void Run() {
        std::string pending;
        struct pollfd fds[2] = {{pty_.master(), POLLIN, 0}, {stop_, POLLIN, 0}};
        for (;;) {
            if (poll(fds, 2, -1) < 0) continue;
            if (fds[1].revents) return;
            char buf[1024];
            ssize_t n = read(pty_.master(), buf, sizeof buf);
            if (n <= 0) return;
            for (ssize_t i = 0; i < n; ++i) {
                const char c = buf[i];
                std::string reply;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    raw_ += c;
                    const bool afterBracket = !events_.empty() && events_.back().text == "]";
                    if (c == '|') {
                        pending.clear();
                        Record("|");
                    } else if (pending.empty() &&
                               (c == ']' || c == '[' || c == '`' || (c == 'P' && afterBracket))) {
                        Record(std::string(1, c));
                    } else {
                        pending += c;
                        if (c != '!') continue;
                        Record(pending);
                        reply = script_(pending);
                        pending.clear();
                    }
                }
                if (!reply.empty()) pty_.Send(reply);
            }
        }
    }

    PtyPair pty_;
    Script script_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    mutable std::mutex mutex_;
    std::vector<Event> events_;
    std::string raw_;
    int stop_ = -1;
    std::thread thread_;
};

}  // namespace tarsa::test
