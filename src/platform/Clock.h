#pragma once
// Wall clock behind a small interface so that tests can move time.

#include <cstdint>

namespace tav {

class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since 1970-01-01 UTC.
  virtual std::int64_t UnixSeconds() const;

  static const Clock& System();
};

}  // namespace tav
