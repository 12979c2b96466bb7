#include "acquire/HtmlRoute.h"

#include <vector>

#include "acquire/CDatCache.h"
#include "acquire/DatAnswer.h"
#include "acquire/HtmlConverter.h"
#include "acquire/PageConversion.h"
#include "net/CGateway.h"
#include "net/GzipBody.h"
#include "net/IShell.h"
#include "net/Request.h"
#include "net/UpstreamClient.h"
#include "platform/CBregOnig.h"
#include "platform/TextCodec.h"

namespace tav {
namespace {

constexpr int kStatusBadReply = -1;
constexpr int kStatusRedirected = -302;
constexpr int kStatusEmptyBody = -990;
constexpr GzipLimits kPageGzip{983040, 65535, true};

const std::string& FtpFillerLine() {
  static const std::string line = Sjis("ftpバグ<>ftpバグ<>ftpバグ<>ftpバグ<>\n");
  return line;
}

// The board's domain for this request: the adult domain when the request
// line names it, else the secondary domain with the "5ch" switch on.
const std::string& BoardDomain(const SettingValues& cfg, const Request& request) {
  if (request.requestLine.substr(0, 1023).find(cfg.Domains.Adult) != std::string::npos) return cfg.Domains.Adult;
  return cfg.Use5ch != 0 ? cfg.Domains.Secondary : cfg.Domains.Primary;
}

std::string HeaderLines(bool gzip, const Request& request) {
  std::string lines = "Connection: close\r\nAccept-Language: ja,en-US;q=0.7,en;q=0.3\r\n";
  if (gzip) lines += "Accept-Encoding: gzip, deflate\r\n";
  if (!request.ifModifiedSince.empty()) lines += "If-Modified-Since: " + request.ifModifiedSince + "\r\n";
  return lines + "\r\n";
}

std::string BoardDate(std::string_view headers) {
  std::size_t at = headers.find("Date: ");
  if (at == std::string_view::npos) return {};
  std::string_view value = headers.substr(at + 6);
  return std::string(value.substr(0, value.find_first_of("\r\n")));
}

std::string WithoutFirstLine(std::string_view text) {
  std::size_t lineEnd = text.find('\n');
  return lineEnd == std::string_view::npos ? std::string() : std::string(text.substr(lineEnd + 1));
}

// The posts of the thread's FTP-bug entry, when the settings have one.
const std::vector<std::int32_t>* FtpBugPosts(const SettingValues& cfg, const ThreadRef& thread) {
  std::string wanted = thread.board + "/" + thread.key;
  for (const FtpBugEntry& entry : cfg.FtpBugEntries) {
    if (Utf16ToCp932(entry.board) + "/" + Utf16ToCp932(entry.thread) == wanted && !entry.posts.empty()) {
      return &entry.posts;
    }
  }
  return nullptr;
}

// One page of the thread: the posts a range suffix names.
struct PageAsk {
  std::string rangeSuffix;  // "", "N-" or "N-M"
  int firstExpected = 1;    // the number of the first post the page should hold
  int cachedCount = -1;     // DiffMode's M
  bool wholeThread = true;  // a 520 answer opens the FTP-bug tool
};

struct Page {
  int status = 0;  // 0, or the code that ends the request
  std::string text;
  int count = 0;   // the converter's result
  std::string boardDate;

