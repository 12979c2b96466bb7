#include "server/Dispatcher.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>

#include "acquire/ApiRoute.h"
#include "acquire/HtmlRoute.h"
#include "acquire/JsonRoute.h"
#include "acquire/LocalRoute.h"
#include "acquire/SubjectRoute.h"
#include "net/CGateway.h"
#include "net/ConnectTunnel.h"
#include "net/IShell.h"
#include "net/PassThrough.h"
#include "net/RequestParser.h"
#include "platform/TextCodec.h"
#include "config/CSetting.h"
#include "config/StringTable.h"

namespace tav {
namespace {

constexpr int kGzipError = 33039;

bool Contains(std::string_view text, std::string_view part) { return !part.empty() && text.find(part) != std::string_view::npos; }

std::u16string Number(std::int64_t n) { return Utf8ToUtf16(std::to_string(n)); }

// Milliseconds since 1601 in local time, in 100-ns units, like a FILETIME.
std::uint64_t LocalFileTime() {
  auto now = std::chrono::system_clock::now();
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  auto sinceEpoch = std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
  std::int64_t localMicros = sinceEpoch + static_cast<std::int64_t>(local.tm_gmtoff) * 1000000;
  return static_cast<std::uint64_t>(localMicros) * 10 + 116444736000000000ULL;
}

// Request ids come from the reader socket and the local time. No two
// requests may share a millisecond: a request numbered within the
// millisecond of the one before takes the next millisecond instead of
// sleeping for it under the lock.
std::uint32_t NumberRequest(CGateway& ctx) {
  static std::mutex numberingMutex;
  static std::uint64_t lastMillisecond = 0;
  std::uint64_t fileTime = LocalFileTime();
  {
    // A lock of its own: a worker that holds the dispatch lock must never
    // wait here for one that waits for the dispatch lock.
    std::lock_guard numberingLock(numberingMutex);
    std::uint64_t millisecond = fileTime / 10000;
    if (millisecond <= lastMillisecond) millisecond = lastMillisecond + 1;
    lastMillisecond = millisecond;
    fileTime = millisecond * 10000;
  }
  return static_cast<std::uint32_t>(ctx.readerSocket) ^ static_cast<std::uint32_t>(fileTime) ^
         static_cast<std::uint32_t>(fileTime >> 32);
}

void SetCell(CGateway& ctx, int column, const std::u16string& text, int image = kImageKeep) {
  if (ctx.shell != nullptr) ctx.shell->SetLogCell(ctx.requestId, column, text, image);
}

void AddRequestRow(CGateway& ctx) {
  if (ctx.shell == nullptr) return;
  ctx.shell->AddLogRow(0, u"0", kImageRunning, ctx.requestId);
  SetCell(ctx, 1, LocalTimeText());
  SetCell(ctx, 2, ctx.header.host.Wide());
  SetCell(ctx, 3, ctx.header.method.Wide() + u" " + ctx.header.target.Wide());
  SetCell(ctx, 5, u"接続中...");
  SetCell(ctx, 6, u"0");
}

void FinishRow(CGateway& ctx, int status, std::int64_t bytesSent) {
  SetCell(ctx, 0, u"0", status == 0 ? kImageSuccess : kImageFailure);
  SetCell(ctx, 5, StatusText(status, ctx.errorDetail, ctx.overload != 0));
  SetCell(ctx, 7, bytesSent == -1 ? std::u16string(u"失敗") : Number(bytesSent));
  if (ctx.shell != nullptr) ctx.shell->LogRowFinished(ctx.requestId);
}

struct RouteOutcome {
  int status = 0;
  std::int64_t bytesSent = 0;
};

// The HTML route, asked once more without compression when the page's gzip
// body could not be used.
RouteOutcome RunHtmlRoute(CGateway& ctx, std::string_view request) {
  RouteOutcome out;
  out.status = FetchThreadHtml(ctx, request, out.bytesSent, ctx.header, 1, -1, nullptr, 0);
  if (out.status == kGzipError) {
    out.bytesSent = 0;
    out.status = FetchThreadHtml(ctx, request, out.bytesSent, ctx.header, 0, -1, nullptr, 0);
  }
  if (out.status != 0) out.bytesSent = 0;
  return out;
}

RouteOutcome RunPassThrough(CGateway& ctx, std::string_view request) {
  RouteOutcome out;
  SetCell(ctx, 4, u"直接");
  if (ctx.header.method.Narrow() == "CONNECT") {
    SetCell(ctx, 4, u"SSL");
    HandleConnect(ctx, request, ctx.readerSocket, out.bytesSent);
  } else {
    HandlePassThrough(ctx, request, out.bytesSent);
  }
  if (Contains(request, "Connection: close") || ctx.cfg->CloseConnection != 0) ctx.header.closeFlag = 1;
  return out;
}

RouteOutcome RunDatRoute(CGateway& ctx, std::string_view request, int mode) {
  RouteOutcome out;
  switch (mode) {
    case 1:
      SetCell(ctx, 4, u"API");
      out.status = GetDatByApi(ctx, request, out.bytesSent);
      if (out.status != 0) out.bytesSent = 0;
      break;
    case 2:
      SetCell(ctx, 4, u"HTML");
      out = RunHtmlRoute(ctx, request);
      break;
    case 3:
      SetCell(ctx, 4, u"Style");
      out.status = GetDatByReader(ctx, request, out.bytesSent, ctx.header) != 0 ? kStatusFailed : 0;
      if (out.status != 0) out.bytesSent = 0;
      break;
    case 4:
      SetCell(ctx, 4, u"JSON");
      out.status = GetDatByJson(ctx, request, out.bytesSent, ctx.header, 1) != 0 ? kStatusFailed : 0;
      if (out.status != 0) out.bytesSent = 0;
      break;
    default:
      return RunPassThrough(ctx, request);
  }
  ctx.header.closeFlag = 1;
  return out;
}

RouteOutcome RunArchivedThread(CGateway& ctx, std::string_view request) {
  SetCell(ctx, 4, u"HTML(過去)");
  RouteOutcome out = RunHtmlRoute(ctx, request);
  ctx.header.closeFlag = 1;
  return out;
}

bool RuleMatches(const CAutoRule& rule, const CGateway& ctx) {
  const std::u16string& text = rule.rule;
  // Every target contains the empty pattern.
  if (ctx.header.target.Wide().find(text) != std::u16string::npos) return true;
  if (!text.empty() && text[0] == u'#' && ctx.header.host.Wide().find(text.substr(1)) != std::u16string::npos) return true;
  return text == u"*";
}

}  // namespace

bool IsBoardHost(const BoardDomains& domains, std::string_view host) {
  if (Contains(host, domains.Primary) || Contains(host, domains.Secondary) || Contains(host, domains.Adult)) {
    return true;
  }
  for (const auto& alias : domains.Aliases) {
    if (Contains(host, alias)) return true;
  }
  return false;
}

RequestClass ClassifyRequest(const CGateway& ctx) {
  const std::string& host = ctx.header.host.Narrow();
  const std::string& target = ctx.header.target.Narrow();
  if (!IsBoardHost(ctx.cfg->Domains, host)) return ClassPassThrough;
  if (Contains(target, "subject.txt")) return ClassSubject;
  if (ctx.cfg->KakoLogHtml != 0 && Contains(target, "/kako/")) return ClassKakoHtml;
  if (Contains(target, "/dat/")) {
    return Contains(host, ctx.cfg->Domains.Headline) ? ClassHeadlineDat : ClassDat;
  }
  return ClassPassThrough;
}

int EffectiveMode(const CGateway& ctx) {
  int mode = ctx.cfg->DatMode;
  if (mode != 6) return mode;
  for (const CAutoRule& rule : ctx.cfg->AutoRules) {
    if (RuleMatches(rule, ctx)) return rule.mode;
  }
  return mode;
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

std::u16string StatusText(int status, std::uint32_t errorDetail, bool overload) {
  if (overload) return LoadString(kStrOverload);
  if (status == 0) return u"成功";
  if (status == kStatusFtpBug) return u"ftp:// bug thread ?";
  if (status == kStatusPastLog) return u"過去ログ";
  if (status < 0) {
    char text[64];
    std::snprintf(text, sizeof text, "失敗(%d,0x%08X)", status, errorDetail);
    return Utf8ToUtf16(text);
  }
  if (HasString(status)) return LoadString(status);
  return u"失敗";
}

void LogBadRequest(CGateway& ctx, std::string_view request) {
  ctx.header.closeFlag = 1;
  if (ctx.shell == nullptr) return;
  std::u16string columns[8] = {
      u"0",
      LocalTimeText(),
      ctx.header.host.Wide(),
      u"不正リクエスト(" + Cp932ToUtf16(FirstLine(request, 4096)) + u")",
      u"不明",
      u"失敗",
      Number(static_cast<std::int64_t>(request.size())),
      u"0",
  };
  ctx.shell->AddBadRequestRow(columns);
}

namespace {

int Dispatch(CGateway& ctx, std::string_view request, bool& rowAdded) {
  ctx.errorDetail = 0;
  ctx.requestId = NumberRequest(ctx);

  if (ParseRequestHeader(request, ctx.header, true) != 0) {
    LogBadRequest(ctx, request);
    return -2;
  }

  RequestClass requestClass = ClassifyRequest(ctx);
  if (requestClass == ClassHeadlineDat) {
    ResolveHeadlineDat(ctx, ctx.header);
    requestClass = ClassDat;
  }
  AddRequestRow(ctx);
  rowAdded = true;
  ctx.overload = 0;
  int mode = EffectiveMode(ctx);

  RouteOutcome outcome;
  switch (requestClass) {
    case ClassSubject:
      if (ctx.cfg->SubjectSubback != 0) {
        SetCell(ctx, 4, u"HTML");
        outcome.status = FetchSubjectFromSubback(ctx, request, outcome.bytesSent);
        if (outcome.status != 0) outcome.bytesSent = 0;
        ctx.header.closeFlag = 1;
      } else {
        outcome = RunPassThrough(ctx, request);
      }
      break;
    case ClassKakoHtml:
      outcome = RunArchivedThread(ctx, request);
      FinishRow(ctx, outcome.status, outcome.bytesSent);
      return 1;
    case ClassDat:
      outcome = RunDatRoute(ctx, request, mode);
      break;
    default:
      outcome = RunPassThrough(ctx, request);
      break;
  }
  FinishRow(ctx, outcome.status, outcome.bytesSent);

  if (outcome.status == kStatusPastLog && ctx.cfg->KakoLogHtml != 0) {
    outcome = RunArchivedThread(ctx, request);
    FinishRow(ctx, outcome.status, outcome.bytesSent);
    return 1;
  }
  return 0;
}

}  // namespace

int DispatchRequest(CGateway& ctx, std::string_view request) {
  bool rowAdded = false;
  try {
    return Dispatch(ctx, request, rowAdded);
  } catch (...) {
    // A fault while serving one request ends that request and nothing else:
    // its row shows the failure, the connection is closed, and the worker
    // and every other connection go on.
    ctx.header.closeFlag = 1;
    try {
      if (rowAdded) {
        FinishRow(ctx, kStatusFailed, 0);
      } else {
        LogBadRequest(ctx, request);
      }
    } catch (...) {
      // Nothing more can be reported; the request still ends here.
    }
    return kDispatchFault;
  }
}

}  // namespace tav
