#pragma once
// The process-wide settings object: the published snapshot of the values and
// the INI file behind them.
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

class CSetting {
 public:
  // Built-in defaults.
  CSetting();
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
  // 0 on success, -1 when the file does not exist or cannot be read; a file
  // that exists but cannot be read gets a load warning naming it and why,
  // and is kept (see Save).
  int Load(const std::string& path);
  // Writes every key to the stored path (beside it first, then renamed over
  // the old file). A file that Load could not read is first renamed aside to
  // the path + ".unreadable" (then ".unreadable.1" and so on, never replacing
  // an earlier one); when that fails nothing is written. -1 when no path is
  // stored or the file cannot be written.
  int Save();
  const std::string& IniPath() const { return iniPath_; }
  // Values the last Load refused, one line each, for the user to see.
  const std::vector<std::u16string>& LoadWarnings() const { return loadWarnings_; }

  // Column order 0..7 and the default widths.
  void ResetColumns();

  // Stored form of the Ronin password: each byte XOR its position, Base64.
  static std::string EncodePassword(std::string_view password);
  static std::string DecodePassword(std::string_view stored);

 private:
  mutable std::mutex snapshotMutex_;
  std::shared_ptr<const SettingValues> snapshot_;
  std::string iniPath_;
  std::vector<std::u16string> loadWarnings_;
  bool keepUnreadableFile_ = false;  // the stored path names a file Load could not read
};

}  // namespace tav
