#include "log/tarsa_log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace tarsa {
namespace {

namespace fs = std::filesystem;

class LogFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tarsa_log_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = (dir_ / "Talox Firmware Updater.errors.txt").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Contents() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    void WriteRaw(const std::string& path, const std::string& bytes) const {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
    }

    fs::path dir_;
    std::string path_;
};

TEST(LogStampTest, DayAndHourHaveNoLeadingZeroMinutesAndSecondsHaveTwoDigits) {
    EXPECT_EQ(LogStamp(5, 2, 2026, 14, 7, 9), "5 Mar 2026 14:07:09");
    EXPECT_EQ(LogStamp(7, 11, 2026, 9, 5, 3), "7 Dec 2026 9:05:03");
    EXPECT_EQ(LogStamp(31, 0, 2027, 0, 0, 0), "31 Jan 2027 0:00:00");
}

TEST_F(LogFileTest, LineIsStampTagMessageAndCrLfAndCountMatchesBytes) {
    TarsaLog log(path_.c_str(), 30, false);
    int n = log.Write(1, "COM3", "TSOpen failed to open comm port (error %d)", 2);
    std::string text = Contents();
    EXPECT_EQ(static_cast<size_t>(n), text.size());
    std::regex line(
        R"(^[1-9][0-9]? (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [0-9]{4} )"
        R"((1?[0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9] - COM3: TSOpen failed to open comm port \(error 2\)\r\n$)");
    EXPECT_TRUE(std::regex_match(text, line)) << text;
}

TEST_F(LogFileTest, EmptyTagAndMessageStillWriteStampSeparatorsAndLineEnd) {
    TarsaLog log(path_.c_str(), 30, false);
    log.Write(1, "", "%s", "");
    log.Write(1, nullptr, nullptr);
    std::string text = Contents();
    std::regex lines(R"(^([^\r\n]+ - : \r\n){2}$)");
    EXPECT_TRUE(std::regex_match(text, lines)) << text;
}

TEST_F(LogFileTest, AppendsAcrossObjectsAndEraseStartsFresh) {
    {
        TarsaLog log(path_.c_str(), 30, false);
        log.Write(1, "a", "one");
    }
    {
        TarsaLog log(path_.c_str(), 30, false);
        log.Write(1, "a", "two");
    }
    std::string text = Contents();
    EXPECT_NE(text.find("a: one\r\n"), std::string::npos);
    EXPECT_NE(text.find("a: two\r\n"), std::string::npos);
    TarsaLog fresh(path_.c_str(), 30, true);
    EXPECT_EQ(fresh.Size(), -ENOENT);
}

TEST_F(LogFileTest, LevelFiltersMessagesAndInvalidLevelsAreRefused) {
    TarsaLog quiet(path_.c_str(), 1, false);
    EXPECT_EQ(quiet.Write(10, "t", "progress"), 0);
    EXPECT_EQ(quiet.Write(30, "t", "detail"), 0);
    EXPECT_EQ(quiet.Write(40, "t", "bytes"), 0);
    EXPECT_GT(quiet.Write(1, "t", "outcome"), 0);

    TarsaLog verbose(path_.c_str(), 30, false);
    EXPECT_GT(verbose.Write(30, "t", "detail"), 0);
    EXPECT_EQ(verbose.Write(40, "t", "bytes"), 0);

    TarsaLog odd(path_.c_str(), 7, false);
    EXPECT_EQ(odd.Level(), 1u);
    EXPECT_FALSE(odd.SetLevel(20));
    EXPECT_EQ(odd.Level(), 1u);
    EXPECT_TRUE(odd.SetLevel(40));
    EXPECT_GT(odd.Write(40, "t", "bytes"), 0);
    EXPECT_TRUE(odd.SetLevel(0));
    EXPECT_EQ(odd.Write(1, "t", "outcome"), 0);
    EXPECT_GT(odd.Write(0, "t", "zero"), 0);
}

TEST_F(LogFileTest, UnwritableFileLosesTheLineAndSizeReportsTheError) {
    std::string bad = (dir_ / "no such folder" / "log.txt").string();
    TarsaLog log(bad.c_str(), 30, false);
    EXPECT_EQ(log.Write(1, "t", "lost"), 0);
    EXPECT_EQ(log.Size(), -ENOENT);
    EXPECT_FALSE(log.KeepTail(100));
}

TEST_F(LogFileTest, SizeIsTheFileLength) {
    TarsaLog log(path_.c_str(), 30, false);
    int a = log.Write(1, "t", "first");
    int b = log.Write(1, "t", "second %d", 2);
    EXPECT_EQ(log.Size(), a + b);
}

TEST_F(LogFileTest, KeepTailLeavesAShortFileAlone) {
    WriteRaw(path_, "line one\r\nline two\r\n");
    TarsaLog log(path_.c_str(), 30, false);
    EXPECT_TRUE(log.KeepTail(32768));
    EXPECT_EQ(Contents(), "line one\r\nline two\r\n");
}

TEST_F(LogFileTest, KeepTailKeepsOnlyWholeLinesFromTheLastBytes) {
    std::string text;
    for (int i = 0; i < 200; ++i) text += "line number " + std::to_string(i) + "\r\n";
    WriteRaw(path_, text);
    TarsaLog log(path_.c_str(), 30, false);
    ASSERT_TRUE(log.KeepTail(100));
    std::string kept = Contents();
    EXPECT_LE(kept.size(), 100u);
    EXPECT_FALSE(kept.empty());
    EXPECT_EQ(kept.rfind("line number ", 0), 0u) << "kept text starts mid-line: " << kept;
    EXPECT_EQ(text.substr(text.size() - kept.size()), kept);
    EXPECT_FALSE(fs::exists(path_ + ".temp"));
}

TEST_F(LogFileTest, KeepTailOverwritesAStaleWorkFileInsteadOfAppendingToIt) {
    std::string text;
    for (int i = 0; i < 50; ++i) text += "entry " + std::to_string(i) + "\r\n";
    WriteRaw(path_, text);
    WriteRaw(path_ + ".temp", "LEFT OVER FROM A CRASH\r\n");
    TarsaLog log(path_.c_str(), 30, false);
    ASSERT_TRUE(log.KeepTail(40));
    std::string kept = Contents();
    EXPECT_EQ(kept.find("LEFT OVER"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - kept.size()), kept);
}

TEST_F(LogFileTest, KeepTailWithoutWritableWorkFileLeavesTheLogUntouched) {
    std::string text(5000, 'x');
    text += "\r\nlast\r\n";
    WriteRaw(path_, text);
    fs::create_directory(path_ + ".temp");  // the work file cannot be created
    TarsaLog log(path_.c_str(), 30, false);
    EXPECT_FALSE(log.KeepTail(100));
    EXPECT_EQ(Contents(), text);
}

}  // namespace
}  // namespace tarsa
