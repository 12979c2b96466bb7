#pragma once
// The one shape every route has: called with the per-request context, the
// parsed request and its options; returns one typed result.

#include <cstdint>

namespace tav {

struct CGateway;
struct Request;

enum class RouteStatus {
  Answered,  // the reader got its answer
  Failed,    // nothing (or a failure answer) was written; `code` says why
  FtpBug,    // the board answered 520: posts of the thread break its page
  PastLog,   // the thread has fallen into the archive
};

// Codes the log shows for a failure: local negative codes of each route, or
// the ids of the string table below.
inline constexpr int kCodeFailed = 32768;       // "失敗"
inline constexpr int kCodeRefused = 33031;      // "取得失敗"
inline constexpr int kCodeApiKeyMissing = 33032;
inline constexpr int kCodeSendFailed = 33037;   // "SendHttpRequest失敗"
inline constexpr int kCodeGzipFailed = 33039;   // a gzip body too large or damaged
inline constexpr int kCodeSessionExpired = 33041;

struct RouteResult {
  RouteStatus status = RouteStatus::Answered;
  int code = 0;                  // the failure's code; 0 when answered
  std::int64_t bytesSent = 0;    // bytes written to the reader (or -1: "失敗")
  std::int64_t bytesReceived = -1;  // -1: the route reported no count of its own
  bool overload = false;         // the board answered with its overload page
  std::uint32_t errorDetail = 0; // the upstream client's last error

  bool Ok() const { return status == RouteStatus::Answered; }

  static RouteResult Answered(std::int64_t bytesSent) {
    RouteResult result;
    result.bytesSent = bytesSent;
    return result;
  }
  static RouteResult Failure(int code) {
    RouteResult result;
    result.status = RouteStatus::Failed;
    result.code = code;
    return result;
  }
  // Reads the 0 / code convention of a route's internal steps: 0 answered,
  // -99 the FTP bug, -999 the archive, anything else a failure.
  static RouteResult FromCode(int code, std::int64_t bytesSent);
};

// What the dispatcher asks of a route beyond the request itself.
struct RouteOptions {
  bool offerGzip = true;  // ask the board for a compressed page
};

using Route = RouteResult (*)(CGateway& ctx, const Request& request, const RouteOptions& options);

}  // namespace tav
