#include "server/Dispatcher.h"

#include <chrono>
#include <ctime>
#include <mutex>

#include "acquire/ApiRoute.h"
#include "acquire/HtmlRoute.h"
#include "acquire/JsonRoute.h"
#include "acquire/LocalRoute.h"
#include "acquire/SubjectRoute.h"
#include "config/CSetting.h"
#include "net/CGateway.h"
#include "net/ConnectTunnel.h"
#include "net/IShell.h"
#include "net/PassThrough.h"
#include "net/Request.h"
#include "net/RequestParser.h"
#include "net/RouteResult.h"
#include "platform/TextCodec.h"

namespace tav {
namespace {

bool Contains(std::string_view text, std::string_view part) { return !part.empty() && text.find(part) != std::string_view::npos; }

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
std::uint32_t NumberRequest(const CGateway& ctx) {
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

// Runs one route and reports it: the route's label first, its result last.
// A failed dat route has sent nothing the log counts; a failed pass-through
// or tunnel keeps the count of what its failure answer wrote.
RouteResult Run(CGateway& ctx, const Request& request, RouteKind kind, Route route) {
  if (ctx.shell != nullptr) ctx.shell->RouteChosen(ctx.requestId, kind);
  ctx.overload = false;
  ctx.errorDetail = 0;
  RouteResult result = route(ctx, request, RouteOptions{});
  result.overload = result.overload || ctx.overload;
  result.errorDetail = ctx.errorDetail;
  const bool passedOn = kind == RouteKind::Direct || kind == RouteKind::Tunnel;
  if (!result.Ok() && !passedOn) result.bytesSent = 0;
  return result;
}

void Finish(CGateway& ctx, const RouteResult& result) {
  if (ctx.shell != nullptr) ctx.shell->RequestFinished(ctx.requestId, result);
}

RouteResult RunPassThrough(CGateway& ctx, const Request& request) {
  const bool tunnel = request.IsConnect();
  RouteResult result = Run(ctx, request, tunnel ? RouteKind::Tunnel : RouteKind::Direct,
                           tunnel ? &HandleConnect : &HandlePassThrough);
  if (Contains(request.text, "Connection: close") || ctx.cfg->CloseConnection != 0) ctx.closeAfter = true;
  if (!result.Ok() && ctx.shell != nullptr) ctx.shell->RequestFailed();
  return result;
}

RouteResult RunDatRoute(CGateway& ctx, const Request& request, int mode) {
  RouteKind kind;
  Route route;
  switch (mode) {
    case 1:
      kind = RouteKind::Api;
      route = &GetDatByApi;
      break;
    case 2:
      kind = RouteKind::Html;
      route = &FetchThreadHtml;
      break;
    case 3:
      kind = RouteKind::Local;
      route = &GetDatByReader;
      break;
    case 4:
      kind = RouteKind::Json;
      route = &GetDatByJson;
      break;
    default:
      return RunPassThrough(ctx, request);
  }
  // The connection closes after a produced answer. It is known before the
  // route runs, so that the reader sees the answer's end at its last byte.
  ctx.closeAfter = true;
  return Run(ctx, request, kind, route);
}

RouteResult RunArchivedThread(CGateway& ctx, const Request& request) {
  ctx.closeAfter = true;
  return Run(ctx, request, RouteKind::HtmlArchived, &FetchThreadHtml);
}

bool RuleMatches(const CAutoRule& rule, const Request& request) {
  const std::u16string& text = rule.rule;
  // Every target contains the empty pattern.
  if (Cp932ToUtf16(request.target).find(text) != std::u16string::npos) return true;
  if (!text.empty() && text[0] == u'#' && Cp932ToUtf16(request.host).find(text.substr(1)) != std::u16string::npos) return true;
  return text == u"*";
}

}  // namespace

RequestClass ClassifyRequest(const SettingValues& cfg, const Request& request) {
  const std::string& target = request.target;
  if (!IsBoardHost(cfg.Domains, request.host)) return ClassPassThrough;
  if (Contains(target, "subject.txt")) return ClassSubject;
  if (cfg.KakoLogHtml != 0 && Contains(target, "/kako/")) return ClassKakoHtml;
  if (Contains(target, "/dat/")) {
    return Contains(request.host, cfg.Domains.Headline) ? ClassHeadlineDat : ClassDat;
  }
  return ClassPassThrough;
}

int EffectiveMode(const SettingValues& cfg, const Request& request) {
  int mode = cfg.DatMode;
  if (mode != 6) return mode;
  for (const CAutoRule& rule : cfg.AutoRules) {
    if (RuleMatches(rule, request)) return rule.mode;
  }
  return mode;
}

void LogBadRequest(CGateway& ctx, std::string_view text) {
  ctx.closeAfter = true;
  if (ctx.shell == nullptr) return;
  ctx.shell->RequestRefused({}, FirstLine(text, 4096), text.size());
}

namespace {

DispatchResult Dispatch(CGateway& ctx, std::string_view text, bool& rowAdded) {
  ctx.requestId = NumberRequest(ctx);

  Request request;
  if (ParseRequestHeader(text, request, true) != 0) {
    LogBadRequest(ctx, text);
    return DispatchResult::Refused;
  }
  if (request.close) ctx.closeAfter = true;

  RequestClass requestClass = ClassifyRequest(*ctx.cfg, request);
  if (requestClass == ClassHeadlineDat) {
    request.thread.kind = ThreadKind::Headline;
    ResolveHeadlineDat(ctx, request);
    requestClass = ClassDat;
  }
  if (ctx.shell != nullptr) ctx.shell->RequestStarted(ctx.requestId, request);
  rowAdded = true;
  const int mode = EffectiveMode(*ctx.cfg, request);

  RouteResult result;
  switch (requestClass) {
    case ClassSubject:
      if (ctx.cfg->SubjectSubback != 0) {
        ctx.closeAfter = true;
        result = Run(ctx, request, RouteKind::Html, &FetchSubjectFromSubback);
      } else {
        result = RunPassThrough(ctx, request);
      }
      break;
    case ClassKakoHtml:
      Finish(ctx, RunArchivedThread(ctx, request));
      return DispatchResult::ServedArchived;
    case ClassDat:
      result = RunDatRoute(ctx, request, mode);
      break;
    default:
      result = RunPassThrough(ctx, request);
      break;
  }
  Finish(ctx, result);

  if (result.status == RouteStatus::PastLog && ctx.cfg->KakoLogHtml != 0) {
    Finish(ctx, RunArchivedThread(ctx, request));
    return DispatchResult::ServedArchived;
  }
  return DispatchResult::Served;
}

}  // namespace

DispatchResult DispatchRequest(CGateway& ctx, std::string_view text) {
  bool rowAdded = false;
  try {
    return Dispatch(ctx, text, rowAdded);
  } catch (...) {
    // A fault while serving one request ends that request and nothing else:
    // its row shows the failure, the connection is closed, and the worker
    // and every other connection go on.
    ctx.closeAfter = true;
    try {
      if (rowAdded) {
        Finish(ctx, RouteResult::Failure(kCodeFailed));
      } else {
        LogBadRequest(ctx, text);
      }
    } catch (...) {
      // Nothing more can be reported; the request still ends here.
    }
    return DispatchResult::Fault;
  }
}

}  // namespace tav
