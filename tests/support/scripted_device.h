// A byte-level scripted device on the master side of a pty, for tests of a
// single protocol layer. A framing rule cuts what the host sends into
// messages (by default a line up to and including its carriage return, or a
// lone "P"); each one is handed to a script that returns the bytes to answer
// (empty: silence). Every message is recorded with its arrival time and the
// line speed the host had set, and every byte as it came, so tests can check
// the exact bytes and the pauses between them. For whole-device behaviour use
// the simulator instead.
#pragma once

#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
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

    // What the byte just added to `pending` makes of it: nothing yet, a
    // message for the script, or a mark that is recorded but never answered.
    // `last` is the text recorded last ("" when nothing is).
    enum class Cut { kMore, kMessage, kMark };
    using Framing = Cut (*)(std::string& pending, const std::string& last);

    struct Event {
        std::string text;
        speed_t speed;  // the host's line speed when it arrived
        long atMs;      // since the device was made
    };

    static Cut LinesAndLoneP(std::string& pending, const std::string&) {
        return pending == "P" || pending.back() == '\r' ? Cut::kMessage : Cut::kMore;
    }

    explicit ScriptedDevice(Script script, Framing framing = LinesAndLoneP)
        : script_(std::move(script)), framing_(framing) {
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

    std::vector<Event> Events() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    // The texts of the events only, in order.
    std::vector<std::string> Messages() const {
        std::vector<std::string> out;
        for (const Event& e : Events()) out.push_back(e.text);
        return out;
    }
    std::vector<speed_t> Speeds() const {
        std::vector<speed_t> out;
        for (const Event& e : Events()) out.push_back(e.speed);
        return out;
    }
    std::string Raw() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return raw_;
    }
    void SetScript(Script script) {
        std::lock_guard<std::mutex> lock(mutex_);
        script_ = std::move(script);
    }
    // Forgets what was recorded so far.
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.clear();
        raw_.clear();
    }

  private:
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
                std::string reply;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    raw_ += buf[i];
                    pending += buf[i];
                    const Cut cut = framing_(pending, events_.empty() ? "" : events_.back().text);
                    if (cut == Cut::kMore) continue;
                    events_.push_back({pending, pty_.SlaveSpeed(), Now()});
                    if (cut == Cut::kMessage && script_) reply = script_(pending);
                    pending.clear();
                }
                if (!reply.empty()) pty_.Send(reply);
            }
        }
    }
    long Now() const {
        return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start_)
                                     .count());
    }

    PtyPair pty_;
    Script script_;
    Framing framing_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    mutable std::mutex mutex_;
    std::vector<Event> events_;
    std::string raw_;
    int stop_ = -1;
    std::thread thread_;
};

}  // namespace tarsa::test
