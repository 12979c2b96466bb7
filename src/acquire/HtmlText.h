#pragma once
// Text operations the page converters share: byte-substring searches, the
// BE link conversion, the message clean-up and the decoding of protected
// e-mail addresses. All texts are Shift_JIS bytes.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ByteSearch.h"

namespace tav::html {

inline constexpr std::size_t npos = std::string_view::npos;

// Position of `needle` in `hay` at or after `from`, or npos.
inline std::size_t Find(std::string_view hay, std::string_view needle, std::size_t from = 0) {
  return FindBytes(hay, needle, from);
}
inline bool Contains(std::string_view hay, std::string_view needle) { return Find(hay, needle) != npos; }
// Whether `hay` holds every one of `needles`.
inline bool ContainsAll(std::string_view hay, const std::vector<std::string>& needles) {
  for (const std::string& needle : needles) {
    if (!Contains(hay, needle)) return false;
  }
  return true;
}
inline bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// The text between the first `open` and the next `close` after it.
std::optional<std::string_view> Between(std::string_view text, std::string_view open, std::string_view close);

// At most kMaxFieldLength bytes of `text`.
std::string_view CutField(std::string_view text);

// The text up to its first NUL byte.
std::string_view UpToNul(std::string_view text);

// The line starting at `pos` (without its end) and the start of the next
// line. A line ends at LF, CR (CR LF counts as one end) or the text's end;
// with `nulEndsLine`, a NUL ends it too, like a CR.
std::string_view NextLine(std::string_view text, std::size_t& pos, bool nulEndsLine = false);

// A decimal number as the page writes it: optional blanks and sign, then
// digits (none: 0); out-of-range values are held at the int limits.
int ReadNumber(std::string_view text);

// Every run of two or more spaces shortened to one. False (and `out`
// untouched) when the text has no such run.
bool CollapseSpaces(std::string_view text, std::string& out);
// The same on `text` itself, with `scratch` as the buffer it trades with.
inline void CollapseSpacesIn(std::string& text, std::string& scratch) {
  if (CollapseSpaces(text, scratch)) text.swap(scratch);
}

// BE link conversion: the text up to `prefix`, "BE:" number "-", the text
// after `terminator`; the last 4 bytes dropped when the prefix was not at the
// start; with `cutAtLinkEnd`, cut at the first "</a>". Text without the
// prefix, or with a prefix but no terminator, is returned as it is.
std::string ConvertBe(std::string_view text, std::string_view prefix, std::string_view terminator,
                      bool cutAtLinkEnd);
std::string ConvertBeScriptLink(std::string_view text);
// The same into `out`, whose buffer is reused: most dates hold no BE link.
// `text` must not lie in `out`.
void ConvertBeScriptLink(std::string_view text, std::string& out);
std::string ConvertBeProfileLink(std::string_view text, std::string_view profileHost);

// Decodes a protected e-mail address from its hexadecimal digits: the first
// pair is the key, each further pair XOR the key one character. Decoding
// stops at a character that would be NUL; an odd last digit is ignored.
std::string DecodeProtectedEmail(std::string_view hexDigits);
// Length of the run of hexadecimal digits at the start of `text`.
std::size_t HexRunLength(std::string_view text);

// The address a link target of the e-mail protection stands for (the hex
// digits after "email-protection#"); nothing for any other target.
std::optional<std::string> ProtectedEmailOf(std::string_view linkTarget);

// Every protected e-mail span of a name replaced by its address.
std::string DecodeEmailSpans(std::string_view name);
// The same into `out`, whose buffer is reused: most names hold no such
// span. `name` must not lie in `out`.
void DecodeEmailSpans(std::string_view name, std::string& out);

// The post with its "/cdn-cgi/l/email-protection#" link target replaced by
// "mailto:" and the decoded address. False when the post has no such link.
bool RepairEmailLink(std::string_view post, std::string& repaired);


// The link target that RepairEmailLink replaces.
inline constexpr std::string_view kEmailLinkTarget = "/cdn-cgi/l/email-protection#";

// What replaces a link target: "mailto:" and the address decoded from the
// hexadecimal digits at the start of `afterTarget` (the text after the
// target); `digitCount` receives how many digits were taken.
std::string EmailLinkReplacement(std::string_view afterTarget, std::size_t& digitCount);

// The clean-up steps of a message, each only when its marker occurs: links
// reduced to their text, image tags to "sssp://" links, space runs
// shortened, "<br> <br>" widened, and a final "<br><br>" removed. Keeps two
// buffers so that a conversion reuses its memory from post to post.
class MessageCleaner {
 public:
  struct Steps {
    bool removeHalfSpace = true;
    bool fixBrBr = true;
    bool dropFinalBrBr = true;
  };
  // The cleaned message; a view of `message` or of the cleaner's buffers,
  // valid until the next call.
  std::string_view Clean(std::string_view message, const Steps& steps);

 private:
  std::string first_;
  std::string second_;
};

}  // namespace tav::html
