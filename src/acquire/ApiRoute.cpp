#include "acquire/ApiRoute.h"

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "acquire/ApiAuth.h"
#include "acquire/DatAnswer.h"
#include "net/CGateway.h"
#include "net/IShell.h"
#include "net/ReaderSocket.h"
#include "net/GzipBody.h"
#include "net/Request.h"
#include "net/UpstreamClient.h"
#include "platform/TextCodec.h"
#include "acquire/ApiSessionCache.h"
#include "config/CSetting.h"
#include "config/StringTable.h"

namespace tav {
namespace {

// The not-modified answer of the dat routes, closed by its blank line: the
// reader keeps its copy and reports no error.
constexpr std::string_view kNotModifiedAnswer = "HTTP/1.1 304 Not Modified\r\nConnection: close\r\n\r\n";

constexpr std::size_t kCtLimit = 31;
constexpr std::size_t kHostLimit = 255;      // Host values of 256 characters or more are refused
constexpr std::size_t kPathPartLimit = 255;  // board and key
constexpr std::size_t kBalloonLimit = 255;
// Only answers shorter than this are decoded and searched for the archive
// marker; a thread moved to the archive is answered with a short text.
constexpr std::size_t kArchiveCheckLimit = 2000;
constexpr GzipLimits kShortAnswerGzip{0xF0000, 1024, true};

constexpr std::string_view kSessionRefused = "not authorized";

// What the board shows in place of an archived thread's posts.
const std::string& PastLogMarker() {
  // Written in two pieces so that "??<" is never read as a trigraph.
  static const std::string marker = Sjis(
      "ID:????????"
      "<> このスレッドは過去ログです。<br>");
  return marker;
}

// The API's own answer for a board that cannot be read this way.
const std::string& BoardNoticePrefix() {
  static const std::string prefix = Sjis("２ちゃんねる ★");
  return prefix;
}

// A comparison that never reads past a body shorter than the prefix.
bool BeginsWith(std::string_view body, std::string_view prefix) {
  return body.substr(0, prefix.size()) == prefix;
}
bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// What one attempt ended with; `notAuthorized` asks for the one retry.
struct AttemptOutcome {
  int status = 0;
  bool notAuthorized = false;
};

// The thread the reader asks for.
struct DatTarget {
  std::string server;  // server label: the Host value up to its first dot
  std::string board;
  std::string key;
};

int SendAnswer(CGateway& ctx, std::string_view answer, std::int64_t& bytesSent) {
  bytesSent = static_cast<std::int64_t>(answer.size());
  return SendToReader(ctx, ctx.readerSocket, answer.data(), bytesSent);
}

// The time value of the login and the HMAC: the current time, or the
// profile's fixed text (nullopt when that is over-long).
std::optional<std::string> TimeValue(const C2chAPIInfo& profile, const Clock& clock) {
  if (profile.CTMode == 1) return std::to_string(static_cast<std::int32_t>(clock.UnixSeconds()));
  if (profile.CT.Narrow().size() > kCtLimit) return std::nullopt;
  return profile.CT.Narrow();
}

// The Ronin account goes with the login only as a complete pair.
void LoginCredentials(const SettingValues& cfg, std::string& loginId, std::string& password) {
  loginId.clear();
  password.clear();
  if (cfg.LoginAPI != 0 && !cfg.RoninID.Empty() && !cfg.RoninPass.Empty()) {
    loginId = cfg.RoninID.Narrow();
    password = cfg.RoninPass.Narrow();
  }
}

void StoreSessionId(CGateway& ctx, const std::string& sessionId) {
  ApiSessionCache& session = *ctx.apiSession;
  std::lock_guard lock(session.mutex);
  session.sessionId = sessionId;
}

void ClearSessionId(CGateway& ctx) {
  ApiSessionCache& session = *ctx.apiSession;
  std::lock_guard lock(session.mutex);
  session.sessionId.clear();
}

// Server label, board and key of a "/board/dat/key.dat" request; nullopt for
// a path without "/dat/" or parts too long to be used whole.
std::optional<DatTarget> DatTargetOf(const Request& request) {
  if (request.target.find("/dat/") == std::string::npos || request.host.size() > kHostLimit) return std::nullopt;
  // The key after "/dat/" (an archived path with "/dat/" in it is asked for
  // by that key too).
  const ThreadRef thread = ParseThreadRef(request.host, request.target.substr(request.target.find("/dat/")));
  DatTarget target;
  target.server = request.thread.server;
  target.board = request.thread.board;
  target.key = thread.key;
  if (target.board.size() > kPathPartLimit || target.key.size() > kPathPartLimit) return std::nullopt;
  return target;
}

// Range or gzip (never both: a partial answer cannot be compressed), and the
// reader's If-Modified-Since.
std::string DatHeaderLines(const Request& header) {
  std::string lines = "Connection: close\r\nContent-Type: application/x-www-form-urlencoded\r\n";
  if (const std::int64_t start = UsableRangeStart(header.rangeStart); start != -1) {
    lines += "Range: bytes=" + std::to_string(start) + "-\r\n";
  } else if (header.acceptsGzip) {
    lines += "Accept-Encoding: gzip\r\n";
  }
  if (!header.ifModifiedSince.empty()) lines += "If-Modified-Since: " + header.ifModifiedSince + "\r\n";
  return lines;
}

// The signed request body; nullopt when a text would exceed its limit.
std::optional<std::string> SignedBody(const DatTarget& target, const std::string& sessionId,
                                      const C2chAPIInfo& profile) {
  const std::string& appKey = profile.AppKey.Narrow();
  const std::string signedText =
      "/v1/" + target.server + "/" + target.board + "/" + target.key + sessionId + appKey;
  if (signedText.size() > kApiTextLimit) return std::nullopt;
  DigestRecord hobo;
  if (!HmacSha256Hex(signedText.c_str(), profile.HMKey.Narrow().c_str(), &hobo)) return std::nullopt;
  std::string body = "sid=" + sessionId + "&hobo=" + hobo.hex + "&appkey=" + appKey;
  if (body.size() > kApiTextLimit) return std::nullopt;
  return body;
}

std::string DatUrl(const SettingValues& cfg, const DatTarget& target) {
  const std::string& host = cfg.Use5ch != 0 ? cfg.Domains.ApiSecondary : cfg.Domains.ApiPrimary;
  return "https://" + host + "/v1/" + target.server + "/" + target.board + "/" + target.key;
}

// -999 when the short answer is the archive notice, 33039 when a gzip
// answer cannot be decoded, else 0. The decoded copy serves only this check.
int CheckArchived(std::string_view body) {
  if (body.size() >= kArchiveCheckLimit) return 0;
  std::string text;
  if (!DecodeBody(body, kShortAnswerGzip, text)) return kCodeGzipFailed;
  return Contains(text, PastLogMarker()) ? kStatusPastLog : 0;
}

// Everything after the API has answered: error answers, the archive check
// and the answer passed on to the reader.
AttemptOutcome HandleAnswer(CGateway& ctx, const FetchResponse& response, const Request& header,
                            std::int64_t& bytesSent) {
  const std::string head = response.headers;
  if (head.find("\r\n\r\n") == std::string::npos) return {-1};
  const std::string_view body = response.body;

  if (BeginsWith(body, "ng (")) {
    if (Contains(body, kSessionRefused)) {
      ClearSessionId(ctx);
      return {0, true};
    }
    if (ctx.shell != nullptr) ctx.shell->ShowBalloon(Cp932ToUtf16(body).substr(0, kBalloonLimit));
    return {SendAnswer(ctx, kNotModifiedAnswer, bytesSent)};
  }

  const bool missing = BeginsWith(body, "404") || Contains(head, "Content-Length: 1\r\n") ||
                       (Contains(head, "404 Not Found") && BeginsWith(body, "NG"));
  if (missing) {
    if (header.ifModifiedSince.empty()) return {-2};
    return {SendAnswer(ctx, kNotModifiedAnswer, bytesSent)};
  }

  if (const int archived = CheckArchived(body); archived != 0) return {archived};
  if (BeginsWith(body, BoardNoticePrefix())) return {SendAnswer(ctx, kNotModifiedAnswer, bytesSent)};

  std::string reply = head;
  reply.append(body);
  return {SendAnswer(ctx, reply, bytesSent)};
}

// One pass from the profile check to the answer.
AttemptOutcome RequestDat(CGateway& ctx, const Request& header, std::int64_t& bytesSent) {
  const SettingValues& cfg = *ctx.cfg;
  const C2chAPIInfo* profile = cfg.CurrentProfile();
  if (profile == nullptr || profile->HMKey.Empty() || profile->AppKey.Empty()) {
    if (ctx.shell != nullptr) ctx.shell->ShowWarning(kStrApiKeyMissing);
    return {-1};
  }
  const std::optional<std::string> ct = TimeValue(*profile, *ctx.clock);
  if (!ct) return {-1};
  std::string loginId, password;
  LoginCredentials(cfg, loginId, password);

  std::string sessionId;
  if (Authenticate(ctx, loginId, password, profile->AppKey.Narrow(), *ct, profile->HMKey.Narrow(),
                   sessionId) != 0) {
    return {-1};
  }
  StoreSessionId(ctx, sessionId);

  const std::optional<DatTarget> target = DatTargetOf(header);
  if (!target) return {-1};
  const std::optional<std::string> body = SignedBody(*target, sessionId, *profile);
  if (!body) return {-1};

  FetchRequest fetch;
  fetch.method = "POST";
  fetch.url = DatUrl(cfg, *target);
  fetch.agent = profile->UserAgent.Narrow();
  fetch.headerLines = DatHeaderLines(header);
  fetch.body = *body;
  fetch.acceptType = "Accept: */*";
  fetch.logFlag = true;
  FetchResponse response;
  if (!FetchUrl(ctx, fetch, &response, nullptr)) return {kCodeSendFailed};  // errorDetail holds the cause
  return HandleAnswer(ctx, response, header, bytesSent);
}

}  // namespace

RouteResult GetDatByApi(CGateway& ctx, const Request& request, const RouteOptions&) {
  if (!ctx.cfg || ctx.apiSession == nullptr) return RouteResult::Failure(-1);
  // A refused session is cleared, so the second pass logs in anew; a second
  // refusal ends the request.
  for (int pass = 0; pass < 2; ++pass) {
    std::int64_t bytesSent = 0;
    const AttemptOutcome outcome = RequestDat(ctx, request, bytesSent);
    if (!outcome.notAuthorized) return RouteResult::FromCode(outcome.status, bytesSent);
  }
  return RouteResult::Failure(kCodeSessionExpired);
}

}  // namespace tav
