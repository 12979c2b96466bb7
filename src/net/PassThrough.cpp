#include "net/PassThrough.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "config/StringTable.h"
#include "net/CGateway.h"
#include "net/RequestParser.h"
#include "net/SocketSend.h"
#include "net/UpstreamClient.h"
#include "platform/TextCodec.h"

namespace tav {
namespace {

constexpr std::string_view kCrlf = "\r\n";
constexpr std::string_view kBlankLine = "\r\n\r\n";
constexpr std::string_view kAcceptLanguage = "Accept-Language: ja,en-US;q=0.7,en;q=0.3\r\n";
constexpr std::string_view kFormType = "application/x-www-form-urlencoded";

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// Moves every occurrence of the primary domain (and its aliases) to the
// secondary domain, anywhere in the text: request line, headers and body.
void MoveDomain(std::string& text, const BoardDomains& domains) {
  std::vector<std::string_view> from{domains.Primary};
  for (const auto& alias : domains.Aliases) from.push_back(alias);
  for (std::string_view old : from) {
    if (old.empty() || old == domains.Secondary) continue;
    std::string moved;
    moved.reserve(text.size());
    std::size_t start = 0;
    for (auto hit = text.find(old); hit != std::string::npos; hit = text.find(old, start)) {
      moved.append(text, start, hit - start).append(domains.Secondary);
      start = hit + old.size();
    }
    moved.append(text, start);
    text.swap(moved);
  }
}

bool MentionsBoardPath(std::string_view text, const std::vector<std::string_view>& suffixes) {
  for (std::string_view suffix : suffixes) {
    if (Contains(text, std::string(suffix) + "/")) return true;
  }
  return false;
}

// Offset of the header line that starts with `prefix`, or npos.
std::size_t FindLine(std::string_view block, std::string_view prefix) {
  if (block.substr(0, prefix.size()) == prefix) return 0;
  const auto hit = block.find(std::string(kCrlf) + std::string(prefix));
  return hit == std::string_view::npos ? hit : hit + kCrlf.size();
}

// Replaces the whole line at `lineStart` (with its CRLF) by `replacement`.
std::string ReplaceLine(std::string_view block, std::size_t lineStart, std::string_view replacement) {
  const auto lineEnd = block.find(kCrlf, lineStart);
  std::string result(block.substr(0, lineStart));
  result.append(replacement);
  if (lineEnd != std::string_view::npos) result.append(block.substr(lineEnd + kCrlf.size()));
  return result;
}

std::string LineValue(std::string_view block, std::size_t lineStart, std::size_t nameLength) {
  const auto lineEnd = block.find(kCrlf, lineStart);
  return std::string(block.substr(lineStart + nameLength, lineEnd - lineStart - nameLength));
}

// The agent lines that replace the reader's User-Agent line, or empty. The
// [HTML] agent (with its Accept-Language line) takes precedence over FakeUA.
std::string AgentReplacement(const SettingValues& cfg) {
  if (cfg.DatMode == 2 && cfg.ApplyAllUA != 0 && !cfg.HtmlUserAgent.Empty()) {
    return "User-Agent: " + cfg.HtmlUserAgent.Narrow() + std::string(kCrlf) + std::string(kAcceptLanguage);
  }
  if (cfg.EnableFakeUA != 0 && !cfg.FakeUA.Empty()) return "User-Agent: " + cfg.FakeUA.Narrow() + std::string(kCrlf);
  return {};
}

// The request after the rewrites: what goes to FetchUrl.
struct Rebuilt {
  std::string method;
  std::string url;
  std::string headers;  // header lines, ending with the blank line
  std::optional<std::string> body;
  bool moreFollows = false;  // bytes of a next request came behind this one
};

// Calls `visit` with every CRLF line of `block` (without its CRLF) and the
// offset where it starts.
template <typename Visit>
void ForEachLine(std::string_view block, Visit visit) {
  for (std::size_t start = 0; start < block.size();) {
    auto end = block.find(kCrlf, start);
    if (end == std::string_view::npos) end = block.size();
    visit(block.substr(start, end - start), start);
    start = end + kCrlf.size();
  }
}

// The request as its framing delimits it: the header block with its blank
// line, and the body: Content-Length bytes; without that field a post's
// bytes after the header, and no body for the other methods. Bytes after the
// body belong to the next request on the connection.
struct Framed {
  std::string head;
  std::string body;
  bool moreFollows = false;
};

std::optional<Framed> Frame(std::string_view text) {
  const auto blank = text.find(kBlankLine);
  if (blank == std::string_view::npos) return std::nullopt;
  Framed framed;
  framed.head = std::string(text.substr(0, blank + kBlankLine.size()));
  const std::string_view rest = text.substr(blank + kBlankLine.size());
  std::optional<std::size_t> declared;
  ForEachLine(std::string_view(framed.head).substr(0, blank), [&](std::string_view line, std::size_t) {
    if (!declared && EqualsIgnoringCase(FieldName(line), "Content-Length")) {
      declared = static_cast<std::size_t>(std::max(0, ParseHeaderNumber(line.substr(FieldName(line).size() + 1))));
    }
  });
  const std::size_t length = declared ? std::min(*declared, rest.size()) : framed.head.starts_with("POST") ? rest.size() : 0;
  framed.body = std::string(rest.substr(0, length));
  // Empty lines between requests are allowed and mean nothing.
  framed.moreFollows = rest.substr(length).find_first_not_of(kCrlf) != std::string_view::npos;
  return framed;
}

// Fields that concern only the reader's connection to this proxy, never the
// server: the hop-by-hop fields, those the Connection field names, and
// Transfer-Encoding (the body goes out whole, framed by its length).
std::string WithoutHopByHopFields(std::string_view headers) {
  static constexpr std::array<std::string_view, 7> kHopByHop = {
      "Proxy-Authorization", "Proxy-Connection", "Keep-Alive", "TE", "Trailer", "Upgrade", "Transfer-Encoding"};
  std::vector<std::string_view> named(kHopByHop.begin(), kHopByHop.end());
  ForEachLine(headers, [&](std::string_view line, std::size_t) {
    const std::string_view name = FieldName(line);
    if (!EqualsIgnoringCase(name, "Connection")) return;
    std::string_view options = line.substr(name.size() + 1);
    while (!options.empty()) {
      const auto comma = options.find(',');
      const std::string_view option = TrimBlanks(options.substr(0, comma));
      if (!option.empty()) named.push_back(option);
      options = comma == std::string_view::npos ? std::string_view{} : options.substr(comma + 1);
    }
  });
  std::string kept;
  kept.reserve(headers.size());
  bool dropping = false;
  ForEachLine(headers, [&](std::string_view line, std::size_t start) {
    const bool continuation = !line.empty() && (line[0] == ' ' || line[0] == '\t');
    if (!continuation) {
      const std::string_view name = FieldName(line);
      dropping = !name.empty() && std::any_of(named.begin(), named.end(), [&](std::string_view hop) {
        return EqualsIgnoringCase(name, hop);
      });
    }
    if (!dropping) kept.append(headers.substr(start, std::min(line.size() + kCrlf.size(), headers.size() - start)));
  });
  return kept;
}

void RewriteAgent(const SettingValues& cfg, bool post, std::string& headers) {
  const auto agentLine = FindLine(headers, "User-Agent: ");
  if (agentLine == std::string::npos) return;
  const std::string replacement = AgentReplacement(cfg);
  if (!replacement.empty()) headers = ReplaceLine(headers, agentLine, replacement);
  // The block ends with its blank line, so the added line follows it; the
  // upstream client skips the blank line and sends the line with the others.
  if (post && cfg.WriteUrlencoded != 0 && !Contains(headers, kFormType)) {
    headers.append("Content-Type: ").append(kFormType).append(kCrlf);
  }
}

void RewriteAccept(const SettingValues& cfg, std::string& headers) {
  const auto acceptLine = FindLine(headers, "Accept: ");
  if (acceptLine == std::string::npos || cfg.AcceptHeader.Empty()) return;
  headers = ReplaceLine(headers, acceptLine, cfg.AcceptHeader.Narrow() + std::string(kCrlf));
}

// https has its own default port: an explicit ":80" of the plain-http
// request must not follow the request to https, in the URL or in the Host
// line.
void DropPort80(Rebuilt& out) {
  constexpr std::string_view kPort80 = ":80";
  const std::size_t hostStart = std::string_view("https://").size();
  const auto authorityEnd = std::min(out.url.find_first_of("/?#", hostStart), out.url.size());
  if (std::string_view(out.url).substr(0, authorityEnd).ends_with(kPort80)) {
    out.url.erase(authorityEnd - kPort80.size(), kPort80.size());
  }
  constexpr std::string_view kHost = "Host: ";
  const auto hostLine = FindLine(out.headers, kHost);
  if (hostLine == std::string::npos) return;
  const std::string host = LineValue(out.headers, hostLine, kHost.size());
  if (host.ends_with(kPort80)) {
    out.headers = ReplaceLine(out.headers, hostLine,
                              std::string(kHost) + host.substr(0, host.size() - kPort80.size()) + std::string(kCrlf));
  }
}

void RewriteForBoardHost(const SettingValues& cfg, bool post, Rebuilt& out) {
  if (cfg.HtmlSSL != 0 && !Contains(out.url, "https") && out.url.starts_with("http://")) {
    out.url = "https://" + out.url.substr(7);
    DropPort80(out);
  }
  if (post) {
    const auto referer = FindLine(out.headers, "Referer: http:");
    if (referer != std::string::npos) out.headers.insert(referer + std::string_view("Referer: http").size(), "s");
  }
}

// A URL that names port 443 without https is meant to be https. A bare
// "host:443" target gets the scheme and a path; an "http://" URL only the
// scheme (prefixing it whole would make the scheme part of the host name).
void UpgradePort443(std::string& url) {
  if (Contains(url, "https") || !Contains(url, ":443")) return;
  url = url.starts_with("http://") ? "https://" + url.substr(7) : "https://" + url + "/";
}

bool HostIsBoard(std::string_view headers, const BoardDomains& domains) {
  const auto hostLine = FindLine(headers, "Host: ");
  if (hostLine == std::string_view::npos) return false;
  return IsBoardHost(domains, LineValue(headers, hostLine, std::string_view("Host: ").size()));
}

std::optional<Rebuilt> Rebuild(const SettingValues& cfg, std::string_view request) {
  auto framed = Frame(request);
  if (!framed) return std::nullopt;
  // The body is delimited before the move, which may change its length.
  if (cfg.NetworkReplace != 0) {
    MoveDomain(framed->head, cfg.Domains);
    MoveDomain(framed->body, cfg.Domains);
  }
  const std::string text = framed->head + framed->body;
  // Absolute-URL mode off: the target is the full URL the reader sent.
  Request parsed;
  if (ParseRequestHeader(text, parsed, false) != 0) return std::nullopt;
  const auto lineEnd = text.find(kCrlf);
  if (lineEnd == std::string::npos) return std::nullopt;

  Rebuilt out{std::string(MethodName(parsed.method)), parsed.target, framed->head.substr(lineEnd + kCrlf.size()), {},
              framed->moreFollows};
  std::string body = std::move(framed->body);
  if (body.size() > 1 && body.ends_with(kCrlf)) body.resize(body.size() - kCrlf.size());
  if (!body.empty()) out.body = std::move(body);

  const bool post = out.method == "POST";
  const auto suffixes = cfg.Domains.Suffixes();
  const bool boardPath = MentionsBoardPath(text, suffixes);
  if (boardPath) RewriteAgent(cfg, post, out.headers);
  if (boardPath && post && cfg.WriteAcceptHeader != 0) RewriteAccept(cfg, out.headers);
  if (HostIsBoard(out.headers, cfg.Domains)) RewriteForBoardHost(cfg, post, out);
  UpgradePort443(out.url);
  out.headers = WithoutHopByHopFields(out.headers);
  return out;
}

// The log status of a fetch that failed: the string of its cause where the
// string table has one.
int FailureStatus(FetchFailure failure) {
  switch (failure) {
    case FetchFailure::kResolve:
      return kStrHostNotFound;
    case FetchFailure::kConnect:
      return kStrConnectFailed;
    case FetchFailure::kTimeout:
      return kStrReceiveTimeout;
    case FetchFailure::kProxyConnect:
      return kStrProxyConnectError;
    case FetchFailure::kProxyRefused:
      return kStrProxyError;
    case FetchFailure::kAnswerCut:
      return kStrFailed;
    default:
      return kStrSendFailed;
  }
}

}  // namespace

RouteResult HandlePassThrough(CGateway& ctx, const Request& request, const RouteOptions&) {
  static const SettingValues kDefaults;
  const SettingValues& cfg = ctx.cfg ? *ctx.cfg : kDefaults;
  const auto rebuilt = Rebuild(cfg, request.text);
  if (!rebuilt) return RouteResult::Failure(-1);

  FetchRequest fetch;
  fetch.method = rebuilt->method;
  fetch.url = rebuilt->url;
  fetch.headerLines = rebuilt->headers;
  fetch.body = rebuilt->body;
  fetch.acceptType = "Accept: */*";
  fetch.readerSocket = ctx.readerSocket;
  fetch.logFlag = true;
  std::int64_t size = 0;
  FetchReport report;
  const bool fetched = FetchUrl(ctx, fetch, nullptr, &size, &report);
  // The reader sees the end of this answer by the end of the connection;
  // the bytes behind the request are never taken for its body.
  if (rebuilt->moreFollows) ctx.closeAfter = true;
  if (fetched) return RouteResult::Answered(size);
  ctx.closeAfter = true;
  RouteResult failed = RouteResult::Failure(FailureStatus(report.failure));
  if (report.answerStarted) {
    // The reader has part of the answer; closing shows it cut short.
    failed.bytesSent = size;
  } else if (ctx.readerSocket >= 0) {
    const auto failure =
        report.failure == FetchFailure::kTimeout ? GatewayFailure::kGatewayTimeout : GatewayFailure::kBadGateway;
    failed.bytesSent = static_cast<std::int64_t>(SendGatewayFailure(
        ctx.readerSocket, failure, DescribeFetchFailure(report), WritableWaitSeconds(cfg.ReceiveTimeOut), ctx.cancel));
  }
  return failed;
}

}  // namespace tav
