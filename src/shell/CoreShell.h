#pragma once
// The shell logic every front end shares: the access log model, the tray
// state machine and the status code. Front ends derive from it and present
// what it decides.

#include <cstdint>
#include <mutex>
#include <string>

#include "net/IShell.h"
#include "shell/AccessLogModel.h"

namespace tav {

class CSetting;

class CoreShell : public IShell {
 public:
  explicit CoreShell(CSetting& setting);

  AccessLogModel& Log() { return log_; }
  CSetting& Setting() { return setting_; }

  // IShell: access-log events, turned into rows of the log model.
  void RequestStarted(std::uint32_t requestId, const Request& request) override;
  void RouteChosen(std::uint32_t requestId, RouteKind route) override;
  void Connecting(std::uint32_t requestId) override;
  void BytesReceived(std::uint32_t requestId, std::int64_t total) override;
  void BytesSent(std::uint32_t requestId, std::int64_t total) override;
  void RequestFinished(std::uint32_t requestId, const RouteResult& result) override;
  void RequestRefused(std::string_view host, std::string_view firstLine, std::size_t length) override;
  void ConnectionRefused(std::string_view peer) override;

  // IShell: texts and boxes.
  void ShowStatus(int code) override;
  void ShowWarning(int code, const std::u16string& argument) override;
  void ShowMessage(const std::u16string& caption, const std::u16string& text) override;
  void ShowBalloon(const std::u16string& text) override;

  // IShell: tray events.
  void ConnectionAccepted() override;
  void AcceptFailed() override;
  void RequestFailed() override;
  void ConnectionClosed() override;
  void StartupFailed(int code) override;

  // The pointer passed over the tray icon: an error shown there is cleared.
  void PointerOverTrayIcon();

  int TrayState() const;
  bool TrayErrorFlag() const;
  int RestoreState() const;  // state to show when the tray icon is added again
  int StatusCode() const;
  // Text of the current status code up to its first line break.
  std::u16string StatusText() const;
  // "%s - %s" of the title and the current mode's name.
  std::u16string TooltipText() const;
  // "%s:%d / モード：%s"; in mode 1 with the current API profile's name.
  std::u16string ModeText() const;

 protected:
  // Called outside the shell's lock; a front end carries them out.
  virtual void PresentTrayState(int state) = 0;
  virtual void PresentStatus(const std::u16string& text) = 0;
  virtual void PresentWarning(const std::u16string& text) = 0;
  virtual void PresentMessage(const std::u16string& caption, const std::u16string& text) = 0;
  virtual void PresentBalloon(const std::u16string& text) = 0;
  virtual void OnRowFinished(const LogRow& row) = 0;

 private:
  // A row that is complete when it is added (a refused request or connection).
  void AddFinishedRow(const std::array<std::u16string, kLogColumns>& cells);
  void SetTray(int state, bool setError, bool clearError, int restoreState);

  CSetting& setting_;
  AccessLogModel log_;
  mutable std::mutex stateMutex_;
  int trayState_ = kTrayIdle;
  bool trayError_ = false;
  int restoreState_ = kTrayIdle;
  int statusCode_ = 1;
};

// The access log's texts: the route's label, a result's status cell, and the
// local time as "%04d/%02d/%02d %02d:%02d:%02d".
std::u16string RouteLabel(RouteKind route);
std::u16string ResultText(const RouteResult& result);
std::u16string LocalTimeText();

// Replaces the first "%s" of `format` by `argument`.
std::u16string FormatString(const std::u16string& format, const std::u16string& argument);

}  // namespace tav
