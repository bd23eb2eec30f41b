// Test support for the logger protocol: a scripted device on a real pty that
// also takes the radio modem's "+++" (which has no carriage return) as a
// message, and a fixture that opens a link on it with a log file to inspect.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "link/logger_connection.h"
#include "link/terrel_protocol.h"
#include "log/tarsa_log.h"
#include "support/scripted_device.h"

namespace tarsa::test {

// Lines up to their carriage return, and the radio modem's "+++", which has
// none.
inline ScriptedDevice::Cut LinesAndEscape(std::string& pending, const std::string&) {
    return pending.back() == '\r' || pending == "+++" ? ScriptedDevice::Cut::kMessage
                                                      : ScriptedDevice::Cut::kMore;
}

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
        device_ = std::make_unique<ScriptedDevice>(nullptr, LinesAndEscape);
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
    void Script(ScriptedDevice::Script script) { device_->SetScript(std::move(script)); }
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
    std::unique_ptr<ScriptedDevice> device_;
    std::unique_ptr<Terrel_Protocol> link_;
};

}  // namespace tarsa::test
