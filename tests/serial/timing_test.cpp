#include "serial/timing.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace tarsa {
namespace {

class PumpGuard {
  public:
    explicit PumpGuard(MessagePump pump) : previous_(SetMessagePump(std::move(pump))) {}
    ~PumpGuard() { SetMessagePump(std::move(previous_)); }

  private:
    MessagePump previous_;
};

TEST(DelayMsTest, LongPausesWaitThroughThePumpShortOnesDoNot) {
    std::vector<uint32_t> asked;
    PumpGuard guard([&](uint32_t maxWaitMs) {
        asked.push_back(maxWaitMs);
        struct timespec ts {
            0, static_cast<long>(maxWaitMs) * 1000000L
        };
        nanosleep(&ts, nullptr);
    });
    DelayMs(100);
    EXPECT_TRUE(asked.empty());

    uint32_t start = TickMs();
    DelayMs(200);
    EXPECT_GE(TickMs() - start, 200u);
    ASSERT_FALSE(asked.empty());
    EXPECT_LE(asked.front(), 200u);
}

TEST(DelayMsTest, PumpThatReturnsEarlyIsCalledAgainForTheRest) {
    int calls = 0;
    PumpGuard guard([&](uint32_t) {
        ++calls;
        struct timespec ts {
            0, 30 * 1000000L
        };
        nanosleep(&ts, nullptr);  // handles "events" for 30 ms, then returns
    });
    uint32_t start = TickMs();
    DelayMs(180);
    EXPECT_GE(TickMs() - start, 180u);
    EXPECT_GE(calls, 5);
}

class TimeZoneGuard {
  public:
    explicit TimeZoneGuard(const char* tz) {
        const char* old = getenv("TZ");
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~TimeZoneGuard() {
        if (had_) {
            setenv("TZ", old_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

  private:
    bool had_ = false;
    std::string old_;
};

long CurrentGmtOffset() {
    time_t now = time(nullptr);
    struct tm lt {};
    localtime_r(&now, &lt);
    return lt.tm_gmtoff;
}

TEST(UtcOffsetTest, MatchesTheZoneIncludingDaylightSaving) {
    {
        TimeZoneGuard tz("UTC0");
        EXPECT_EQ(UtcOffsetSeconds(), 0);
    }
    {
        TimeZoneGuard tz("EST5");
        EXPECT_EQ(UtcOffsetSeconds(), -5 * 3600);
    }
    {
        // Daylight saving all year round, so the extra hour is always in force.
        TimeZoneGuard tz("XST-1XDT,J1/0,J365/25");
        EXPECT_EQ(UtcOffsetSeconds(), CurrentGmtOffset());
        EXPECT_EQ(UtcOffsetSeconds(), 2 * 3600);
    }
    {
        TimeZoneGuard tz("NPT-5:45");
        EXPECT_EQ(UtcOffsetSeconds(), 5 * 3600 + 45 * 60);
    }
}

}  // namespace
}  // namespace tarsa
