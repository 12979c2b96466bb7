#pragma once
// The per-request context handed to every route.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Clock.h"
#include "config/SettingValues.h"

namespace tav {

class CBregOnig;
class CDatCache;
class DrivenReader;
class IShell;
struct ApiSessionCache;

// Codes of route steps that end in something other than a plain failure.
inline constexpr int kStatusFtpBug = -99;     // "ftp:// bug thread ?"
inline constexpr int kStatusPastLog = -999;   // "過去ログ"

struct CGateway {
  const CBregOnig* regex = nullptr;             // the pattern engine; none: regex mode is off
  ApiSessionCache* apiSession = nullptr;        // the board API's session, shared by all workers
  DrivenReader* drivenReader = nullptr;         // the second reader instance of the local route
  std::shared_ptr<const SettingValues> cfg;     // the values for this request
  IShell* shell = nullptr;
  CDatCache* datCache = nullptr;
  const Clock* clock = &Clock::System();
  int readerSocket = -1;
  std::uint32_t requestId = 0;
  bool closeAfter = false;                      // close the reader connection after this answer
  bool overload = false;                        // the board answered with its overload page
  std::uint32_t errorDetail = 0;                // last error of the upstream client
  const std::atomic<bool>* cancel = nullptr;    // set when the server shuts down

  bool Cancelled() const { return cancel != nullptr && cancel->load(std::memory_order_relaxed); }
};

}  // namespace tav
