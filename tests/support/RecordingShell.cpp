#include "support/RecordingShell.h"

#include <chrono>

namespace tav::test {

void RecordingShell::OpenFtpBugDialog(const std::string& server, const std::string& board,
                                      const std::string& thread) {
  std::lock_guard lock(mutex_);
  ftpBugDialogs_.push_back(server + "/" + board + "/" + thread);
}

std::vector<LogRow> RecordingShell::FinishedRows() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

bool RecordingShell::WaitForFinishedRows(std::size_t count, int timeoutMs) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return finished_.size() >= count; });
}

std::vector<std::u16string> RecordingShell::Warnings() const {
  std::lock_guard lock(mutex_);
  return warnings_;
}

std::vector<std::u16string> RecordingShell::Statuses() const {
  std::lock_guard lock(mutex_);
  return statuses_;
}

std::vector<std::u16string> RecordingShell::Messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

std::vector<std::u16string> RecordingShell::Balloons() const {
  std::lock_guard lock(mutex_);
  return balloons_;
}

std::vector<int> RecordingShell::TrayStates() const {
  std::lock_guard lock(mutex_);
  return trayStates_;
}

std::vector<std::string> RecordingShell::FtpBugDialogs() const {
  std::lock_guard lock(mutex_);
  return ftpBugDialogs_;
}

void RecordingShell::PresentTrayState(int state) {
  std::lock_guard lock(mutex_);
  trayStates_.push_back(state);
}

void RecordingShell::PresentStatus(const std::u16string& text) {
  std::lock_guard lock(mutex_);
  statuses_.push_back(text);
}

void RecordingShell::PresentWarning(const std::u16string& text) {
  std::lock_guard lock(mutex_);
  warnings_.push_back(text);
}

void RecordingShell::PresentMessage(const std::u16string& caption, const std::u16string& text) {
  std::lock_guard lock(mutex_);
  messages_.push_back(caption + u"|" + text);
}

void RecordingShell::PresentBalloon(const std::u16string& text) {
  std::lock_guard lock(mutex_);
  balloons_.push_back(text);
}

void RecordingShell::OnRowFinished(const LogRow& row) {
  {
    std::lock_guard lock(mutex_);
    finished_.push_back(row);
  }
  changed_.notify_all();
}

}  // namespace tav::test
