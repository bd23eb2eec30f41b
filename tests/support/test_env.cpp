#include "support/test_env.h"

#include <cstdlib>
#include <ctime>

namespace tarsa::test {

ScopedTimeZone::ScopedTimeZone(const char* tz) {
    if (const char* earlier = std::getenv("TZ")) earlier_ = earlier;
    SetEnv("TZ", tz);
    tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
    if (earlier_) {
        SetEnv("TZ", earlier_->c_str());
    } else {
        UnsetEnv("TZ");
    }
    tzset();
}

}  // namespace tarsa::test
