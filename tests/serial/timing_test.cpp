#include "serial/timing.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "support/test_env.h"

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
        std::this_thread::sleep_for(std::chrono::milliseconds(maxWaitMs));
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
        // handles "events" for 30 ms, then returns
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    });
    uint32_t start = TickMs();
    DelayMs(180);
    EXPECT_GE(TickMs() - start, 180u);
    EXPECT_GE(calls, 5);
}

TEST(UtcOffsetTest, MatchesTheZone) {
    struct Zone {
        const char* tz;
        int32_t offset;
    };
    for (const Zone& zone :
         {Zone{"UTC0", 0}, Zone{"EST5", -5 * 3600}, Zone{"NPT-5:45", 5 * 3600 + 45 * 60}}) {
        test::ScopedTimeZone tz(zone.tz);
        EXPECT_EQ(UtcOffsetSeconds(), zone.offset) << zone.tz;
    }
}

}  // namespace
}  // namespace tarsa
