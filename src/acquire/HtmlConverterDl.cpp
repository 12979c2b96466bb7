// The oldest layout: a "<dl>" list with one "<dt>" line per post, the
// number, name and date separated by full-width colons, the message after
// "<dd>" ending in "<br><br>".

#include <algorithm>
#include <optional>
#include <utility>
#include <string>

#include "acquire/DatLineWriter.h"
#include "acquire/HtmlConverter.h"
#include "acquire/HtmlText.h"
#include "platform/TextCodec.h"

namespace tav {
namespace {

using html::Contains;
using html::CutField;
using html::EndsWith;
using html::Find;
using html::npos;

struct DlTexts {
  std::string colon = Sjis("：");
  std::string numberEnd = Sjis(" ：");
  std::string fontNameEnd = Sjis("</b></font>：");
  std::string linkNameEnd = Sjis("</b></a>：");
  std::string broken = Sjis("(ここ壊れてます)");
  std::string overload = Sjis("もうずっと人大杉");
};

const DlTexts& Texts() {
  static const DlTexts texts;
  return texts;
}

constexpr std::string_view kEmailSpanClass = "class=\"__cf_email__\"";
constexpr std::string_view kBrBr = "<br><br>";
constexpr std::string_view kDd = "<dd>";
constexpr std::size_t kAfterDt = 4;  // a post text begins with "<dt>"

// Appends `line` to the post text without letting it outgrow a post block.
void AppendToPost(std::string& post, std::string_view line) {
  if (post.size() < kMaxFieldLength) post.append(line.substr(0, kMaxFieldLength - post.size()));
}

using html::kEmailLinkTarget;

// The part of the post one repair rewrote: `oldLength` bytes at `at` became
// `newLength` bytes.
struct TextRewrite {
  std::size_t at = 0;
  std::size_t oldLength = 0;
  std::size_t newLength = 0;
};

// A post whose protected e-mail links are repaired from left to right: the
// repaired part, then the original post from `rest_` on. A repair appends
// to the repaired part and moves nothing, so repairing every link of a post
// costs the post's length. Positions are those of the post as it stands.
class RepairingPost {
 public:
  explicit RepairingPost(std::string original) : original_(std::move(original)) {}

  std::size_t Size() const { return done_.size() + original_.size() - rest_; }
  char At(std::size_t i) const { return i < done_.size() ? done_[i] : original_[rest_ + i - done_.size()]; }
  std::string Text() const { return done_ + original_.substr(rest_); }

  // The first `needle` that starts at or after `from` and ends at or before
  // `to`, or npos.
  std::size_t Find(std::string_view needle, std::size_t from, std::size_t to = npos) const {
    const std::size_t m = needle.size();
    to = std::min(to, Size());
    if (m == 0 || from > to || to - from < m) return npos;
    const std::size_t d = done_.size();
    const std::string_view rest = std::string_view(original_).substr(rest_);
    if (from < d) {
      const std::size_t hit = html::Find(std::string_view(done_).substr(0, std::min(to, d)), needle, from);
      if (hit != npos) return hit;
      // Across the seam: begins in the repaired part, ends in the rest.
      const std::size_t seamStart = std::max(from, d >= m ? d - m + 1 : 0);
      std::string seam = done_.substr(seamStart);
      seam.append(rest.substr(0, m - 1));
      const std::size_t inSeam = html::Find(std::string_view(seam).substr(0, to - seamStart), needle);
      if (inSeam != npos) return seamStart + inSeam;
    }
    if (to <= d) return npos;
    const std::size_t hit = html::Find(rest.substr(0, to - d), needle, std::max(from, d) - d);
    return hit == npos ? npos : d + hit;
  }

  // Repairs the first link at or after `from`; nothing when there is none.
  std::optional<TextRewrite> RepairLinkAt(std::size_t from) {
    std::size_t link = Find(kEmailLinkTarget, from);
    if (link == npos) return std::nullopt;
    if (link < done_.size()) {
      // A decoded address that spells a link of its own: start the repaired
      // part afresh (each address is shorter than its digits, so this is rare
      // and ever shorter).
      original_ = Text();
      done_.clear();
      rest_ = 0;
    }
    const std::size_t at = rest_ + link - done_.size();
    const std::size_t digits = at + kEmailLinkTarget.size();
    std::size_t run = 0;
    const std::string replacement = html::EmailLinkReplacement(std::string_view(original_).substr(digits), run);
    done_.append(original_, rest_, at - rest_);
    done_.append(replacement);
    rest_ = digits + run;
    return TextRewrite{link, digits + run - at, replacement.size()};
  }

