#pragma once
// A shell for tests that records the access-log events of workers as the
// cell writes they stand for (column, text) and ignores everything else.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "net/IShell.h"

namespace tav::test {

class LogRecordingShell final : public IShell {
 public:
  struct CellWrite {
    std::uint32_t requestId;
    int column;
    std::u16string text;
  };

  // Every cell write, in order.
  std::vector<CellWrite> Writes() const;
  // The texts written to one column of one request's row, in order.
  std::vector<std::u16string> ColumnHistory(std::uint32_t requestId, int column) const;
  // The last text written to that cell, if any.
  std::optional<std::u16string> Cell(std::uint32_t requestId, int column) const;

  void RequestStarted(std::uint32_t, const Request&) override {}
  void RouteChosen(std::uint32_t requestId, RouteKind route) override;
  void Connecting(std::uint32_t requestId) override;
  void BytesReceived(std::uint32_t requestId, std::int64_t total) override;
  void BytesSent(std::uint32_t requestId, std::int64_t total) override;
  void RequestFinished(std::uint32_t requestId, const RouteResult& result) override;
  void RequestRefused(std::string_view, std::string_view, std::size_t) override {}
  void ConnectionRefused(std::string_view) override {}
  void ShowStatus(int) override {}
  void ShowWarning(int, const std::u16string&) override {}
  void ShowMessage(const std::u16string&, const std::u16string&) override {}
  void ShowBalloon(const std::u16string&) override {}
  void ConnectionAccepted() override {}
  void AcceptFailed() override {}
  void RequestFailed() override {}
  void ConnectionClosed() override {}
  void StartupFailed(int) override {}
  void OpenFtpBugDialog(const std::string&, const std::string&, const std::string&) override {}

 private:
  void Write(std::uint32_t requestId, int column, const std::u16string& text);

  mutable std::mutex mutex_;
  std::vector<CellWrite> writes_;
};

}  // namespace tav::test
