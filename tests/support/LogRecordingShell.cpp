#include "support/LogRecordingShell.h"

#include "net/RouteResult.h"
#include "platform/TextCodec.h"
#include "shell/CoreShell.h"

namespace tav::test {
namespace {
std::u16string Number(std::int64_t n) { return Utf8ToUtf16(std::to_string(n)); }
}  // namespace

void LogRecordingShell::Write(std::uint32_t requestId, int column, const std::u16string& text) {
  std::lock_guard lock(mutex_);
  writes_.push_back({requestId, column, text});
}

void LogRecordingShell::RouteChosen(std::uint32_t requestId, RouteKind route) { Write(requestId, 4, RouteLabel(route)); }

void LogRecordingShell::Connecting(std::uint32_t requestId) {
  Write(requestId, 5, u"接続中...");
  Write(requestId, 6, u"0");
}

void LogRecordingShell::BytesReceived(std::uint32_t requestId, std::int64_t total) { Write(requestId, 6, Number(total)); }

void LogRecordingShell::BytesSent(std::uint32_t requestId, std::int64_t total) { Write(requestId, 7, Number(total)); }

void LogRecordingShell::RequestFinished(std::uint32_t requestId, const RouteResult& result) {
  Write(requestId, 5, ResultText(result));
  if (result.bytesReceived >= 0) Write(requestId, 6, Number(result.bytesReceived));
  Write(requestId, 7, Number(result.bytesSent));
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