 private:
  std::string original_;
  std::string done_;
  std::size_t rest_ = 0;
};

// The first occurrence of a marker at or after a start position, kept up to
// date while repairs rewrite parts of the post: a rewrite costs the part it
// rewrote (and the marker's length around it), not another search of the
// whole post.
class FirstHit {
 public:
  explicit FirstHit(std::string_view needle) : needle_(needle) {}

  void Reset(const RepairingPost& text, std::size_t from) {
    from_ = from;
    at_ = text.Find(needle_, from);
  }

  // After `rewrite` changed `text`; `from` is the start position now.
  // True when the occurrence is another one than before (not just moved).
  bool Update(const RepairingPost& text, const TextRewrite& rewrite, std::size_t from) {
    const std::size_t oldEnd = rewrite.at + rewrite.oldLength;
    const auto moved = [&](std::size_t pos) {
      return pos == npos || pos < oldEnd ? pos : pos - rewrite.oldLength + rewrite.newLength;
    };
    const std::size_t expected = moved(at_);
    if (from != moved(from_) || (from_ > rewrite.at && from_ < oldEnd)) {
      Reset(text, from);  // another start: searched afresh
      return at_ != expected;
    }
    from_ = from;
    const std::size_t m = needle_.size();
    if (at_ != npos && at_ + m <= rewrite.at) return false;  // wholly before the rewrite: unchanged
    // A new occurrence can only touch the rewritten part.
    const std::size_t windowStart = std::max(from_, rewrite.at >= m ? rewrite.at - m + 1 : 0);
    const std::size_t windowEnd = rewrite.at + rewrite.newLength + m - 1;
    if (const std::size_t hit = text.Find(needle_, windowStart, windowEnd); hit != npos) {
      at_ = hit;
    } else if (at_ != npos && at_ >= oldEnd) {
      at_ = expected;  // after the rewrite: moved along
    } else if (at_ != npos) {
      at_ = text.Find(needle_, std::max(from_, rewrite.at + rewrite.newLength));  // it was rewritten away
    }
    return at_ != expected;
  }

  std::size_t At() const { return at_; }

 private:
  std::string_view needle_;
  std::size_t from_ = 0;
  std::size_t at_ = npos;
};

// The number of a post, read as html::ReadNumber reads it from the text
// between "<dt>" (at 0) and `end`; `stop` receives where the reading ended.
int ReadPostNumber(const RepairingPost& post, std::size_t end, std::size_t& stop) {
  std::string digits;
  std::size_t i = kAfterDt;
  while (i < end && (post.At(i) == ' ' || post.At(i) == '\t')) digits.push_back(post.At(i++));
  if (i < end && (post.At(i) == '-' || post.At(i) == '+')) digits.push_back(post.At(i++));
  while (i < end && post.At(i) >= '0' && post.At(i) <= '9') digits.push_back(post.At(i++));
  stop = i;
  return html::ReadNumber(digits);
}

class DlConverter {
 public:
  DlConverter(const HtmlConvertOptions& options, DatLineWriter& writer) : options_(options), writer_(writer) {}

  // Handles one post text, which begins with "<dt>". Returns 0 or a
  // negative result.
  int HandlePost(std::string_view post, int* lastPost) {
    const DlTexts& texts = Texts();
    const std::size_t colon = Find(post, texts.colon);
    const std::size_t nameStart = colon == npos ? post.size() : colon + texts.colon.size();
    const std::size_t numberEnd = Find(post, texts.numberEnd, kAfterDt);
    const int number = html::ReadNumber(post.substr(kAfterDt, numberEnd == npos ? 0 : numberEnd - kAfterDt));
    if (lastPost != nullptr) *lastPost = number;
    if (auto refused = writer_.Refusal(number)) return *refused;

    for (const std::string_view marker : {std::string_view(texts.fontNameEnd), std::string_view(texts.linkNameEnd)}) {
      const std::size_t nameEnd = Find(post, marker, nameStart);
      if (nameEnd != npos) {
        return HandleFields(post, post.substr(nameStart, nameEnd - nameStart), nameEnd + marker.size());
      }
    }
    const std::size_t dd = Find(post, kDd, nameStart);
    if (colon == npos || dd == npos) return kConvertNoDd;
    // Without a name end the post may still read once its protected e-mail
    // links are repaired; without such a link it is marked broken.
    if (!html::Contains(post, kEmailLinkTarget)) return AddBrokenPost(post, dd);
    return HandleRepairedPost(std::string(post), lastPost);
  }

