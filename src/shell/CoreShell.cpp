#include "shell/CoreShell.h"

#include <cstdio>
#include <ctime>

#include "net/Request.h"
#include "net/RouteResult.h"
#include "platform/TextCodec.h"
#include "config/CSetting.h"
#include "config/StringTable.h"

namespace tav {

CoreShell::CoreShell(CSetting& setting) : setting_(setting) {}

namespace {

enum Column : std::size_t {
  kColumnImage = 0,
  kColumnTime = 1,
  kColumnHost = 2,
  kColumnRequest = 3,
  kColumnRoute = 4,
  kColumnStatus = 5,
  kColumnReceived = 6,
  kColumnSent = 7,
};

std::u16string Number(std::int64_t n) { return Utf8ToUtf16(std::to_string(n)); }

}  // namespace

std::u16string RouteLabel(RouteKind route) {
  switch (route) {
    case RouteKind::Direct: return u"直接";
    case RouteKind::Tunnel: return u"SSL";
    case RouteKind::Api: return u"API";
    case RouteKind::Html: return u"HTML";
    case RouteKind::HtmlArchived: return u"HTML(過去)";
    case RouteKind::Local: return u"Style";
    case RouteKind::Json: return u"JSON";
  }
  return u"不明";
}

std::u16string ResultText(const RouteResult& result) {
  if (result.overload) return LoadString(kStrOverload);
  switch (result.status) {
    case RouteStatus::Answered: return u"成功";
    case RouteStatus::FtpBug: return u"ftp:// bug thread ?";
    case RouteStatus::PastLog: return u"過去ログ";
    case RouteStatus::Failed: break;
  }
  if (result.code < 0) {
    char text[64];
    std::snprintf(text, sizeof text, "失敗(%d,0x%08X)", result.code, result.errorDetail);
    return Utf8ToUtf16(text);
  }
  if (HasString(result.code)) return LoadString(result.code);
  return u"失敗";
}

std::u16string LocalTimeText() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[64];
  std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return Utf8ToUtf16(text);
}

void CoreShell::RequestStarted(std::uint32_t requestId, const Request& request) {
  LogRow row;
  row.image = kImageRunning;
  row.itemData = requestId;
  row.cells[kColumnImage] = u"0";
  row.cells[kColumnTime] = LocalTimeText();
  row.cells[kColumnHost] = Cp932ToUtf16(request.host);
  row.cells[kColumnRequest] = Cp932ToUtf16(MethodName(request.method)) + u" " + Cp932ToUtf16(request.target);
  row.cells[kColumnStatus] = u"接続中...";
  row.cells[kColumnReceived] = u"0";
  auto cfg = setting_.Snapshot();
  log_.SetLimits(cfg->LogMax, cfg->LogSort);
  log_.AddRow(row);
}

void CoreShell::RouteChosen(std::uint32_t requestId, RouteKind route) {
  log_.Update(requestId, [&](LogRow& row) { row.cells[kColumnRoute] = RouteLabel(route); });
}

void CoreShell::Connecting(std::uint32_t requestId) {
  log_.Update(requestId, [](LogRow& row) {
    row.cells[kColumnStatus] = u"接続中...";
    row.cells[kColumnReceived] = u"0";
  });
}

void CoreShell::BytesReceived(std::uint32_t requestId, std::int64_t total) {
  log_.Update(requestId, [&](LogRow& row) { row.cells[kColumnReceived] = Number(total); });
}

void CoreShell::BytesSent(std::uint32_t requestId, std::int64_t total) {
  log_.Update(requestId, [&](LogRow& row) { row.cells[kColumnSent] = Number(total); });
}

void CoreShell::RequestFinished(std::uint32_t requestId, const RouteResult& result) {
  std::optional<LogRow> finished;
  log_.Update(requestId, [&](LogRow& row) {
    row.cells[kColumnImage] = u"0";
    row.image = result.Ok() ? kImageSuccess : kImageFailure;
    row.cells[kColumnStatus] = ResultText(result);
    if (result.bytesReceived >= 0) row.cells[kColumnReceived] = Number(result.bytesReceived);
    row.cells[kColumnSent] = result.bytesSent == -1 ? std::u16string(u"失敗") : Number(result.bytesSent);
    finished = row;
  });
  if (finished) OnRowFinished(*finished);
}

void CoreShell::AddFinishedRow(const std::array<std::u16string, kLogColumns>& cells) {
  LogRow row;
  row.cells = cells;
  row.image = kImageFailure;
  row.itemData = 0;
  auto cfg = setting_.Snapshot();
  log_.SetLimits(cfg->LogMax, cfg->LogSort);
  log_.AddRow(row);
  OnRowFinished(row);
}

void CoreShell::RequestRefused(std::string_view host, std::string_view firstLine, std::size_t length) {
  AddFinishedRow({u"0", LocalTimeText(), Cp932ToUtf16(host), u"不正リクエスト(" + Cp932ToUtf16(firstLine) + u")",
                  u"不明", u"失敗", Number(static_cast<std::int64_t>(length)), u"0"});
}

void CoreShell::ConnectionRefused(std::string_view peer) {
  AddFinishedRow({u"0", LocalTimeText(), Utf8ToUtf16(peer), u"", u"", u"拒否", u"0", u"0"});
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
