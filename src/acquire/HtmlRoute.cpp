#include "acquire/HtmlRoute.h"

#include <cstring>

#include "acquire/CDatCache.h"
#include "acquire/DatAnswer.h"
#include "acquire/HtmlConverter.h"
#include "net/CGateway.h"
#include "net/IShell.h"
#include "net/RequestParser.h"
#include "net/UpstreamClient.h"
#include "platform/CBregOnig.h"
#include "platform/TextCodec.h"
#include "config/CSetting.h"

namespace tav {
namespace {

constexpr int kStatusBadReply = -1;
constexpr int kStatusRedirected = -302;
constexpr int kStatusEmptyBody = -990;
constexpr int kStatusSendFailed = 33037;
constexpr int kStatusGzipError = 33039;
constexpr std::uint32_t kMaxInflatedSize = 983040;  // a larger stated size is refused
constexpr std::size_t kInflateHeadroom = 65535;

const std::string& FtpFillerLine() {
  static const std::string line = Sjis("ftpバグ<>ftpバグ<>ftpバグ<>ftpバグ<>\n");
  return line;
}

std::string Before(std::string_view text, char stop) { return std::string(text.substr(0, text.find(stop))); }

// The board's domain for this request: the adult domain when the request
// line names it, else the secondary domain with the "5ch" switch on.
const std::string& BoardDomain(const SettingValues& cfg, std::string_view request) {
  std::string_view requestLine = FirstLine(request, 1023);
  if (requestLine.find(cfg.Domains.Adult) != std::string_view::npos) return cfg.Domains.Adult;
  return cfg.Use5ch != 0 ? cfg.Domains.Secondary : cfg.Domains.Primary;
}

std::string RangeSuffix(int segmentKind, const std::vector<std::int32_t>* posts, int index, int cachedCount) {
  auto at = [&](int i) { return (*posts)[static_cast<std::size_t>(i)]; };
  switch (segmentKind) {
    case kFirstSegment:
      return "1-" + std::to_string(at(index) - 1);
    case kMiddleSegment:
      return std::to_string(at(index - 1) + 1) + "-" + std::to_string(at(index) - 1);
    case kLastSegment:
      return std::to_string(at(index) + 1) + "-";
    default:
      return cachedCount > 0 ? std::to_string(cachedCount) + "-" : std::string();
  }
}

std::string HeaderLines(int gzip, const CHttpHeaderInfo& header) {
  std::string lines = "Connection: close\r\nAccept-Language: ja,en-US;q=0.7,en;q=0.3\r\n";
  if (gzip == 1) lines += "Accept-Encoding: gzip, deflate\r\n";
  if (!header.ifModifiedSince.Empty()) lines += "If-Modified-Since: " + header.ifModifiedSince.Narrow() + "\r\n";
  return lines + "\r\n";
}

std::string BoardDate(std::string_view headers) {
  std::size_t at = headers.find("Date: ");
  if (at == std::string_view::npos) return {};
  std::string_view value = headers.substr(at + 6);
  return std::string(value.substr(0, value.find_first_of("\r\n")));
}

bool IsGzip(std::string_view body) { return body.size() >= 4 && std::memcmp(body.data(), "\x1F\x8B\x08\x00", 4) == 0; }

// The page text of a reply body: inflated when it is gzip (NUL bytes become
// "*"), otherwise as it came. 0, or the status that ends the request.
int PageFromBody(CGateway& ctx, std::string_view headers, std::string& body, std::string& page) {
  if (IsGzip(body)) {
    const auto* tail = reinterpret_cast<const unsigned char*>(body.data() + body.size() - 4);
    std::uint32_t stated = tail[0] | (tail[1] << 8) | (tail[2] << 16) | (static_cast<std::uint32_t>(tail[3]) << 24);
    if (stated > kMaxInflatedSize) return kStatusGzipError;
    page.assign(stated + kInflateHeadroom, '\0');
    std::int64_t capacity = static_cast<std::int64_t>(page.size());
    if (InflateBody(&ctx, page.data(), capacity, body.data(), static_cast<std::int64_t>(body.size())) != 0) {
      return kStatusGzipError;
    }
    page.resize(static_cast<std::size_t>(capacity));
    for (char& c : page) {
      if (c == '\0') c = '*';
    }
    return 0;
  }
  if (body.empty()) {
    return headers.find("HTTP/1.1 302 Found") != std::string_view::npos ? kStatusRedirected : kStatusEmptyBody;
  }
  page = std::move(body);
  return 0;
}

std::string WithoutFirstLine(std::string_view text) {
  std::size_t lineEnd = text.find('\n');
  return lineEnd == std::string_view::npos ? std::string() : std::string(text.substr(lineEnd + 1));
}

// The posts of the thread's FTP-bug entry, when the settings have one.
const std::vector<std::int32_t>* FtpBugPosts(const SettingValues& cfg, const ThreadAddress& thread) {
  std::string wanted = thread.board + "/" + thread.key;
  for (const FtpBugEntry& entry : cfg.FtpBugEntries) {
    if (Utf16ToCp932(entry.board) + "/" + Utf16ToCp932(entry.thread) == wanted && !entry.posts.empty()) {
      return &entry.posts;
    }
  }
  return nullptr;
}

int FirstExpectedPost(int segmentKind, const std::vector<std::int32_t>* posts, int index) {
  if (segmentKind == kMiddleSegment) return (*posts)[static_cast<std::size_t>(index - 1)] + 1;
  if (segmentKind == kLastSegment) return (*posts)[static_cast<std::size_t>(index)] + 1;
  return 1;
}

}  // namespace

bool ReadThreadAddress(const CHttpHeaderInfo& header, ThreadAddress& address) {
  const std::string& path = header.target.Narrow();
  address.server = Before(header.host.Narrow(), '.');
  std::string_view rest = std::string_view(path).substr(path.starts_with("/") ? 1 : 0);
  address.board = Before(rest, '/');
  if (path.find("/kako/") != std::string::npos) {
    address.key = Before(std::string_view(path).substr(path.rfind('/') + 1), '.');
  } else if (std::size_t dat = path.find("/dat/"); dat != std::string::npos) {
    address.key = Before(std::string_view(path).substr(dat + 5), '.');
  } else {
    return false;
  }
  return true;
}

int FetchThreadHtml(CGateway& ctx, std::string_view request, std::int64_t& bytesSent, CHttpHeaderInfo& header,
                    int gzip, int segmentKind, const std::vector<std::int32_t>* posts, int index) {
  const SettingValues& cfg = *ctx.cfg;
  ThreadAddress thread;
  if (!ReadThreadAddress(header, thread)) return kStatusBadReply;
  const bool diffMode = cfg.DiffMode != 0 && ctx.datCache != nullptr;
  const std::int64_t rangeStart = UsableRangeStart(header.rangeStart);

  // A thread some of whose posts break its page is read around them.
  if (cfg.FixFTPBug != 0 && segmentKind == kWholeThread &&
      (rangeStart == -1 || ctx.datCache == nullptr ||
       ctx.datCache->Lookup(thread.server, thread.key) == -1)) {
    if (const auto* broken = FtpBugPosts(cfg, thread)) {
      const std::vector<std::int32_t> copy = *broken;
      return FetchThreadHtml(ctx, request, bytesSent, header, gzip, kFirstSegment, &copy, 0);
    }
  }

  const int cachedCount =
      segmentKind == kWholeThread && diffMode
          ? DiffModeCachedCount(*ctx.datCache, true, rangeStart, thread.server, thread.key)
          : -1;
  const bool https = cfg.HtmlSSL != 0 || header.httpsTarget;
  const std::string url = std::string(https ? "https" : "http") + "://" + thread.server +
                          BoardDomain(cfg, request) + "/test/read.cgi/" + thread.board + "/" + thread.key + "/" +
                          RangeSuffix(segmentKind, posts, index, cachedCount);

  std::string text;
  int count = 0;
  std::string boardDate;
  // The broken post is the first one: there is no page of the posts before it.
  const bool emptyFirstSegment = segmentKind == kFirstSegment && (*posts)[static_cast<std::size_t>(index)] <= 1;
  if (!emptyFirstSegment) {
    FetchRequest fetch;
    fetch.url = Utf8ToUtf16(url);
    fetch.agent = cfg.HtmlUserAgent.Wide();
    fetch.extraHeaders = Cp932ToUtf16(HeaderLines(gzip, header));
    fetch.acceptType = u"text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
    fetch.logFlag = true;
    FetchResponse reply;
    if (!FetchUrl(ctx, fetch, &reply, nullptr)) return kStatusSendFailed;
    const std::string headers = reply.NarrowHeaders();
    if (headers.find("\r\n\r\n") == std::string::npos) return kStatusBadReply;

    if (headers.find("HTTP/1.1 520 Origin Error") != std::string::npos) {
      if (cfg.FixFTPBug != 0 && segmentKind == kWholeThread && ctx.shell != nullptr) {
        ctx.shell->OpenFtpBugDialog(thread.server, thread.board, thread.key);
      }
      return kStatusFtpBug;
    }
    boardDate = BoardDate(headers);

    std::string page;
    if (int status = PageFromBody(ctx, headers, reply.body, page); status != 0) return status;

    static const CBregOnig unloaded(false);
    const CBregOnig& engine = ctx.setting != nullptr ? ctx.setting->Bregexp() : unloaded;
    ConvertCall call;
    call.cachedCount = cachedCount;
    call.firstExpected = FirstExpectedPost(segmentKind, posts, index);
    count = ConvertPage(ChooseConverter(page, cfg, engine), page, text, call, cfg, engine);
  }

  if (count == kConvertOverload) return SendOverloadAnswer(ctx, bytesSent);
  if (count < 0) return count;  // a segment fetch ends with its first failure

  std::string scratch;
  std::string& accumulator = ctx.textAccumulator != nullptr ? *ctx.textAccumulator : scratch;
  if (segmentKind == kFirstSegment || segmentKind == kMiddleSegment) {
    if (segmentKind == kFirstSegment) {
      accumulator = text;
    } else {
      accumulator += WithoutFirstLine(text);
    }
    accumulator += FtpFillerLine();
    const bool last = static_cast<std::size_t>(index) + 1 == posts->size();
    return FetchThreadHtml(ctx, request, bytesSent, header, gzip, last ? kLastSegment : kMiddleSegment, posts,
                           last ? index : index + 1);
  }
  if (segmentKind == kLastSegment) {
    accumulator += WithoutFirstLine(text);
    text = std::move(accumulator);
    accumulator.clear();
    count = count + (*posts)[static_cast<std::size_t>(index)] - 1;
  }

  if (!diffMode) return SendDatAnswer(ctx, text, rangeStart, boardDate, bytesSent);

  DiffModeAnswerInput input;
  input.diffMode = true;
  input.rangeStart = rangeStart;
  input.cachedCount = cachedCount;
  input.converterResult = count;
  input.text = text;
  input.server = thread.server;
  input.key = thread.key;
  input.datCacheCount = cfg.DatCacheCount;
  return SendDiffModeAnswer(ctx, input, boardDate, bytesSent);
}

}  // namespace tav
