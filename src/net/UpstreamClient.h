#pragma once
// Every request the proxy itself sends to a server goes through FetchUrl.
//
// One call sends one HTTP/1.1 request and either collects the answer, streams
// it to the reader socket as it arrives, or both. Redirects are not followed
// and bodies are not decoded (a gzip body arrives as the server sent it); a
// chunked body is handed on de-chunked, and the first letter of its
// Transfer-Encoding line (whatever its case, "chunked" being the last coding
// listed) becomes "x" so that nobody de-chunks it a second time. A streamed
// answer whose end the reader cannot see from its header (de-chunked, or
// without Content-Length) sets the request's close flag, so that the end of
// the connection marks the end of the answer.

#include <cstdint>
#include <optional>
#include <string>

namespace tav {

struct CGateway;

// Every text is bytes as they go on the wire.
struct FetchRequest {
  std::string method = "GET";
  std::string url;                       // absolute http:// or https:// URL
  std::optional<std::string> agent;      // no value: no User-Agent of the client's own
  std::string headerLines;               // lines ending in "\r\n", sent as they are
  std::optional<std::string> body;       // sent by its length, NUL bytes included
  // The Accept line sent when the extra lines carry none ("Accept: */*", or a
  // bare type list such as "text/html, */*"). Empty: no Accept line.
  std::string acceptType;
  int readerSocket = -1;                 // stream headers and body to the reader
  bool logFlag = false;                  // report progress as events of the request
};

struct FetchResponse {
  // The final response's status line and header lines, CRLF-joined, ending
  // with the empty line ("\r\n\r\n"). Never an interim 1xx answer nor the
  // answer of a proxy to CONNECT.
  std::string headers;
  std::string body;        // as received (not decoded)
  std::int64_t headerUnits = 0;  // the header's length in UTF-16 units

  // Size as the access log counts it: two bytes per header unit plus the body.
  std::int64_t Size() const { return headerUnits * 2 + static_cast<std::int64_t>(body.size()); }
};

// Why a fetch failed, for callers that answer the reader themselves.
enum class FetchFailure {
  kNone,
  kBadUrl,
  kResolve,       // the server's name does not resolve
  kConnect,       // the server refused the connection or could not be reached
  kTls,           // the TLS handshake or the certificate check failed
  kTimeout,       // nothing arrived within ReceiveTimeOut
  kProxyConnect,  // the upstream proxy could not be reached
  kProxyRefused,  // the upstream proxy refused the CONNECT (proxyStatus)
  kNoAnswer,      // the connection failed or ended without an answer
  kAnswerCut,     // the answer had started and did not end properly
  kOther,
};

struct FetchReport {
  FetchFailure failure = FetchFailure::kNone;
  std::string server;         // "host:port" of the URL
  std::string proxy;          // the upstream proxy named by the settings, if any
  long proxyStatus = 0;       // the upstream proxy's answer to CONNECT when it refused
  bool answerStarted = false;  // the answer's header has been handed on
};

// The one line a reader reads in place of the server's answer when the
// fetch failed as `report` says ("Tavrilox: ...").
std::string DescribeFetchFailure(const FetchReport& report);

// Sends one request. `response` (optional) collects the answer; `size`
// (optional) receives the count described above, also when only streaming.
// Returns true when the request was answered and no read failed (a reader
// that stops taking bytes ends the transfer early without failing it).
// On return ctx.errorDetail holds the transfer's libcurl code (0 = fine) and
// `report` (optional) tells why the request failed.
//
// Settings used: ProxyMode / Proxy, RecvBufferSize, ReceiveTimeOut (also the
// limit for a transfer that makes no progress). Servers are always verified;
// the environment variable SSL_CERT_FILE (or CURL_CA_BUNDLE) may name the CA
// bundle to trust instead of the system store.
bool FetchUrl(CGateway& ctx, const FetchRequest& request, FetchResponse* response, std::int64_t* size,
              FetchReport* report = nullptr);

// Inflates gzip data (window bits 31) into `out`, whose capacity is given in
// `capacity` and replaced by the decoded length on success. 0 on success, -3
// for damaged or truncated data, another zlib code otherwise (Z_BUF_ERROR, -5,
// when the data decodes to more than the capacity).
int InflateBody(const CGateway* ctx, char* out, std::int64_t& capacity, const char* gzip, std::int64_t gzipLength);

}  // namespace tav
