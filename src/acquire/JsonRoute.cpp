#include "acquire/JsonRoute.h"

#include <cstring>
#include <string>
#include <vector>

#include "acquire/DatAnswer.h"
#include "acquire/JsonToDat.h"
#include "net/CGateway.h"
#include "net/RequestParser.h"
#include "net/UpstreamClient.h"
#include "platform/TextCodec.h"

namespace tav {
namespace {

constexpr int kFetchFailed = 33037;
constexpr int kGzipFailed = 33039;
constexpr std::size_t kRequestLineLimit = 1024;
constexpr std::size_t kAddressPartLimit = 255;
constexpr std::size_t kBoardDateLimit = 1023;
// Largest decoded size of a compressed answer that is accepted.
constexpr std::uint32_t kMaxInflatedSize = 0xF0000;
constexpr std::size_t kInflateSlack = 1024;
constexpr char kGzipMagic[] = "\x1F\x8B\x08\x00";
constexpr std::size_t kGzipMagicLength = 4;

// Server label, board and key of the requested thread.
struct ThreadAddress {
  std::string server;
  std::string board;
  std::string key;
};

std::string UpTo(std::string_view text, char stop, std::size_t limit) {
  return std::string(text.substr(0, std::min(text.find(stop), limit)));
}

// The key is the last path segment of an archived thread ("/kako/"), else
// what follows "/dat/"; either is cut at its first dot. False when the path
// has neither.
bool ReadThreadAddress(std::string_view host, std::string_view path, ThreadAddress& address) {
  address.server = UpTo(host, '.', kAddressPartLimit);
  const std::string_view afterSlash = path.substr(path.empty() || path[0] != '/' ? 0 : 1);
  address.board = UpTo(afterSlash, '/', kAddressPartLimit);

  std::string_view keyStart;
  if (path.find("/kako/") != std::string_view::npos) {
    keyStart = path.substr(path.rfind('/') + 1);
  } else if (const auto dat = path.find("/dat/"); dat != std::string_view::npos) {
    keyStart = path.substr(dat + 5);
  } else {
    return false;
  }
  address.key = UpTo(keyStart, '.', kAddressPartLimit);
  return true;
}

// The adult board domain has an endpoint host of its own; the others follow
// the 5ch switch.
const std::string& EndpointHost(const SettingValues& cfg, std::string_view requestLine) {
  const BoardDomains& domains = cfg.Domains;
  if (!domains.Adult.empty() && requestLine.find(domains.Adult) != std::string_view::npos) return domains.JsonAdult;
  return cfg.Use5ch != 0 ? domains.JsonSecondary : domains.JsonPrimary;
}

std::string EndpointUrl(const std::string& host, const ThreadAddress& address) {
  return "http://" + host + "/public/newapi/client.php?subdomain=" + address.server + "&board=" + address.board +
         "&dat=" + address.key;
}

std::string ExtraHeaderLines(const CHttpHeaderInfo& header, bool acceptGzip) {
  std::string lines = "Connection: close\r\nAccept-Language: ja,en-us;q=0.7,en;q=0.3\r\n";
  if (acceptGzip) lines += "Accept-Encoding: gzip, deflate\r\n";
  if (!header.ifModifiedSince.Empty()) lines += "If-Modified-Since: " + header.ifModifiedSince.Narrow() + "\r\n";
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

// The JSON text of the answer's body, decoded when it is gzip. 0 or 33039.
int JsonText(const CGateway& ctx, const std::string& body, std::string& json) {
  if (body.size() < kGzipMagicLength || std::memcmp(body.data(), kGzipMagic, kGzipMagicLength) != 0) {
    json = body;
    return 0;
  }
  // The gzip trailer ends with the decoded size, little-endian.
  const auto* tail = reinterpret_cast<const unsigned char*>(body.data() + body.size() - 4);
  const std::uint32_t size = tail[0] | (tail[1] << 8) | (tail[2] << 16) | (static_cast<std::uint32_t>(tail[3]) << 24);
  if (size > kMaxInflatedSize) return kGzipFailed;
  std::vector<char> decoded(size + kInflateSlack, '\0');
  std::int64_t length = static_cast<std::int64_t>(decoded.size());
  if (InflateBody(&ctx, decoded.data(), length, body.data(), static_cast<std::int64_t>(body.size())) != 0) {
    return kGzipFailed;
  }
  json.assign(decoded.data(), static_cast<std::size_t>(length));
  return 0;
}

}  // namespace

int GetDatByJson(CGateway& ctx, std::string_view request, std::int64_t& bytesSent, CHttpHeaderInfo& header,
                 int acceptGzip) {
  bytesSent = 0;
  if (!ctx.cfg) return -1;
  const SettingValues& cfg = *ctx.cfg;

  ThreadAddress address;
  if (!ReadThreadAddress(header.host.Narrow(), header.target.Narrow(), address)) return -1;

  FetchRequest fetch;
  fetch.url = Cp932ToUtf16(EndpointUrl(EndpointHost(cfg, FirstLine(request, kRequestLineLimit)), address));
  fetch.agent = cfg.UseHtmlUA == 0 ? cfg.JsonUserAgent.Wide() : cfg.HtmlUserAgent.Wide();
  fetch.extraHeaderBytes = ExtraHeaderLines(header, acceptGzip != 0);
  fetch.acceptType = u"text/html, application/xhtml+xml, */*";
  fetch.logFlag = true;

  FetchResponse answer;
  if (!FetchUrl(ctx, fetch, &answer, nullptr)) return kFetchFailed;
  const std::string headers = answer.NarrowHeaders();
  if (headers.find("\r\n\r\n") == std::string::npos) return -1;
  const std::string boardDate = BoardDate(headers);

  std::string json;
  if (const int decoded = JsonText(ctx, answer.body, json); decoded != 0) return decoded;
  answer.body.clear();

  std::string dat;
  // The dat may take twice the answer's length, as much as its buffer holds.
  const int posts = JsonToDat(json, dat, cfg.JsonRemoveHalfSpace != 0, 2 * json.size());
  if (posts < 0) return posts;
  return SendDatAnswer(ctx, dat, header.rangeStart, boardDate, bytesSent);
}

}  // namespace tav
