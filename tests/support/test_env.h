// The environment and temporary folders, for tests that run on every
// platform (test_env_posix.cpp and test_env_win32.cpp implement them).
#pragma once

#include <optional>
#include <string>

namespace tarsa::test {

// Sets the environment variable `name` to `value`, replacing what it held.
void SetEnv(const char* name, const char* value);

// Removes the environment variable `name`.
void UnsetEnv(const char* name);

// Makes a new folder of a unique name that starts with `prefix` in the
// system's temporary folder. Its path, or empty when no folder was made.
std::string MakeTempFolder(const std::string& prefix);

// Sets the time zone (the variable TZ) for the guard's lifetime and gives
// the earlier one back afterwards.
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* tz);
    ~ScopedTimeZone();
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

  private:
    std::optional<std::string> earlier_;
};

}  // namespace tarsa::test
