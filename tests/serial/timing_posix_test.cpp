// The UTC offset in a zone with a daylight-saving rule, which only the POSIX
// form of TZ can give.
#include <gtest/gtest.h>

#include <ctime>

#include "serial/timing.h"
#include "support/test_env.h"

namespace tarsa {
namespace {

TEST(UtcOffsetTest, IncludesDaylightSaving) {
    // Daylight saving all year round, so the extra hour is always in force.
    test::ScopedTimeZone tz("XST-1XDT,J1/0,J365/25");
    const time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    EXPECT_EQ(UtcOffsetSeconds(), local.tm_gmtoff);
    EXPECT_EQ(UtcOffsetSeconds(), 2 * 3600);
}

}  // namespace
}  // namespace tarsa
