#pragma once
// The board API's session id, shared by every worker and never saved.

#include <cstdint>
#include <mutex>
#include <string>

namespace tav {

struct ApiSessionCache {
  std::mutex mutex;              // guards both fields
  std::string sessionId;         // narrow text
  std::int64_t sessionTime = 0;  // seconds since 1970 of the last login attempt
};

}  // namespace tav
