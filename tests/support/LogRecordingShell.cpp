#include "support/LogRecordingShell.h"

namespace tav::test {

void LogRecordingShell::SetLogCell(std::uint32_t requestId, int column, const std::u16string& text, int) {
  std::lock_guard lock(mutex_);
  writes_.push_back({requestId, column, text});
}

std::vector<LogRecordingShell::CellWrite> LogRecordingShell::Writes() const {
  std::lock_guard lock(mutex_);
  return writes_;
}

std::vector<std::u16string> LogRecordingShell::ColumnHistory(std::uint32_t requestId, int column) const {
  std::lock_guard lock(mutex_);
  std::vector<std::u16string> history;
  for (const auto& write : writes_) {
    if (write.requestId == requestId && write.column == column) history.push_back(write.text);
  }
  return history;
}

std::optional<std::u16string> LogRecordingShell::Cell(std::uint32_t requestId, int column) const {
  const auto history = ColumnHistory(requestId, column);
  if (history.empty()) return std::nullopt;
  return history.back();
}

}  // namespace tav::test
