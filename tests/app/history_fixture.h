// A data folder with an empty settings history, for the history's tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "support/test_env.h"

namespace tarsa::app {

constexpr time_t kNow = 1796688000;  // 2026-12-08 00:00:00 UTC
constexpr time_t kDay = 24 * 3600;

class History : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = tarsa::test::MakeTempFolder("tarsa_hist_");
        ASSERT_FALSE(dir_.empty());
        std::filesystem::create_directories(dir_ / "history");
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    void Put(const std::string& name) { std::ofstream(dir_ / "history" / name) << "x"; }
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir_ / "history"))
            names.insert(e.path().filename().string());
        return names;
    }

    std::filesystem::path dir_;
};

}  // namespace tarsa::app
