#include "acquire/JsonRoute.h"

#include <string>

#include "acquire/DatAnswer.h"
#include "acquire/JsonToDat.h"
#include "net/CGateway.h"
#include "net/GzipBody.h"
#include "net/Request.h"
#include "net/UpstreamClient.h"
#include "platform/TextCodec.h"

namespace tav {
namespace {

constexpr std::size_t kRequestLineLimit = 1024;
constexpr std::size_t kAddressPartLimit = 255;
constexpr std::size_t kBoardDateLimit = 1023;
// Largest decoded size of a compressed answer that is accepted.
constexpr GzipLimits kJsonGzip{0xF0000, 1024, false};

std::string Cut(const std::string& text) { return text.substr(0, kAddressPartLimit); }

// The adult board domain has an endpoint host of its own; the others follow
// the 5ch switch.
const std::string& EndpointHost(const SettingValues& cfg, std::string_view requestLine) {
  const BoardDomains& domains = cfg.Domains;
  if (!domains.Adult.empty() && requestLine.find(domains.Adult) != std::string_view::npos) return domains.JsonAdult;
  return cfg.Use5ch != 0 ? domains.JsonSecondary : domains.JsonPrimary;
}

std::string EndpointUrl(const std::string& host, const ThreadRef& thread) {
  return "http://" + host + "/public/newapi/client.php?subdomain=" + Cut(thread.server) +
         "&board=" + Cut(thread.board) + "&dat=" + Cut(thread.key);
}

std::string ExtraHeaderLines(const Request& header, bool acceptGzip) {
  std::string lines = "Connection: close\r\nAccept-Language: ja,en-us;q=0.7,en;q=0.3\r\n";
  if (acceptGzip) lines += "Accept-Encoding: gzip, deflate\r\n";
  if (!header.ifModifiedSince.empty()) lines += "If-Modified-Since: " + header.ifModifiedSince + "\r\n";
  lines += "X-Requested-With: XMLHttpRequest\r\n";
  lines += "\r\n";
  return lines;
}

// The value of the answer's "Date:" header line, or empty.
std::string BoardDate(std::string_view headers) {
  std::size_t pos = 0;
  while (pos < headers.size()) {
    const std::size_t end = std::min(headers.find("\r\n", pos), headers.size());
    const std::string_view line = headers.substr(pos, end - pos);
    if (line.starts_with("Date: ")) return std::string(line.substr(6, kBoardDateLimit));
    pos = end + 2;
  }
  return {};
}

int JsonAnswer(CGateway& ctx, const Request& request, bool acceptGzip, std::int64_t& bytesSent) {
  const SettingValues& cfg = *ctx.cfg;
  const ThreadRef& thread = request.thread;
  if (thread.kind != ThreadKind::Dat && thread.kind != ThreadKind::Kako && thread.kind != ThreadKind::Headline) return -1;

  FetchRequest fetch;
  fetch.url = EndpointUrl(EndpointHost(cfg, request.requestLine.substr(0, kRequestLineLimit)), thread);
  fetch.agent = cfg.UseHtmlUA == 0 ? cfg.JsonUserAgent.Narrow() : cfg.HtmlUserAgent.Narrow();
  fetch.headerLines = ExtraHeaderLines(request, acceptGzip);
  fetch.acceptType = "text/html, application/xhtml+xml, */*";
  fetch.logFlag = true;

  FetchResponse answer;
  if (!FetchUrl(ctx, fetch, &answer, nullptr)) return kCodeSendFailed;
  const std::string headers = answer.headers;
  if (headers.find("\r\n\r\n") == std::string::npos) return -1;
  const std::string boardDate = BoardDate(headers);

  std::string json;
  if (!DecodeBody(std::move(answer.body), kJsonGzip, json)) return kCodeGzipFailed;

  std::string dat;
  // The dat may take twice the answer's length, as much as its buffer holds.
  const int posts = JsonToDat(json, dat, cfg.JsonRemoveHalfSpace != 0, 2 * json.size());
  if (posts < 0) return posts;
  return SendDatAnswer(ctx, dat, request.rangeStart, boardDate, bytesSent);
}

}  // namespace

RouteResult GetDatByJson(CGateway& ctx, const Request& request, const RouteOptions& options) {
  if (!ctx.cfg) return RouteResult::Failure(-1);
  std::int64_t bytesSent = 0;
  const int status = JsonAnswer(ctx, request, options.offerGzip, bytesSent);
  return RouteResult::FromCode(status, bytesSent);
}

}  // namespace tav
