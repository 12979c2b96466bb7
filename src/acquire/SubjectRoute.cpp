#include "acquire/SubjectRoute.h"

#include <string>

#include "acquire/DatAnswer.h"
#include "net/CGateway.h"
#include "net/ReaderSocket.h"
#include "net/GzipBody.h"
#include "net/Request.h"
#include "net/UpstreamClient.h"
#include "platform/TextCodec.h"

namespace tav {
namespace {

constexpr int kStatusBadReply = -1;
constexpr int kStatusListLinkWithoutSlash = -1;
constexpr int kStatusListLinkWithoutTitle = -2;
constexpr int kStatusMalformedLink = -1;
constexpr int kStatusRefused = kCodeRefused;
constexpr int kStatusSendFailed = kCodeSendFailed;

constexpr std::size_t kMaxKeyLength = 20;

// Both pages are asked for with the reader's own agent, a browser's Accept
// line and no compression offered.
constexpr char kAcceptType[] = "text/html, application/xhtml+xml, */*";
constexpr char kHeaderLines[] = "Connection: close\r\nAccept-Language: ja,en-us;q=0.7,en;q=0.3\r\n";

std::string_view Before(std::string_view text, char stop) { return text.substr(0, text.find(stop)); }

std::string_view After(std::string_view text, std::string_view marker) {
  std::size_t at = text.find(marker);
  return at == std::string_view::npos ? std::string_view() : text.substr(at + marker.size());
}

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// The adult board domain when the request is addressed to it, else the
// secondary domain with the "5ch" switch on, else the primary domain.
const std::string& BoardDomain(const SettingValues& cfg, std::string_view addressedTo) {
  if (!cfg.Domains.Adult.empty() && Contains(addressedTo, cfg.Domains.Adult)) return cfg.Domains.Adult;
  return cfg.Use5ch != 0 ? cfg.Domains.Secondary : cfg.Domains.Primary;
}

std::string BoardPageUrl(const CGateway& ctx, const Request& request, std::string_view addressedTo,
                         std::string_view page) {
  const bool https = ctx.cfg->HtmlSSL != 0 || request.httpsTarget;
  return std::string(https ? "https" : "http") + "://" + request.thread.server + BoardDomain(*ctx.cfg, addressedTo) +
         "/" + request.thread.board + "/" + std::string(page);
}

// The value of the reply's Date line, or empty.
std::string BoardDate(std::string_view headers) {
  std::string_view value = After(headers, "\r\nDate: ");
  return std::string(value.substr(0, value.find_first_of("\r\n")));
}

// The status code of the reply's status line, or 0 when there is none.
int ReplyStatus(std::string_view headers) {
  std::string_view code = After(Before(headers, '\r'), " ");
  if (code.size() < 3) return 0;
  int status = 0;
  for (char c : code.substr(0, 3)) {
    if (c < '0' || c > '9') return 0;
    status = status * 10 + (c - '0');
  }
  return status;
}

constexpr GzipLimits kPageGzip{983040, 1024, false};

struct BoardPage {
  std::string headers;
  std::string text;
};

// Fetches one of the board's pages with the given extra header lines.
// 0, or the status that ends the request.
int FetchBoardPage(CGateway& ctx, const Request& request, const std::string& url, const std::string& headerLines,
                   bool showInLog, BoardPage& page) {
  FetchRequest fetch;
  fetch.url = url;
  fetch.agent = request.userAgent;
  fetch.headerLines = headerLines;
  fetch.acceptType = kAcceptType;
  fetch.logFlag = showInLog;
  FetchResponse reply;
  if (!FetchUrl(ctx, fetch, &reply, nullptr)) return kStatusSendFailed;
  page.headers = reply.headers;
  if (!Contains(page.headers, "\r\n\r\n")) return kStatusBadReply;
  return DecodeBody(std::move(reply.body), kPageGzip, page.text) ? 0 : kCodeGzipFailed;
}

// Appends the subject.txt line of one list link ("1234567890/l50\">1: title
// (10)"): the key is the link text's first 20 bytes cut at the first "/",
// the entry text everything after the first ": ".
int AppendSubjectLine(std::string_view linkText, std::string& list) {
  std::string_view keyPart = linkText.substr(0, kMaxKeyLength);
  std::size_t slash = keyPart.find('/');
  if (slash == std::string_view::npos) return kStatusListLinkWithoutSlash;
  std::size_t colon = linkText.find(": ");
  if (colon == std::string_view::npos) return kStatusListLinkWithoutTitle;
  list.append(keyPart.substr(0, slash));
  list.append(".dat<>");
  list.append(linkText.substr(colon + 2));
  list.push_back('\n');
  return 0;
}

// The subject.txt lines of a subback page, one per link to a thread's last
// fifty posts, in the order of the page. Other links are skipped.
int SubjectListFromSubback(std::string_view page, std::string& list) {
  constexpr std::string_view kLinkStart = "<a href=\"";
  constexpr std::string_view kLinkEnd = "</a>";
  std::size_t at = 0;
  while (true) {
    std::size_t start = page.find(kLinkStart, at);
    if (start == std::string_view::npos) return 0;
    start += kLinkStart.size();
    std::size_t end = page.find(kLinkEnd, start);
    if (end == std::string_view::npos) return 0;
    std::string_view linkText = page.substr(start, end - start);
    at = end + kLinkEnd.size();
    if (!Contains(linkText, "/l50")) continue;
    if (int status = AppendSubjectLine(linkText, list); status != 0) return status;
  }
}

// A not-modified answer for a reader whose list is still current.
std::string NotModifiedAnswer(std::string_view boardDate) {
  std::string answer = "HTTP/1.1 304 Not Modified\r\nConnection: close\r\n";
  if (!boardDate.empty()) {
    answer += "Last-Modified: ";
    answer += boardDate.substr(0, kMaxBoardDateLength);
    answer += "\r\n";
  }
  return answer + "\r\n";
}

// The first index link that names `key` and a read.cgi path, or empty.
std::string_view FindThreadLink(std::string_view page, std::string_view key) {
  constexpr std::string_view kLinkStart = "<a href=";
  constexpr std::string_view kLinkEnd = "</a>";
  std::size_t at = 0;
  while (true) {
    std::size_t start = page.find(kLinkStart, at);
    if (start == std::string_view::npos) return {};
    start += kLinkStart.size();
    std::size_t end = page.find(kLinkEnd, start);
    if (end == std::string_view::npos) return {};
    std::string_view linkText = page.substr(start, end - start);
    if (Contains(linkText, key) && Contains(linkText, "read.cgi/")) return linkText;
    at = end + kLinkEnd.size();
  }
}

struct ThreadLocation {
  std::string server;
  std::string board;
  std::string key;
};

// A server label, board or key as the boards name them: letters, digits,
// "_" and "-".
bool IsPlainName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    const bool plain =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    if (!plain) return false;
  }
  return true;
}

