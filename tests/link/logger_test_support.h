// Test support for the logger protocol: a scripted device on a real pty that
// also takes the radio modem's "+++" (which has no carriage return) as a
// message, and a fixture that opens a link on it with a log file to inspect.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link/logger_connection.h"
#include "link/terrel_protocol.h"
#include "log/tarsa_log.h"
#include "support/pty_pair.h"

namespace tarsa::test {

class LineDevice {
  public:
    using Script = std::function<std::string(const std::string& message)>;

    explicit LineDevice(Script script) : script_(std::move(script)) {
        stop_ = eventfd(0, EFD_CLOEXEC);
        thread_ = std::thread([this] { Run(); });
    }
    ~LineDevice() {
        uint64_t one = 1;
        if (write(stop_, &one, sizeof one) < 0) {
        }
        thread_.join();
        close(stop_);
    }
    LineDevice(const LineDevice&) = delete;
    LineDevice& operator=(const LineDevice&) = delete;

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
    void ClearMessages() {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.clear();
        speeds_.clear();
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
                line += buf[i];
                if (buf[i] == '\r' || line == "+++") {
                    Answer(line);
                    line.clear();
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

// Answer helpers: what application firmware prints for a command.
inline std::string Answer(const std::string& text) {
    return "\r" + text + "\r>";
}
inline std::string Ok() {
    return "\rOK\r>";
}

class LoggerLinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        namespace fs = std::filesystem;
        logPath_ = (fs::temp_directory_path() /
                    ("tarsa_logger_" + std::to_string(getpid()) + "_" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt"))
                       .string();
        fs::remove(logPath_);
        log_ = std::make_unique<TarsaLog>(logPath_.c_str(), 30, false);
        device_ = std::make_unique<LineDevice>(nullptr);
        link_ = std::make_unique<Terrel_Protocol>(log_.get());
        ASSERT_EQ(TSOpen(link_->port, device_->PortPath().c_str(), 9600), kTSOk);
    }
    void TearDown() override {
        link_.reset();
        device_.reset();
        std::filesystem::remove(logPath_);
    }

    // Makes the link believe it is connected by cable to this device.
    void Identify(int type, int version, bool newFirmware = true, const char* name = "LOGGER01") {
        LoggerSettings& s = link_->settings;
        s.typeCode = static_cast<int8_t>(type);
        s.versionNumber = version;
        s.newFirmware = newFirmware ? 1 : 0;
        snprintf(s.versionText, sizeof s.versionText, "%s %d.%02d", DeviceTypeName(type),
                 version / 100, version % 100);
        snprintf(s.typeName, sizeof s.typeName, "%s", DeviceTypeName(type));
        snprintf(s.deviceName, sizeof s.deviceName, "%s", name);
        DeriveCapabilities(*link_);
        link_->connection.linkKind = kLinkCable;
    }
    void SetTries(uint32_t serial, uint32_t radio = 5) {
        LinkOptions options;
        DeviceOptions(*link_, options, 0);
        options.serialTries = serial;
        options.radioTries = radio;
        ASSERT_EQ(DeviceOptions(*link_, options, 1), kDCOk);
    }
    void Script(LineDevice::Script script) { device_->SetScript(std::move(script)); }
    std::vector<std::string> Sent() const { return device_->Messages(); }
    std::string LogText() const {
        std::ifstream in(logPath_, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    bool Logged(const std::string& text) const { return LogText().find(text) != std::string::npos; }

    std::string logPath_;
    std::unique_ptr<TarsaLog> log_;
    std::unique_ptr<LineDevice> device_;
    std::unique_ptr<Terrel_Protocol> link_;
};

}  // namespace tarsa::test
