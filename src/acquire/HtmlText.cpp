#include "acquire/HtmlText.h"

#include <string.h>

#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#endif

#include <climits>

#include "acquire/ConvertOptions.h"

namespace tav::html {
namespace {

constexpr std::string_view kLinkOpen = "<a href=\"http";
constexpr std::string_view kTagEnd = "\">";
constexpr std::string_view kLinkClose = "</a>";
constexpr std::string_view kImageHttp = "<img src=\"http://";
constexpr std::string_view kImageRelative = "<img src=\"//";
constexpr std::string_view kImageOpen = "<img src=\"";  // what both image prefixes start with
constexpr std::string_view kImageLink = "sssp://";
constexpr std::string_view kBrSpaceBr = "<br> <br>";
constexpr std::string_view kBrTwoSpacesBr = "<br>  <br>";
constexpr std::string_view kBrBr = "<br><br>";
constexpr std::string_view kEmailSpan = "<span class=\"__cf_email__\" data-cfemail=\"";
constexpr std::string_view kScriptEnd = "</script>";
constexpr std::string_view kBeScriptLinkOpen = "<a href=\"javascript:be(";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Replaces every `from` with `to`, left to right, without looking into the
// replaced text again.
void ReplaceAll(std::string_view text, std::string_view from, std::string_view to, std::string& out) {
  out.clear();
  std::size_t pos = 0;
  for (std::size_t hit = Find(text, from); hit != npos; hit = Find(text, from, pos)) {
    out.append(text.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text.substr(pos));
}

// Links "<a href="http..." ...>TEXT</a>" reduced to TEXT; a link that does
// not close ends the message just before it. `firstOpen` is where the first
// link opens.
void StripLinks(std::string_view text, std::size_t firstOpen, std::string& out) {
  out.clear();
  std::size_t pos = 0;
  for (std::size_t open = firstOpen;; open = Find(text, kLinkOpen, pos)) {
    if (open == npos) {
      out.append(text.substr(pos));
      return;
    }
    out.append(text.substr(pos, open - pos));
    const std::size_t tagEnd = Find(text, kTagEnd, open + kLinkOpen.size());
    if (tagEnd == npos) return;
    const std::size_t close = Find(text, kLinkClose, tagEnd + kTagEnd.size());
    if (close == npos) return;
    out.append(text.substr(tagEnd + kTagEnd.size(), close - tagEnd - kTagEnd.size()));
    pos = close + kLinkClose.size();
  }
}

// Image tags opened by `prefix` turned into "sssp://" links to their source.
// A tag without its closing "\">" leaves the rest of the text as it is.
void RewriteImages(std::string_view text, std::string_view prefix, std::string& out) {
  out.clear();
  std::size_t pos = 0;
  for (;;) {
    const std::size_t open = Find(text, prefix, pos);
    if (open == npos) break;
    const std::size_t source = open + prefix.size();
    const std::size_t close = Find(text, kTagEnd, source);
    if (close == npos) break;
    out.append(text.substr(pos, open - pos));
    out.append(kImageLink);
    out.append(text.substr(source, close - source));
    pos = close + kTagEnd.size();
  }
  out.append(text.substr(pos));
}

}  // namespace

std::optional<std::string_view> Between(std::string_view text, std::string_view open, std::string_view close) {
  const std::size_t start = Find(text, open);
  if (start == npos) return std::nullopt;
  const std::size_t from = start + open.size();
  const std::size_t end = Find(text, close, from);
  if (end == npos) return std::nullopt;
  return text.substr(from, end - from);
}

std::string_view CutField(std::string_view text) { return text.substr(0, kMaxFieldLength); }

std::string_view UpToNul(std::string_view text) {
  if (text.empty()) return text;
  const void* nul = memchr(text.data(), '\0', text.size());
  return nul == nullptr ? text : text.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()));
}

