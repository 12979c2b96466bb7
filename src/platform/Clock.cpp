#include "platform/Clock.h"

#include <ctime>

namespace tav {

std::int64_t Clock::UnixSeconds() const { return static_cast<std::int64_t>(std::time(nullptr)); }

const Clock& Clock::System() {
  static const Clock clock;
  return clock;
}

}  // namespace tav