 private:
  // A post whose name end was not found and that holds a protected e-mail
  // link: its links are repaired one after the other until the post reads.
  int HandleRepairedPost(std::string postText, int* lastPost) {
    const DlTexts& texts = Texts();
    RepairingPost post(std::move(postText));
    FirstHit numberEnd(texts.numberEnd);
    FirstHit colon(texts.colon);
    FirstHit fontNameEnd(texts.fontNameEnd);
    FirstHit linkNameEnd(texts.linkNameEnd);
    FirstHit dd(kDd);
    auto afterColon = [&] { return colon.At() == npos ? post.Size() : colon.At() + texts.colon.size(); };
    numberEnd.Reset(post, kAfterDt);
    colon.Reset(post, 0);
    fontNameEnd.Reset(post, afterColon());
    linkNameEnd.Reset(post, afterColon());
    dd.Reset(post, afterColon());

    std::size_t numberStop = 0;
    int number = ReadPostNumber(post, numberEnd.At() == npos ? kAfterDt : numberEnd.At(), numberStop);
    std::size_t linkFrom = 0;  // no link to repair before this
    // The post as it stands was read already: it has no name end, but a
    // colon, a "<dd>" and a link to repair.
    for (;;) {
      const std::optional<TextRewrite> rewrite = post.RepairLinkAt(linkFrom);
      if (!rewrite) {
        const std::string text = post.Text();
        return AddBrokenPost(text, dd.At());
      }
      // The repaired post is shorter than before, so this ends. The next
      // link is looked for from the rewritten part on: the text before it
      // has no link left.
      linkFrom = rewrite->at;
      const bool numberEndChanged = numberEnd.Update(post, *rewrite, kAfterDt);
      if (numberEndChanged || rewrite->at <= numberStop) {
        number = ReadPostNumber(post, numberEnd.At() == npos ? kAfterDt : numberEnd.At(), numberStop);
      }
      colon.Update(post, *rewrite, 0);
      fontNameEnd.Update(post, *rewrite, afterColon());
      linkNameEnd.Update(post, *rewrite, afterColon());
      dd.Update(post, *rewrite, afterColon());

      if (lastPost != nullptr) *lastPost = number;
      if (auto refused = writer_.Refusal(number)) return *refused;

      const std::size_t nameStart = afterColon();
      for (const auto& [nameEnd, marker] : {std::pair(&fontNameEnd, &texts.fontNameEnd),
                                            std::pair(&linkNameEnd, &texts.linkNameEnd)}) {
        if (nameEnd->At() == npos) continue;
        const std::string text = post.Text();
        return HandleFields(text, std::string_view(text).substr(nameStart, nameEnd->At() - nameStart),
                            nameEnd->At() + marker->size());
      }
      if (colon.At() == npos || dd.At() == npos) return kConvertNoDd;
    }
  }

  // A post whose name could not be read: its message after "<dd>" (at `dd`)
  // under the broken-post mark.
  int AddBrokenPost(std::string_view post, std::size_t dd) {
    const DlTexts& texts = Texts();
    const std::string_view message = Clean(post.substr(dd + kDd.size()));
    return writer_.AddPost(texts.broken, "", texts.broken, message) ? 0 : kConvertOutputFull;
  }