namespace {

// Position of the first LF or CR (or, with `nulEndsLine`, NUL) at or after
// `pos`, or the text's size; sixteen bytes are tested at once.
std::size_t LineEnd(std::string_view text, std::size_t pos, bool nulEndsLine) {
  const char* const base = text.data();
  const char* p = base + pos;
  const char* const end = base + text.size();
#if defined(__SSE2__)
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i third = _mm_set1_epi8(nulEndsLine ? '\0' : '\n');
  while (end - p >= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int mask = _mm_movemask_epi8(_mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(block, lf), _mm_cmpeq_epi8(block, cr)), _mm_cmpeq_epi8(block, third)));
    if (mask != 0) {
      return static_cast<std::size_t>(p - base) + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
    p += 16;
  }
#endif
  while (p < end && *p != '\n' && *p != '\r' && !(nulEndsLine && *p == '\0')) ++p;
  return static_cast<std::size_t>(p - base);
}

}  // namespace

std::string_view NextLine(std::string_view text, std::size_t& pos, bool nulEndsLine) {
  if (pos >= text.size()) {
    pos = text.size();
    return {};
  }
  std::size_t end = LineEnd(text, pos, nulEndsLine);
  const std::string_view line = text.substr(pos, end - pos);
  if (end < text.size()) {
    end += (text[end] != '\n' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1;
  }
  pos = end;
  return line;
}

int ReadNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value <= INT_MAX) value = value * 10 + (text[i] - '0');
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

bool CollapseSpaces(std::string_view text, std::string& out) {
  constexpr std::string_view kTwoSpaces = "  ";
  std::size_t hit = Find(text, kTwoSpaces);
  if (hit == npos) return false;
  out.clear();
  out.reserve(text.size());
  std::size_t pos = 0;
  while (hit != npos) {
    // The text up to the run's first space is kept, the rest of the run left out.
    out.append(text.substr(pos, hit + 1 - pos));
    pos = hit + 1;
    while (pos < text.size() && text[pos] == ' ') ++pos;
    hit = Find(text, kTwoSpaces, pos);
  }
  out.append(text.substr(pos));
  return true;
}

std::string ConvertBe(std::string_view text, std::string_view prefix, std::string_view terminator,
                      bool cutAtLinkEnd) {
  const std::size_t start = Find(text, prefix);
  if (start == npos) return std::string(text);
  const std::size_t number = start + prefix.size();
  const std::size_t end = Find(text, terminator, number);
  if (end == npos) return std::string(text);

  std::string result(text.substr(0, start));
  result.append("BE:");
  result.append(text.substr(number, end - number));
  result.push_back('-');
  result.append(text.substr(end + terminator.size()));
  if (start != 0) result.resize(result.size() >= 4 ? result.size() - 4 : 0);
  if (cutAtLinkEnd) {
    const std::size_t linkEnd = Find(result, kLinkClose);
    if (linkEnd != npos) result.resize(linkEnd);
  }
  return result;
}

std::string ConvertBeScriptLink(std::string_view text) {
  std::string out;
  ConvertBeScriptLink(text, out);
  return out;
}

void ConvertBeScriptLink(std::string_view text, std::string& out) {
  if (Contains(text, kBeScriptLinkOpen)) {
    out = ConvertBe(text, kBeScriptLinkOpen, ");\">?", false);
  } else {
    out.assign(text);
  }
}

std::string ConvertBeProfileLink(std::string_view text, std::string_view profileHost) {
  std::string prefix = "<a href=\"http://";
  prefix.append(profileHost);
  prefix.append("/user/");
  return ConvertBe(text, prefix, "\" target=\"_blank\">?", true);
}

std::size_t HexRunLength(std::string_view text) {
  std::size_t n = 0;
  while (n < text.size() && HexValue(text[n]) >= 0) ++n;
  return n;
}

std::string DecodeProtectedEmail(std::string_view hexDigits) {
  std::string address;
  if (hexDigits.size() < 2) return address;
  const int key = HexValue(hexDigits[0]) * 16 + HexValue(hexDigits[1]);
  for (std::size_t i = 2; i + 1 < hexDigits.size(); i += 2) {
    const int c = (HexValue(hexDigits[i]) * 16 + HexValue(hexDigits[i + 1])) ^ key;
    if (c == 0) break;  // the text would end here
    address.push_back(static_cast<char>(c));
  }
  return address;
}

