#pragma once
// A front end for tests: remembers everything the core asked it to show.

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "shell/CoreShell.h"

namespace tav::test {

class RecordingShell : public CoreShell {
 public:
  using CoreShell::CoreShell;

  void OpenFtpBugDialog(const std::string& server, const std::string& board, const std::string& thread) override;

  std::vector<LogRow> FinishedRows() const;
  // Waits until at least `count` rows have finished; false on time-out.
  bool WaitForFinishedRows(std::size_t count, int timeoutMs = 5000) const;
  std::vector<std::u16string> Warnings() const;
  std::vector<std::u16string> Statuses() const;
  std::vector<std::u16string> Messages() const;
  std::vector<std::u16string> Balloons() const;
  std::vector<int> TrayStates() const;
  std::vector<std::string> FtpBugDialogs() const;

 protected:
  void PresentTrayState(int state) override;
  void PresentStatus(const std::u16string& text) override;
  void PresentWarning(const std::u16string& text) override;
  void PresentMessage(const std::u16string& caption, const std::u16string& text) override;
  void PresentBalloon(const std::u16string& text) override;
  void OnRowFinished(const LogRow& row) override;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<LogRow> finished_;
  std::vector<std::u16string> warnings_, statuses_, messages_, balloons_;
  std::vector<int> trayStates_;
  std::vector<std::string> ftpBugDialogs_;
};

}  // namespace tav::test