  int HandleFields(std::string_view post, std::string_view namePartText, std::size_t dateStart) {
    std::string& namePart = namePart_;
    namePart.assign(CutField(namePartText));
    namePart.append("</b>");
    const std::size_t boldOpen = Find(namePart, "<b>");
    const std::size_t boldClose = namePart.rfind("</b>");
    if (boldOpen == npos || boldClose < boldOpen + 3) return kConvertNoBold;
    const std::string_view name = std::string_view(namePart).substr(boldOpen + 3, boldClose - boldOpen - 3);
    html::DecodeEmailSpans(name, name_);
    ShortenSpaces(name_);

    mail_.clear();
    if (const auto link = html::Between(namePart, "<a href=\"", "\">")) {
      const std::size_t protectedAt = Find(*link, "email-protection#");
      if (protectedAt != npos) {
        const std::string_view digits = link->substr(protectedAt + 17);
        mail_ = html::DecodeProtectedEmail(digits.substr(0, html::HexRunLength(digits)));
      } else if (link->size() > 7) {
        mail_.assign(link->substr(7));
      }
      ShortenSpaces(mail_);
    }

    const std::size_t dd = Find(post, kDd, dateStart);
    if (dd == npos) return kConvertNoDateOrMessage;
    const std::string_view date = CutField(post.substr(dateStart, dd - dateStart));
    html::ConvertBeScriptLink(date, date_);
    const std::string_view message = Clean(post.substr(dd + kDd.size()));
    return writer_.AddPost(name_, mail_, date_, message) ? 0 : kConvertOutputFull;
  }

  void ShortenSpaces(std::string& text) {
    if (options_.removeHalfSpace) html::CollapseSpacesIn(text, scratch_);
  }

  std::string_view Clean(std::string_view message) {
    return cleaner_.Clean(CutField(message), {options_.removeHalfSpace, options_.fixBrBr, true});
  }

  const HtmlConvertOptions& options_;
  DatLineWriter& writer_;
  html::MessageCleaner cleaner_;
  std::string name_;
  std::string mail_;
  std::string date_;
  std::string namePart_;
  std::string scratch_;
};

}  // namespace

int ConvertDlPage(std::string_view page, std::string& out, const ConvertCall& call,
                  const HtmlConvertOptions& options) {
  const std::size_t limit = page.size() + kOutputHeadroom;
  // A stray NUL ends its line, not the page: the posts after it still count.
  constexpr bool kNulEndsLine = true;
  DatLineWriter writer(out, limit, call.cachedCount, call.firstExpected);
  DlConverter converter(options, writer);
  std::string joined;

  std::size_t pos = 0;
  while (pos < page.size()) {
    const std::string_view wholeLine = html::NextLine(page, pos, kNulEndsLine);
    const std::string_view line = CutField(wholeLine);
    if (line.empty() || line == "</dl>") break;

    if (line.substr(0, 7) == "<title>") {
      const std::size_t close = Find(line, "</title>", 7);
      if (close == npos) {
        out.clear();
        return kConvertNoTitleEnd;
      }
      const std::string_view title = line.substr(7, close - 7);
      if (title == Texts().overload) {
        out.clear();
        return kConvertOverload;
      }
      writer.SetTitle(title);
      continue;
    }

    const std::size_t dt = Find(line, "<dt>");
    if (dt == npos) continue;
    // The post text is cut to a block's size, but where it ends is judged
    // on the page's own lines, so that a cut post does not swallow the next.
    // Most posts are one line: they are read where they stand on the page,
    // and only a post of several lines is gathered in `joined`.
    std::string_view post = line.substr(dt);
    bool endsWithBrBr = EndsWith(wholeLine, kBrBr);
    const bool spansLines = Contains(post, kEmailSpanClass);
    if ((spansLines || !endsWithBrBr) && pos < page.size()) {
      joined.assign(post);
      if (spansLines) {
        while (pos < page.size()) {
          const std::string_view next = html::NextLine(page, pos, kNulEndsLine);
          AppendToPost(joined, next);
          endsWithBrBr = EndsWith(next, kBrBr);
          if (!Contains(next, kEmailSpanClass)) break;
        }
      }
      while (!endsWithBrBr && pos < page.size()) {
        const std::string_view next = html::NextLine(page, pos, kNulEndsLine);
        AppendToPost(joined, next);
        endsWithBrBr = EndsWith(next, kBrBr);
      }
      post = joined;
    }
    if (const int rc = converter.HandlePost(post, call.lastPost); rc != 0) return rc;
  }
  return writer.Result();
}

}  // namespace tav
