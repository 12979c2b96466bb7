#pragma once
// A shell for tests that records what workers write into the access log
// (SetLogCell) and ignores everything else.

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

  // Every SetLogCell call, in order.
  std::vector<CellWrite> Writes() const;
  // The texts written to one column of one request's row, in order.
  std::vector<std::u16string> ColumnHistory(std::uint32_t requestId, int column) const;
  // The last text written to that cell, if any.
  std::optional<std::u16string> Cell(std::uint32_t requestId, int column) const;

  int AddLogRow(int, const std::u16string&, int, std::uint32_t) override { return 0; }
  void SetLogCell(std::uint32_t requestId, int column, const std::u16string& text, int image) override;
  std::optional<int> FindLogRow(std::uint32_t) override { return 0; }
  void LogRowFinished(std::uint32_t) override {}
  void AddBadRequestRow(const std::u16string (&)[8]) override {}
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
  mutable std::mutex mutex_;
  std::vector<CellWrite> writes_;
};

}  // namespace tav::test
