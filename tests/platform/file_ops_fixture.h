// A fresh temporary folder for the file operations' tests, and small helpers
// to put a file there and read one back.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/file_ops.h"
#include "support/test_env.h"

namespace tarsa::platform {

class FileOps : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = test::MakeTempFolder("tarsa_file_ops_");
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    std::string Path(const char* name) const { return (dir_ / name).string(); }
    std::string Put(const char* name, const std::string& text) const {
        std::ofstream(dir_ / name, std::ios::binary) << text;
        return Path(name);
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // Writes `text` to the descriptor, flushes it to disk and closes it.
    static bool WriteAndClose(int fd, const std::string& text) {
        const bool written = write(fd, text.data(), static_cast<unsigned>(text.size())) ==
                             static_cast<int>(text.size());
        const bool synced = SyncFile(fd) == 0;
        return close(fd) == 0 && written && synced;
    }

    std::filesystem::path dir_;
};

}  // namespace tarsa::platform
