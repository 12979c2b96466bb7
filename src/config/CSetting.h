#pragma once
// The process-wide settings object: the published snapshot of the values,
// the INI file behind them, the dispatch lock, the API session cache and the
// regular-expression bridge.
//
// Workers take one snapshot per request (Snapshot()) and never see a value
// change under them; the main thread edits a copy and publishes it whole.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "config/SettingValues.h"

namespace tav {

class CBregOnig;
class DrivenReader;

// Session id of the board API shared by all workers, never saved.
struct ApiSessionCache {
  std::mutex mutex;            // guards both fields
  std::string sessionId;       // narrow text
  std::int64_t sessionTime = 0;  // seconds since 1970 of the last login attempt
};

class CSetting {
 public:
  // Built-in defaults; `loadRegexEngine` false builds the object as if the
  // regular-expression library were missing.
  explicit CSetting(bool loadRegexEngine = true);
  virtual ~CSetting();
  CSetting(const CSetting&) = delete;
  CSetting& operator=(const CSetting&) = delete;

  std::shared_ptr<const SettingValues> Snapshot() const;
  // Main thread only: replaces the values seen by every later Snapshot().
  void Publish(SettingValues values);
  template <typename Edit>
  void Update(Edit edit) {
    SettingValues copy = *Snapshot();
    edit(copy);
    Publish(std::move(copy));
  }

  // Reads the INI file at `path` (stored even when the file is missing).
  // 0 on success, -1 when the file does not exist.
  int Load(const std::string& path);
  // Writes every key to the stored path (beside it first, then renamed over
  // the old file). -1 when no path is stored or the file cannot be written.
  int Save();
  const std::string& IniPath() const { return iniPath_; }
  // Values the last Load refused, one line each, for the user to see.
  const std::vector<std::u16string>& LoadWarnings() const { return loadWarnings_; }

  // Column order 0..7 and the default widths.
  void ResetColumns();

  std::recursive_mutex& DispatchLock() { return dispatchLock_; }
  ApiSessionCache& Session() { return session_; }
  CBregOnig& Bregexp() { return *bregexp_; }
  const CBregOnig& Bregexp() const { return *bregexp_; }
  // The reader instance driven by the local dat route; its main window is
  // sent a close message when this object goes.
  DrivenReader& Reader() { return *drivenReader_; }

  // Stored form of the Ronin password: each byte XOR its position, Base64.
  static std::string EncodePassword(std::string_view password);
  static std::string DecodePassword(std::string_view stored);

 private:
  mutable std::mutex snapshotMutex_;
  std::shared_ptr<const SettingValues> snapshot_;
  std::string iniPath_;
  std::vector<std::u16string> loadWarnings_;
  std::recursive_mutex dispatchLock_;
  ApiSessionCache session_;
  std::unique_ptr<CBregOnig> bregexp_;
  std::unique_ptr<DrivenReader> drivenReader_;
};

}  // namespace tav