  static Page Ended(int status) {
    Page page;
    page.status = status;
    return page;
  }
};

Page FetchPage(CGateway& ctx, const Request& request, bool gzip, const PageAsk& ask) {
  const SettingValues& cfg = *ctx.cfg;
  const ThreadRef& thread = request.thread;
  const bool https = cfg.HtmlSSL != 0 || request.httpsTarget;
  const std::string url = std::string(https ? "https" : "http") + "://" + thread.server + BoardDomain(cfg, request) +
                          "/test/read.cgi/" + thread.board + "/" + thread.key + "/" + ask.rangeSuffix;
  Page page;
  FetchRequest fetch;
  fetch.url = url;
  fetch.agent = cfg.HtmlUserAgent.Narrow();
  fetch.headerLines = HeaderLines(gzip, request);
  fetch.acceptType = "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
  fetch.logFlag = true;
  FetchResponse reply;
  if (!FetchUrl(ctx, fetch, &reply, nullptr)) return Page::Ended(kCodeSendFailed);
  const std::string headers = reply.headers;
  if (headers.find("\r\n\r\n") == std::string::npos) return Page::Ended(kStatusBadReply);

  if (headers.find("HTTP/1.1 520 Origin Error") != std::string::npos) {
    if (cfg.FixFTPBug != 0 && ask.wholeThread && ctx.shell != nullptr) {
      ctx.shell->OpenFtpBugDialog(thread.server, thread.board, thread.key);
    }
    return Page::Ended(kStatusFtpBug);
  }
  page.boardDate = BoardDate(headers);

  if (reply.body.empty()) {
    return Page::Ended(headers.find("HTTP/1.1 302 Found") != std::string::npos ? kStatusRedirected : kStatusEmptyBody);
  }
  std::string text;
  if (!DecodeBody(std::move(reply.body), kPageGzip, text)) return Page::Ended(kCodeGzipFailed);

  static const CBregOnig unloaded(false);
  const CBregOnig& engine = ctx.regex != nullptr ? *ctx.regex : unloaded;
  ConvertCall call;
  call.cachedCount = ask.cachedCount;
  call.firstExpected = ask.firstExpected;
  // A page without posts fails here (nothing is sent), so that a reader
  // never replaces its log with an empty dat.
  PageConversion converted = ConvertThreadPage(text, call, cfg, engine);
  page.count = converted.result;
  page.text = std::move(converted.text);
  return page;
}

// The thread read in segments around its broken posts, with a filler line
// where each broken post was. The pieces are fetched in order; the first
// failure ends the fetch.
Page FetchAroundBrokenPosts(CGateway& ctx, const Request& request, bool gzip, const std::vector<std::int32_t>& posts) {
  Page whole;
  const std::size_t n = posts.size();
  for (std::size_t i = 0; i <= n; ++i) {
    PageAsk ask;
    ask.wholeThread = false;
    Page piece;
    if (i == 0) {
      ask.rangeSuffix = "1-" + std::to_string(posts[0] - 1);
      // The broken post is the first one: there is no page of the posts before it.
      if (posts[0] > 1) piece = FetchPage(ctx, request, gzip, ask);
    } else if (i < n) {
      ask.rangeSuffix = std::to_string(posts[i - 1] + 1) + "-" + std::to_string(posts[i] - 1);
      ask.firstExpected = posts[i - 1] + 1;
      piece = FetchPage(ctx, request, gzip, ask);
    } else {
      ask.rangeSuffix = std::to_string(posts[n - 1] + 1) + "-";
      ask.firstExpected = posts[n - 1] + 1;
      piece = FetchPage(ctx, request, gzip, ask);
    }
    if (piece.status != 0) return piece;
    if (piece.count < 0) return piece;  // the overload page among them
    whole.text += i == 0 ? piece.text : WithoutFirstLine(piece.text);
    if (i < n) {
      whole.text += FtpFillerLine();
    } else {
      whole.count = piece.count + posts[n - 1] - 1;
      whole.boardDate = std::move(piece.boardDate);
    }
  }
  return whole;
}

RouteResult FetchWithCompression(CGateway& ctx, const Request& request, bool gzip) {
  const SettingValues& cfg = *ctx.cfg;
  const ThreadRef& thread = request.thread;
  if (thread.kind == ThreadKind::None || thread.kind == ThreadKind::Subject) return RouteResult::Failure(kStatusBadReply);
  const bool diffMode = cfg.DiffMode != 0 && ctx.datCache != nullptr;
  const std::int64_t rangeStart = UsableRangeStart(request.rangeStart);

  Page page;
  int cachedCount = -1;
  const std::vector<std::int32_t>* broken = nullptr;
  if (cfg.FixFTPBug != 0 && (rangeStart == -1 || ctx.datCache == nullptr ||
                             ctx.datCache->Lookup(thread.server, thread.key) == -1)) {
    broken = FtpBugPosts(cfg, thread);
  }
  if (broken != nullptr) {
    const std::vector<std::int32_t> posts = *broken;
    page = FetchAroundBrokenPosts(ctx, request, gzip, posts);
  } else {
    if (diffMode) cachedCount = DiffModeCachedCount(*ctx.datCache, true, rangeStart, thread.server, thread.key);
    PageAsk ask;
    ask.cachedCount = cachedCount;
    if (cachedCount > 0) ask.rangeSuffix = std::to_string(cachedCount) + "-";
    page = FetchPage(ctx, request, gzip, ask);
  }
  if (page.status != 0) return RouteResult::FromCode(page.status, 0);

  std::int64_t bytesSent = 0;
  if (page.count == kConvertOverload) {
    SendOverloadAnswer(ctx, bytesSent);
    return RouteResult::Answered(bytesSent);
  }
  if (page.count < 0) return RouteResult::Failure(page.count);

  if (!diffMode) {
    SendDatAnswer(ctx, page.text, rangeStart, page.boardDate, bytesSent);
    return RouteResult::Answered(bytesSent);
  }
  DiffModeAnswerInput input;
  input.diffMode = true;
  input.rangeStart = rangeStart;
  input.cachedCount = cachedCount;
  input.converterResult = page.count;
  input.text = page.text;
  input.server = thread.server;
  input.key = thread.key;
  input.datCacheCount = cfg.DatCacheCount;
  // The count is read after the send: the two may not be arguments of one call.
  const int code = SendDiffModeAnswer(ctx, input, page.boardDate, bytesSent);
  return RouteResult::FromCode(code, bytesSent);
}

}  // namespace

RouteResult FetchThreadHtml(CGateway& ctx, const Request& request, const RouteOptions& options) {
  RouteResult result = FetchWithCompression(ctx, request, options.offerGzip);
  // A compressed page that could not be used: ask once more for it plain.
  if (options.offerGzip && result.status == RouteStatus::Failed && result.code == kCodeGzipFailed) {
    result = FetchWithCompression(ctx, request, false);
  }
  return result;
}

}  // namespace tav
