// Test support for the instrument protocol that needs no device, so that it
// builds on every platform: a temporary folder, a protocol object with its
// log file there to inspect, and whole-file reads and writes.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "instrument/tarsa_protocol.h"
#include "log/tarsa_log.h"
#include "support/test_env.h"

namespace tarsa::test {

class TempFolder {
  public:
    TempFolder() : path_(MakeTempFolder("tarsa-inst-")) {}
    ~TempFolder() {
        if (getenv("KEEP_TMP")) return;  // keep the log for a look after the run
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteAll(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// A protocol object with a log in a temporary folder.
class ProtocolFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        log_ = std::make_unique<TarsaLog>(folder_.File("test.log").c_str(), kLogBytes, true);
        tp_ = std::make_unique<Tarsa_protocol>(log_.get());
    }

    std::string LogText() const { return ReadAll(folder_.File("test.log")); }
    bool Logged(const std::string& text) const { return LogText().find(text) != std::string::npos; }
    size_t LoggedCount(const std::string& text) const {
        const std::string log = LogText();
        size_t n = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
        return n;
    }

    TempFolder folder_;
    std::unique_ptr<TarsaLog> log_;
    std::unique_ptr<Tarsa_protocol> tp_;
};

}  // namespace tarsa::test
