#include "net/RequestParser.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <string>

namespace tav {
namespace {

constexpr std::size_t kMaxLine = 4095;
constexpr std::array<std::string_view, 4> kMethods = {"GET", "HEAD", "POST", "CONNECT"};

std::string_view UpToLineEnd(std::string_view text, std::size_t maxBytes) {
  std::size_t end = text.find_first_of(std::string_view("\r\n\0", 3));
  if (end == std::string_view::npos) end = text.size();
  return text.substr(0, std::min(end, maxBytes));
}

// The value of a header field found anywhere in the text (case-sensitive,
// first occurrence), starting `skip` bytes after the field name's start.
std::optional<std::string_view> FieldValue(std::string_view text, std::string_view name, std::size_t skip) {
  std::size_t at = text.find(name);
  if (at == std::string_view::npos) return std::nullopt;
  std::size_t start = std::min(at + skip, text.size());
  return UpToLineEnd(text.substr(start), kMaxLine);
}

// "http://host[:port]/path" -> "/path"; nullopt when no "/" follows the host.
std::optional<std::string_view> PathOfAbsoluteUrl(std::string_view target, std::size_t schemeLength) {
  std::size_t slash = target.find('/', schemeLength);
  if (slash == std::string_view::npos) return std::nullopt;
  return target.substr(slash);
}

bool IsHostPortTarget(std::string_view target) {
  std::size_t colon = target.rfind(':');
  if (colon == std::string_view::npos || colon == 0 || colon + 1 == target.size()) return false;
  return std::all_of(target.begin() + static_cast<std::ptrdiff_t>(colon) + 1, target.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

// "host:80" / "host:443" -> "host"; other values unchanged.
std::string_view WithoutDefaultPort(std::string_view host) {
  for (std::string_view port : {std::string_view(":80"), std::string_view(":443")}) {
    if (host.size() > port.size() && host.substr(host.size() - port.size()) == port) {
      return host.substr(0, host.size() - port.size());
    }
  }
  return host;
}

// A CR that does not end a line, or both framing fields: a request whose
// end two readers of it could see in different places.
bool HasAmbiguousFraming(std::string_view head) {
  for (std::size_t cr = head.find('\r'); cr != std::string_view::npos; cr = head.find('\r', cr + 1)) {
    if (cr + 1 >= head.size() || head[cr + 1] != '\n') return true;
  }
  bool length = false, coding = false;
  for (std::size_t start = 0; start < head.size();) {
    std::size_t end = head.find("\r\n", start);
    if (end == std::string_view::npos) end = head.size();
    const std::string_view name = FieldName(head.substr(start, end - start));
    length = length || EqualsIgnoringCase(name, "Content-Length");
    coding = coding || EqualsIgnoringCase(name, "Transfer-Encoding");
    start = end + 2;
  }
  return length && coding;
}

}  // namespace

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string_view FieldName(std::string_view line) {
  const auto colon = line.find(':');
  return colon == std::string_view::npos ? std::string_view{} : line.substr(0, colon);
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::int32_t ParseRangeStart(std::string_view value) {
  const std::size_t dash = value.find('-');
  if (dash == std::string_view::npos) return -1;
  // The number rule on the text before the "-": a suffix range ("-500") has
  // nothing there and starts at 0. A start that does not fit a non-negative
  // 32-bit number is no usable range at all.
  std::string_view text = value.substr(0, dash);
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i < text.size() && text[i] == '+') ++i;
  const bool hex = text.substr(i, 2) == "0x";
  if (hex) i += 2;
  constexpr std::uint64_t kLimit = static_cast<std::uint64_t>(INT32_MAX);
  std::uint64_t start = 0;
  for (; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (hex ? std::isxdigit(c) == 0 : std::isdigit(c) == 0) break;
    const int digit = std::isdigit(c) != 0 ? c - '0' : std::tolower(c) - 'a' + 10;
    start = start * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
    if (start > kLimit) return -1;
  }
  return static_cast<std::int32_t>(start);
}

std::int32_t ParseHeaderNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  std::uint32_t value = 0;
  if (text.substr(i, 2) == "0x") {
    for (i += 2; i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])); ++i) {
      char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
      value = value * 16 + static_cast<std::uint32_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    }
  } else {
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
      value = value * 10 + static_cast<std::uint32_t>(text[i] - '0');
    }
  }
  // Wraps like the 32-bit arithmetic it stands for; never undefined.
  return static_cast<std::int32_t>(negative ? 0u - value : value);
}

