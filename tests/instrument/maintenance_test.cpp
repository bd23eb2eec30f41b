// Battery check, firmware self-check, data erase and clock.
#include <cstdlib>
#include <ctime>

#include "instrument_test_support.h"
#include "serial/timing.h"

namespace tarsa::test {
namespace {

using Maintenance = InstrumentFixture;

ScriptedDevice::Script Instrument(const char* identity,
                                  std::map<std::string, std::string> answers) {
    return [identity, answers](const std::string& m) {
        if (m == "get -ver\r") return Answer(identity);
        const auto it = answers.find(m);
        return it == answers.end() ? Answer("Unsupported") : it->second;
    };
}

TEST_F(Maintenance, BatteryReadsThePercentOrReportsWhyNot) {
    ASSERT_EQ(StartAndConnect(Instrument("TK 1.00", {{"get -batt\r", Answer(" 57")}})), 1);
    EXPECT_EQ(TPCheckBattery(*tp_, nullptr), kTPMissingArgument);
    EXPECT_EQ(device_->Messages().back(), "get -ver\r");  // nothing sent

    int32_t percent = 0;
    EXPECT_EQ(TPCheckBattery(*tp_, &percent), 1);
    EXPECT_EQ(percent, 57);
    EXPECT_TRUE(Logged("TPCheckBattery: 57% battery"));

    device_->SetScript(Instrument("TK 1.00", {{"get -batt\r", Answer("low")}}));
    percent = 33;
    EXPECT_EQ(TPCheckBattery(*tp_, &percent), kTPBadAnswer);
    EXPECT_EQ(percent, 33);
    EXPECT_TRUE(Logged("TPCheckBattery failed to parse battery power"));

    device_->SetScript(Instrument("TK 1.00", {}));
    EXPECT_EQ(TPCheckBattery(*tp_, &percent), kDCRejected);
    EXPECT_EQ(percent, -1);
}

TEST_F(Maintenance, FirmwareCheckRetriesAfterAnUnclearAnswer) {
    int posts = 0;
    ASSERT_EQ(StartAndConnect([&posts](const std::string& m) {
                  if (m == "get -ver\r") return Answer("H8 2.05");
                  if (m == "post -init\r")
                      return ++posts == 1 ? Answer("hmm") : Answer("Code Good!");
                  return Answer("Unsupported");
              }),
              1);
    const uint32_t start = TickMs();
    EXPECT_EQ(TPCheckFirmware(*tp_, 1), 1);
    EXPECT_EQ(posts, 2);
    EXPECT_GE(TickMs() - start, 1000u);
    EXPECT_TRUE(Logged("TPCheckFirmware can't determine firmware code status"));
    EXPECT_TRUE(Logged("TPCheckFirmware: Device reports good firmware code!"));
}

TEST_F(Maintenance, FirmwareCheckNeverRetriesACorruptAnswer) {
    ASSERT_EQ(StartAndConnect(Instrument("TK 1.00", {{"post\r", Answer("Code Corrupt!")}})), 1);
    const size_t before = device_->Messages().size();
    EXPECT_EQ(TPCheckFirmware(*tp_, 0), kTPCorruptFirmware);
    EXPECT_EQ(device_->Messages().size() - before, 1u);
}

TEST_F(Maintenance, EraseAnswersByTypeAndReportsABrokenDataFlash) {
    ASSERT_EQ(StartAndConnect(Instrument("HMINI 1.20", {{"yes\r", Answer("OK")}})), 1);
    const size_t before = device_->Messages().size();
    EXPECT_EQ(TPEraseData(*tp_), kTPNotApplicable);  // the Hygra Mini has no data erase
    EXPECT_EQ(device_->Messages().size(), before);

    TPDisconnect(*tp_, false);
    ASSERT_EQ(StartAndConnect(Instrument("TK 1.00", {{"yes\r", Answer("DataFlash FAIL")}})), 1);
    EXPECT_EQ(TPEraseData(*tp_), kTPDataFlash);
    EXPECT_TRUE(Logged("TPEraseData failed due to a broken DataFlash"));
    device_->SetScript(Instrument("TK 1.00", {{"yes\r", Answer("OK")}}));
    EXPECT_EQ(TPEraseData(*tp_), 1);
    device_->SetScript(Instrument("TK 1.00", {{"yes\r", Answer("done")}}));
    EXPECT_EQ(TPEraseData(*tp_), kTPBadAnswer);
}

class ClockTest : public InstrumentFixture {
  protected:
    void SetUp() override {
        InstrumentFixture::SetUp();
        const char* tz = getenv("TZ");
        if (tz) savedTz_ = tz;
        hadTz_ = tz != nullptr;
        setenv("TZ", "XST-3", 1);  // three hours east of UTC, no daylight saving
        tzset();
    }
    void TearDown() override {
        if (hadTz_) {
            setenv("TZ", savedTz_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    std::string savedTz_;
    bool hadTz_ = false;
};

TEST_F(ClockTest, SecondsClockCountsFromTwoThousandLocalTime) {
    std::vector<std::string> lines;
    ASSERT_EQ(StartAndConnect([&lines](const std::string& m) {
                  if (m == "get -ver\r") return Answer("H8 2.05");
                  if (m.rfind("set -sec ", 0) == 0) {
                      lines.push_back(m);
                      return Answer("OK");
                  }
                  return Answer("Unsupported");
              }),
              1);
    // 2000-01-01 00:00:00 at UTC+3 is 1999-12-31 21:00:00 UTC.
    time_t now = 946684800 - 3 * 3600;
    tp_->clock = [&now] { return now; };
    EXPECT_EQ(TPSetTime(*tp_), 1);
    now += 3600;
    EXPECT_EQ(TPSetTime(*tp_), 1);
    EXPECT_EQ(lines, (std::vector<std::string>{"set -sec 0\r", "set -sec 3600\r"}));
    EXPECT_TRUE(Logged("TPSetTime set the time to: 3600"));

    now = static_cast<time_t>(-1);
    EXPECT_EQ(TPSetTime(*tp_), kTPBadAnswer);
    EXPECT_TRUE(Logged("TPSetTime failed to get system time"));
}

TEST_F(ClockTest, NoClockFlagMeansNoExchangeAndNoLogLine) {
    ASSERT_EQ(StartAndConnect(Instrument("HMINI 1.20", {})), 1);
    ASSERT_EQ(tp_->identity.setClock, 0);
    const size_t before = device_->Messages().size();
    const std::string logBefore = LogText();
    EXPECT_EQ(TPSetTime(*tp_), kTPNotApplicable);
    EXPECT_EQ(device_->Messages().size(), before);
    EXPECT_EQ(LogText(), logBefore);
}

}  // namespace
}  // namespace tarsa::test
