#pragma once
// The one narrow interface through which workers reach the user. The desktop
// and the headless front ends implement it; workers never touch widgets.
// Every call may come from any thread.

#include <cstdint>
#include <optional>
#include <string>

namespace tav {

// Row images of the access log.
enum LogImage : int { kImageFailure = 0, kImageSuccess = 1, kImageUnused = 2, kImageRunning = 3, kImageKeep = -1 };

// Tray states; the icon cell shown is 0, 2, 1, 3 respectively.
enum TrayState : int { kTrayNone = 0, kTrayIdle = 100, kTrayError = 101, kTrayBusy = 102, kTrayAbone = 103 };

class IShell {
 public:
  virtual ~IShell() = default;

  // Access log. Rows are addressed by the request id they carry; the row is
  // found again on every write because rows move while others are added.
  // AddLogRow places a new row (LogMax / LogSort) and returns its index.
  virtual int AddLogRow(int column, const std::u16string& text, int image, std::uint32_t itemData) = 0;
  // Sets one cell of the row carrying `requestId` (and its image unless
  // kImageKeep). A row that cannot be found makes the call do nothing.
  virtual void SetLogCell(std::uint32_t requestId, int column, const std::u16string& text,
                          int image = kImageKeep) = 0;
  virtual std::optional<int> FindLogRow(std::uint32_t requestId) = 0;
  // The row has received its final status (the headless front end prints it).
  virtual void LogRowFinished(std::uint32_t requestId) = 0;
  // A complete row for a request that could not be parsed.
  virtual void AddBadRequestRow(const std::u16string (&columns)[8]) = 0;

  // Status bar text: the string of `code`, cut at its first line break.
  virtual void ShowStatus(int code) = 0;
  // Warning box with string `code` (formatted with `argument` when given).
  // Blocks the calling worker until the user closes it.
  virtual void ShowWarning(int code, const std::u16string& argument = {}) = 0;
  // A message box with one OK button; blocks the calling worker.
  virtual void ShowMessage(const std::u16string& caption, const std::u16string& text) = 0;
  // Balloon on the tray icon (information icon, 10 seconds).
  virtual void ShowBalloon(const std::u16string& text) = 0;

  // Tray events of the connection lifecycle.
  virtual void ConnectionAccepted() = 0;  // status 1, busy, error flag cleared
  virtual void AcceptFailed() = 0;        // status 15, error state and flag
  virtual void RequestFailed() = 0;       // error state and flag
  virtual void ConnectionClosed() = 0;    // idle unless the error flag is set
  virtual void StartupFailed(int code) = 0;  // warning, status, error state

  // Opens the FTP-bug tool pre-filled with a thread (narrow CP932 texts).
  virtual void OpenFtpBugDialog(const std::string& server, const std::string& board,
                                const std::string& thread) = 0;
};

}  // namespace tav
