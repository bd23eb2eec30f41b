// The fixture of the SDI-12 tests: the real command link's port opened on a
// scripted bus, a TarsaSDI12 object on that link, and a verbose log file.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>

#include "link/terrel_protocol.h"
#include "log/tarsa_log.h"
#include "sdi12/scripted_bus.h"
#include "sdi12/tarsa_sdi12.h"

namespace tarsa::test {

class SdiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        logPath_ = (std::filesystem::temp_directory_path() /
                    ("tarsa_sdi12_" + std::to_string(getpid()) + "_" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt"))
                       .string();
        std::filesystem::remove(logPath_);
        log_ = std::make_unique<TarsaLog>(logPath_.c_str(), 30, false);
    }
    void TearDown() override {
        sdi_.reset();
        link_.reset();
        bus_.reset();
        std::filesystem::remove(logPath_);
    }

    // Starts a bus that answers with `script`; silent tries wait 300 ms.
    void Start(ScriptedDevice::Script script) {
        bus_ = std::make_unique<ScriptedDevice>(std::move(script), BusFraming);
        ASSERT_TRUE(bus_->ok());
        link_ = std::make_unique<Terrel_Protocol>(log_.get());
        ASSERT_EQ(TSOpen(link_->port, bus_->PortPath().c_str(), 9600), kTSOk);
        sdi_ = std::make_unique<TarsaSDI12>(log_.get(), link_.get());
        sdi_->timeoutMs = 300;
    }
    // A sensor that answers each command from a table (changed with Set
    // between exchanges) and ignores the rest.
    void StartTable(std::map<std::string, std::string> replies) {
        table_ = std::move(replies);
        Start([this](const std::string& c) {
            std::lock_guard<std::mutex> lock(tableMutex_);
            auto it = table_.find(c);
            return it == table_.end() ? std::string() : it->second;
        });
    }
    void Set(const std::string& command, const std::string& reply) {
        std::lock_guard<std::mutex> lock(tableMutex_);
        table_[command] = reply;
    }
    // The commands the sensor received, breaks and steering left out.
    std::vector<std::string> Commands() const {
        std::vector<std::string> out;
        for (const std::string& t : bus_->Messages()) {
            if (t.size() > 1 || t == "!") out.push_back(t);
        }
        return out;
    }
    std::string LogText() const {
        std::ifstream in(logPath_, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    bool Logged(const std::string& text) const {
        return LogText().find("TarsaSDI12: " + text + "\r\n") != std::string::npos;
    }

    std::string logPath_;
    std::unique_ptr<TarsaLog> log_;
    std::unique_ptr<ScriptedDevice> bus_;
    std::unique_ptr<Terrel_Protocol> link_;
    std::unique_ptr<TarsaSDI12> sdi_;
    std::mutex tableMutex_;
    std::map<std::string, std::string> table_;
};

}  // namespace tarsa::test
