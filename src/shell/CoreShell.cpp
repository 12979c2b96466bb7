#include "shell/CoreShell.h"

#include "platform/TextCodec.h"
#include "config/CSetting.h"
#include "config/StringTable.h"

namespace tav {

CoreShell::CoreShell(CSetting& setting) : setting_(setting) {}

int CoreShell::AddLogRow(int column, const std::u16string& text, int image, std::uint32_t itemData) {
  auto cfg = setting_.Snapshot();
  log_.SetLimits(cfg->LogMax, cfg->LogSort);
  return log_.AddRow(column, text, image, itemData);
}

void CoreShell::SetLogCell(std::uint32_t requestId, int column, const std::u16string& text, int image) {
  log_.SetCell(requestId, column, text, image);
}

std::optional<int> CoreShell::FindLogRow(std::uint32_t requestId) { return log_.Find(requestId); }

void CoreShell::LogRowFinished(std::uint32_t requestId) {
  if (auto row = log_.RowById(requestId)) OnRowFinished(*row);
}

void CoreShell::AddBadRequestRow(const std::u16string (&columns)[8]) {
  LogRow row;
  for (int i = 0; i < kLogColumns; ++i) row.cells[static_cast<std::size_t>(i)] = columns[i];
  row.image = kImageFailure;
  row.itemData = 0;
  auto cfg = setting_.Snapshot();
  log_.SetLimits(cfg->LogMax, cfg->LogSort);
  log_.AddRow(row);
  OnRowFinished(row);
}

void CoreShell::ShowStatus(int code) {
  {
    std::lock_guard lock(stateMutex_);
    statusCode_ = code;
  }
  PresentStatus(StatusText());
}

void CoreShell::ShowWarning(int code, const std::u16string& argument) {
  PresentWarning(argument.empty() ? LoadString(code) : FormatString(LoadString(code), argument));
}

void CoreShell::ShowMessage(const std::u16string& caption, const std::u16string& text) {
  PresentMessage(caption, text);
}

void CoreShell::ShowBalloon(const std::u16string& text) { PresentBalloon(text.substr(0, 255)); }

void CoreShell::SetTray(int state, bool setError, bool clearError, int restoreState) {
  {
    std::lock_guard lock(stateMutex_);
    if (setError) trayError_ = true;
    if (clearError) trayError_ = false;
    if (restoreState != 0) restoreState_ = restoreState;
    trayState_ = state;
  }
  PresentTrayState(state);
}

void CoreShell::ConnectionAccepted() {
  ShowStatus(1);
  SetTray(kTrayBusy, false, true, 0);
}

void CoreShell::AcceptFailed() {
  ShowStatus(15);
  SetTray(kTrayError, true, false, kTrayError);
}

void CoreShell::RequestFailed() { SetTray(kTrayError, true, false, 0); }

void CoreShell::ConnectionClosed() {
  {
    std::lock_guard lock(stateMutex_);
    if (trayError_) return;
  }
  SetTray(kTrayIdle, false, false, 0);
}

void CoreShell::StartupFailed(int code) {
  ShowWarning(code, {});
  ShowStatus(code);
  SetTray(kTrayError, false, false, kTrayError);
}

void CoreShell::PointerOverTrayIcon() {
  {
    std::lock_guard lock(stateMutex_);
    if (!trayError_) return;
  }
  SetTray(kTrayIdle, false, true, kTrayIdle);
}

int CoreShell::TrayState() const {
  std::lock_guard lock(stateMutex_);
  return trayState_;
}

bool CoreShell::TrayErrorFlag() const {
  std::lock_guard lock(stateMutex_);
  return trayError_;
}

int CoreShell::RestoreState() const {
  std::lock_guard lock(stateMutex_);
  return restoreState_;
}

int CoreShell::StatusCode() const {
  std::lock_guard lock(stateMutex_);
  return statusCode_;
}

std::u16string CoreShell::StatusText() const {
  std::u16string text = LoadString(StatusCode());
  return text.substr(0, text.find_first_of(u"\r\n"));
}

std::u16string CoreShell::TooltipText() const {
  return std::u16string(kProgramTitle) + u" - " + ModeName(setting_.Snapshot()->DatMode);
}

std::u16string CoreShell::ModeText() const {
  auto cfg = setting_.Snapshot();
  std::u16string mode = ModeName(cfg->DatMode);
  if (cfg->DatMode == 1) {
    if (const C2chAPIInfo* profile = cfg->CurrentProfile()) mode = u"API(" + profile->Name.Wide() + u")";
  }
  return cfg->GatewayHost.Wide() + u":" + Utf8ToUtf16(std::to_string(cfg->GatewayPort)) + u" / モード：" + mode;
}

std::u16string FormatString(const std::u16string& format, const std::u16string& argument) {
  std::size_t at = format.find(u"%s");
  if (at == std::u16string::npos) return format;
  return format.substr(0, at) + argument + format.substr(at + 2);
}

}  // namespace tav