std::optional<std::string> ProtectedEmailOf(std::string_view linkTarget) {
  constexpr std::string_view kCode = "email-protection#";
  const std::size_t at = Find(linkTarget, kCode);
  if (at == npos) return std::nullopt;
  const std::string_view digits = linkTarget.substr(at + kCode.size());
  return DecodeProtectedEmail(digits.substr(0, HexRunLength(digits)));
}

std::string DecodeEmailSpans(std::string_view name) {
  std::string out;
  DecodeEmailSpans(name, out);
  return out;
}

void DecodeEmailSpans(std::string_view name, std::string& out) {
  if (!Contains(name, kEmailSpan)) {
    out.assign(name);
    return;
  }
  out.clear();
  std::size_t pos = 0;
  for (;;) {
    const std::size_t span = Find(name, kEmailSpan, pos);
    if (span == npos) break;
    const std::size_t digits = span + kEmailSpan.size();
    const std::size_t scriptEnd = Find(name, kScriptEnd, digits);
    if (scriptEnd == npos) break;  // not a whole construct: left as it is
    out.append(name.substr(pos, span - pos));
    const std::string_view rest = name.substr(digits, scriptEnd - digits);
    out.append(DecodeProtectedEmail(rest.substr(0, HexRunLength(rest))));
    pos = scriptEnd + kScriptEnd.size();
  }
  out.append(name.substr(pos));
}

std::string EmailLinkReplacement(std::string_view afterTarget, std::size_t& digitCount) {
  digitCount = HexRunLength(afterTarget);
  return "mailto:" + DecodeProtectedEmail(afterTarget.substr(0, digitCount));
}

bool RepairEmailLink(std::string_view post, std::string& repaired) {
  const std::size_t link = Find(post, kEmailLinkTarget);
  if (link == npos) return false;
  std::size_t digitCount = 0;
  std::string result(post.substr(0, link));
  const std::string_view after = post.substr(link + kEmailLinkTarget.size());
  result.append(EmailLinkReplacement(after, digitCount));
  result.append(after.substr(digitCount));
  repaired.swap(result);
  return true;
}

std::string_view MessageCleaner::Clean(std::string_view message, const Steps& steps) {
  std::string_view current = message;
  std::string* holder = nullptr;  // the buffer `current` lies in, if any
  auto spare = [&]() -> std::string& {
    holder = (holder == &first_) ? &second_ : &first_;
    return *holder;
  };
  if (const std::size_t link = Find(current, kLinkOpen); link != npos) {
    std::string& out = spare();
    StripLinks(current, link, out);
    current = out;
  }
  // A text without an image tag's start has work for neither image step.
  const bool images = Contains(current, kImageOpen);
  for (std::string_view prefix : {kImageHttp, kImageRelative}) {
    if (images && Contains(current, prefix)) {
      std::string& out = spare();
      RewriteImages(current, prefix, out);
      current = out;
    }
  }
  if (steps.removeHalfSpace) {
    std::string* previous = holder;
    std::string& out = spare();
    if (CollapseSpaces(current, out)) {
      current = out;
    } else {
      holder = previous;
    }
  }
  if (steps.fixBrBr && Contains(current, kBrSpaceBr)) {
    std::string& out = spare();
    ReplaceAll(current, kBrSpaceBr, kBrTwoSpacesBr, out);
    current = out;
  }
  // A final "<br><br>" is dropped only when it is the message's first one.
  if (steps.dropFinalBrBr && EndsWith(current, kBrBr)) {
    const std::size_t brbr = Find(current, kBrBr);
    if (brbr != npos && brbr + kBrBr.size() == current.size()) current = current.substr(0, brbr);
  }
  return current;
}

}  // namespace tav::html