// Reads "//server.domain/test/read.cgi/board/key/" from a link. False when
// a "//", "." or "/" is missing, or when a part is not a plain name: the
// label becomes part of the host the thread is fetched from, and a label
// such as "localhost:8080/test/read" would move the fetch to another host.
bool ReadThreadLocation(std::string_view link, ThreadLocation& location) {
  std::size_t slashes = link.find("//");
  if (slashes == std::string_view::npos) return false;
  std::string_view afterSlashes = link.substr(slashes + 2);
  std::size_t dot = afterSlashes.find('.');
  if (dot == std::string_view::npos) return false;

  std::string_view path = After(link, "read.cgi/");
  std::size_t boardEnd = path.find('/');
  if (boardEnd == std::string_view::npos) return false;
  std::string_view keyPart = path.substr(boardEnd + 1, kMaxKeyLength);
  std::size_t keyEnd = keyPart.find('/');
  if (keyEnd == std::string_view::npos) return false;

  location.server = std::string(afterSlashes.substr(0, dot));
  location.board = std::string(path.substr(0, boardEnd));
  location.key = std::string(keyPart.substr(0, keyEnd));
  return IsPlainName(location.server) && IsPlainName(location.board) && IsPlainName(location.key);
}

int SubjectList(CGateway& ctx, const Request& request, std::int64_t& bytesSent) {
  std::string headerLines = kHeaderLines;
  if (!request.ifModifiedSince.empty()) headerLines += "If-Modified-Since: " + request.ifModifiedSince + "\r\n";
  headerLines += "\r\n";
  const std::string url = BoardPageUrl(ctx, request, request.requestLine.substr(0, 1023), "subback.html");

  BoardPage page;
  if (int status = FetchBoardPage(ctx, request, url, headerLines, true, page); status != 0) return status;
  const std::string boardDate = BoardDate(page.headers);

  // The reader asked with If-Modified-Since and the board has nothing newer:
  // an empty list would make the reader drop every thread it lists.
  const int replyStatus = ReplyStatus(page.headers);
  if (replyStatus == 304) {
    std::string answer = NotModifiedAnswer(boardDate);
    bytesSent = static_cast<std::int64_t>(answer.size());
    SendToReader(ctx, ctx.readerSocket, answer.data(), bytesSent);
    return 0;
  }
  // Neither is an error page a list the reader should take for the board's.
  if (replyStatus != 0 && (replyStatus < 200 || replyStatus > 299)) return kStatusRefused;

  std::string list;
  list.reserve(page.text.size());
  if (int status = SubjectListFromSubback(page.text, list); status != 0) return status;
  return SendDatAnswer(ctx, list, -1, boardDate, bytesSent);
}

}  // namespace

RouteResult FetchSubjectFromSubback(CGateway& ctx, const Request& request, const RouteOptions&) {
  std::int64_t bytesSent = 0;
  const int status = SubjectList(ctx, request, bytesSent);
  return RouteResult::FromCode(status, bytesSent);
}

int ResolveHeadlineDat(CGateway& ctx, Request& request) {
  const std::string key = request.thread.key;
  // Every link would name an empty key.
  if (key.empty()) return 0;

  const std::string url = BoardPageUrl(ctx, request, request.host, "index.html");
  BoardPage page;
  if (int status = FetchBoardPage(ctx, request, url, std::string(kHeaderLines) + "\r\n", false, page); status != 0) {
    return status;
  }

  std::string_view link = FindThreadLink(page.text, key);
  if (link.empty()) return 0;
  ThreadLocation location;
  if (!ReadThreadLocation(link, location)) return kStatusMalformedLink;

  const std::string& host = request.host;
  const std::size_t dot = host.find('.');
  request.host = location.server + (dot == std::string::npos ? std::string() : host.substr(dot));
  request.target = "/" + location.board + "/dat/" + location.key + ".dat";
  const ThreadKind kind = request.thread.kind;
  request.thread = ParseThreadRef(request.host, request.target);
  request.thread.kind = kind;
  return 0;
}

}  // namespace tav
