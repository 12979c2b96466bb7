#pragma once
// Sets the process's local time zone (TZ) for the lifetime of the object and
// restores the previous one afterwards. tzset() is called both times, since
// localtime_r does not look at TZ again on its own.

#include <time.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace tav::test {

class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (saved_) {
      ::setenv("TZ", saved_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> saved_;
};

}  // namespace tav::test
