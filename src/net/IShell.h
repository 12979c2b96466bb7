#pragma once
// The one narrow interface through which workers reach the user. The desktop
// and the headless front ends implement it; workers never touch widgets.
// Every call may come from any thread.

#include <cstdint>
#include <string>
#include <string_view>

namespace tav {

struct Request;
struct RouteResult;

// Row images of the access log.
enum LogImage : int { kImageFailure = 0, kImageSuccess = 1, kImageUnused = 2, kImageRunning = 3, kImageKeep = -1 };

// Tray states; the icon cell shown is 0, 2, 1, 3 respectively.
enum TrayState : int { kTrayNone = 0, kTrayIdle = 100, kTrayError = 101, kTrayBusy = 102, kTrayAbone = 103 };

// The route a request took, as the access log names it.
enum class RouteKind { Direct, Tunnel, Api, Html, HtmlArchived, Local, Json };

class IShell {
 public:
  virtual ~IShell() = default;

  // Access-log events. Workers report what happened to a request; the
  // shell turns the events into rows. Events for a request whose row is no
  // longer in the log are dropped at once.
  virtual void RequestStarted(std::uint32_t requestId, const Request& request) = 0;
  virtual void RouteChosen(std::uint32_t requestId, RouteKind route) = 0;
  // The upstream request is being made; nothing received yet.
  virtual void Connecting(std::uint32_t requestId) = 0;
  // Bytes so far: received from the server, and (a tunnel) sent to it.
  virtual void BytesReceived(std::uint32_t requestId, std::int64_t total) = 0;
  virtual void BytesSent(std::uint32_t requestId, std::int64_t total) = 0;
  virtual void RequestFinished(std::uint32_t requestId, const RouteResult& result) = 0;
  // A request that could not be parsed: its Host (when one was read), its
  // first line and its length.
  virtual void RequestRefused(std::string_view host, std::string_view firstLine, std::size_t length) = 0;
  // A connection from an address outside AllowFrom, closed unread.
  virtual void ConnectionRefused(std::string_view peer) = 0;

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
