#pragma once
// The per-request context handed to every route.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "net/CHttpHeaderInfo.h"
#include "platform/Clock.h"
#include "config/SettingValues.h"

namespace tav {

class CSetting;
class CDatCache;
class IShell;

// Status values of routes (besides 0, the negative local codes and the
// string-table ids of StringTable.h).
inline constexpr int kStatusFailed = 32768;   // "失敗"
inline constexpr int kStatusFtpBug = -99;     // "ftp:// bug thread ?"
inline constexpr int kStatusPastLog = -999;   // "過去ログ"

struct CGateway {
  CSetting* setting = nullptr;                  // dispatch lock, session cache, regex bridge
  std::shared_ptr<const SettingValues> cfg;     // the values for this request
  IShell* shell = nullptr;
  CDatCache* datCache = nullptr;
  const Clock* clock = &Clock::System();
  int readerSocket = -1;
  std::uint32_t requestId = 0;
  CHttpHeaderInfo header;
  int overload = 0;                             // the board reported overload
  std::uint32_t errorDetail = 0;                // last error of the upstream client
  std::string* textAccumulator = nullptr;       // the connection's segment buffer
  const std::atomic<bool>* cancel = nullptr;    // set when the server shuts down

  bool Cancelled() const { return cancel != nullptr && cancel->load(std::memory_order_relaxed); }
};

}  // namespace tav
