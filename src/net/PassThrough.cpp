#include "net/PassThrough.h"

#include <optional>
#include <string>
#include <vector>

#include "net/CGateway.h"
#include "net/RequestParser.h"
#include "net/UpstreamClient.h"
#include "platform/TextCodec.h"

namespace tav {
namespace {

constexpr std::string_view kCrlf = "\r\n";
constexpr std::string_view kBlankLine = "\r\n\r\n";
constexpr std::string_view kAcceptLanguage = "Accept-Language: ja,en-US;q=0.7,en;q=0.3\r\n";
constexpr std::string_view kFormType = "application/x-www-form-urlencoded";

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// The suffixes under which hosts count as board hosts.
std::vector<std::string_view> BoardSuffixes(const BoardDomains& domains) {
  std::vector<std::string_view> suffixes{domains.Primary, domains.Secondary, domains.Adult};
  for (const auto& alias : domains.Aliases) suffixes.push_back(alias);
  std::erase_if(suffixes, [](std::string_view s) { return s.empty(); });
  return suffixes;
}

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
};

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

void RewriteForBoardHost(const SettingValues& cfg, bool post, Rebuilt& out) {
  if (cfg.HtmlSSL != 0 && !Contains(out.url, "https") && out.url.starts_with("http://")) {
    out.url = "https://" + out.url.substr(7);
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

bool HostIsBoard(std::string_view headers, const std::vector<std::string_view>& suffixes) {
  const auto hostLine = FindLine(headers, "Host: ");
  if (hostLine == std::string_view::npos) return false;
  const std::string host = LineValue(headers, hostLine, std::string_view("Host: ").size());
  for (std::string_view suffix : suffixes) {
    if (Contains(host, suffix)) return true;
  }
  return false;
}

std::optional<Rebuilt> Rebuild(const SettingValues& cfg, std::string text) {
  if (cfg.NetworkReplace != 0) MoveDomain(text, cfg.Domains);
  // Absolute-URL mode off: the target is the full URL the reader sent.
  Request parsed;
  if (ParseRequestHeader(text, parsed, false) != 0) return std::nullopt;
  const auto lineEnd = text.find(kCrlf);
  const auto blank = text.find(kBlankLine);
  if (lineEnd == std::string::npos || blank == std::string::npos) return std::nullopt;

  Rebuilt out{std::string(MethodName(parsed.method)), parsed.target,
              text.substr(lineEnd + kCrlf.size(), blank + kBlankLine.size() - lineEnd - kCrlf.size()), {}};
  std::string body = text.substr(blank + kBlankLine.size());
  if (body.size() > 1 && body.ends_with(kCrlf)) body.resize(body.size() - kCrlf.size());
  if (!body.empty()) out.body = std::move(body);

  const bool post = out.method == "POST";
  const auto suffixes = BoardSuffixes(cfg.Domains);
  const bool boardPath = MentionsBoardPath(text, suffixes);
  if (boardPath) RewriteAgent(cfg, post, out.headers);
  if (boardPath && post && cfg.WriteAcceptHeader != 0) RewriteAccept(cfg, out.headers);
  if (HostIsBoard(out.headers, suffixes)) RewriteForBoardHost(cfg, post, out);
  UpgradePort443(out.url);
  return out;
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
  if (!FetchUrl(ctx, fetch, nullptr, &size)) return RouteResult::Failure(-1);
  return RouteResult::Answered(size);
}

}  // namespace tav