std::optional<std::size_t> FindSjisChar(std::string_view text, char wanted, bool last) {
  std::optional<std::size_t> found;
  for (std::size_t i = 0; i < text.size() && text[i] != '\0'; ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (IsSjisLeadByte(c)) {
      ++i;  // the trail byte is never compared
      continue;
    }
    if (text[i] == wanted) {
      found = i;
      if (!last) break;
    }
  }
  return found;
}

std::string_view FirstLine(std::string_view text, std::size_t maxBytes) { return UpToLineEnd(text, maxBytes); }

std::string_view MethodName(Method method) {
  return kMethods[static_cast<std::size_t>(method)];
}

ThreadRef ParseThreadRef(std::string_view host, std::string_view path) {
  auto before = [](std::string_view text, char stop) { return std::string(text.substr(0, text.find(stop))); };
  ThreadRef ref;
  std::string_view rest = path.substr(path.starts_with('/') ? 1 : 0);
  if (path.find("subject.txt") != std::string_view::npos) {
    ref.kind = ThreadKind::Subject;
  } else if (path.find("/kako/") != std::string_view::npos) {
    ref.kind = ThreadKind::Kako;
    ref.key = before(path.substr(path.rfind('/') + 1), '.');
  } else if (std::size_t dat = path.find("/dat/"); dat != std::string_view::npos) {
    ref.kind = ThreadKind::Dat;
    ref.key = before(path.substr(dat + 5), '.');
  } else {
    return ref;
  }
  ref.server = before(host, '.');
  ref.board = before(rest, '/');
  return ref;
}

int ParseRequestHeader(std::string_view text, Request& header, bool absoluteUrlMode) {
  header = Request{};
  std::size_t blank = text.find("\r\n\r\n");
  if (blank == std::string_view::npos) return -1;
  if (HasAmbiguousFraming(text.substr(0, blank + 2))) return -1;

  std::string_view line = UpToLineEnd(text, kMaxLine);
  auto firstSpace = FindSjisChar(line, ' ');
  if (!firstSpace) return -1;
  std::string_view methodText = line.substr(0, *firstSpace);
  auto method = std::find(kMethods.begin(), kMethods.end(), methodText);
  if (method == kMethods.end()) return -1;
  header.method = static_cast<Method>(method - kMethods.begin());
  header.requestLine.assign(line);

  std::string_view rest = line.substr(*firstSpace + 1);
  std::size_t secondSpace = rest.find(' ');
  if (secondSpace == std::string_view::npos) return -1;
  std::string_view target = rest.substr(0, secondSpace);

  if (absoluteUrlMode) {
    std::size_t schemeLength = 0;
    if (target.starts_with("http://")) schemeLength = 7;
    if (target.starts_with("https://")) {
      schemeLength = 8;
      header.httpsTarget = true;
    }
    if (schemeLength != 0) {
      auto path = PathOfAbsoluteUrl(target, schemeLength);
      if (!path) return -1;
      target = *path;
    }
  }
  header.target.assign(target);
  bool isConnect = *method == "CONNECT";
  bool usable = target.find('/') != std::string_view::npos || target.find(":443") != std::string_view::npos ||
                (isConnect && IsHostPortTarget(target));
  if (!usable) return -1;

  if (auto v = FieldValue(text, "Host:", 6)) header.host.assign(WithoutDefaultPort(*v));
  if (auto v = FieldValue(text, "User-Agent:", 12)) header.userAgent.assign(*v);
  if (auto v = FieldValue(text, "Range: bytes=", 13)) header.rangeStart = ParseRangeStart(*v);
  if (auto v = FieldValue(text, "Content-Length:", 15)) header.contentLength = ParseHeaderNumber(*v);
  if (auto v = FieldValue(text, "If-Modified-Since:", 19)) header.ifModifiedSince.assign(*v);
  if (text.find("Connection: close\r\n") != std::string_view::npos) header.close = true;
  if (text.find("Accept-Encoding: gzip") != std::string_view::npos) header.acceptsGzip = true;
  if (auto v = FieldValue(text, "Cookie:", 8)) header.cookie.assign(*v);

  std::size_t bodyStart = blank + 4;
  if (bodyStart < text.size()) {
    std::size_t available = text.size() - bodyStart;
    std::size_t length = available;
    if (header.contentLength > 0) {
      length = std::min(available, static_cast<std::size_t>(header.contentLength));
    } else {
      header.contentLength = static_cast<std::int32_t>(available);
    }
    header.body.assign(text.substr(bodyStart, length));
  }
  header.text.assign(text);
  header.thread = ParseThreadRef(header.host, header.target);
  return 0;
}

}  // namespace tav
