// The oldest layout: a "<dl>" list with one "<dt>" line per post, the
// number, name and date separated by full-width colons, the message after
// "<dd>" ending in "<br><br>".

#include <algorithm>
#include <optional>
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

// Appends `line` to the post text without letting it outgrow a post block.
void AppendToPost(std::string& post, std::string_view line) {
  if (post.size() < kMaxFieldLength) post.append(line.substr(0, kMaxFieldLength - post.size()));
}

// The first occurrence of a marker at or after a start position, kept up to
// date while repairs rewrite parts of the post: a rewrite costs the part it
// rewrote (and the marker's length around it), not another search of the
// whole post.
class FirstHit {
 public:
  explicit FirstHit(std::string_view needle) : needle_(needle) {}

  void Reset(std::string_view text, std::size_t from) {
    from_ = from;
    at_ = Find(text, needle_, from);
  }

  // After `rewrite` changed `text`; `from` is the start position now.
  void Update(std::string_view text, const html::TextRewrite& rewrite, std::size_t from) {
    const std::size_t oldEnd = rewrite.at + rewrite.oldLength;
    const std::size_t shiftedFrom = from_ >= oldEnd ? from_ - rewrite.oldLength + rewrite.newLength : from_;
    if (from != shiftedFrom || (from_ > rewrite.at && from_ < oldEnd)) {
      Reset(text, from);  // another start: searched afresh
      return;
    }
    from_ = from;
    const std::size_t m = needle_.size();
    if (at_ != npos && at_ + m <= rewrite.at) return;  // wholly before the rewrite: unchanged
    // A new occurrence can only touch the rewritten part.
    const std::size_t windowStart = std::max(from_, rewrite.at >= m ? rewrite.at - m + 1 : 0);
    const std::size_t windowEnd = std::min(text.size(), rewrite.at + rewrite.newLength + m - 1);
    if (windowStart < windowEnd) {
      const std::size_t hit = Find(text.substr(0, windowEnd), needle_, windowStart);
      if (hit != npos) {
        at_ = hit;
        return;
      }
    }
    if (at_ == npos) return;
    if (at_ >= oldEnd) {
      at_ = at_ - rewrite.oldLength + rewrite.newLength;  // after the rewrite: moved along
      return;
    }
    at_ = Find(text, needle_, std::max(from_, rewrite.at + rewrite.newLength));  // it was rewritten away
  }

  std::size_t At() const { return at_; }

 private:
  std::string_view needle_;
  std::size_t from_ = 0;
  std::size_t at_ = npos;
};

class DlConverter {
 public:
  DlConverter(const HtmlConvertOptions& options, DatLineWriter& writer) : options_(options), writer_(writer) {}

  // Handles one post text. Returns 0 or a negative result.
  int HandlePost(std::string post, int* lastPost) {
    const DlTexts& texts = Texts();
    constexpr std::size_t kAfterDt = 4;  // the post text begins with "<dt>"
    FirstHit numberEnd(texts.numberEnd);
    FirstHit colon(texts.colon);
    FirstHit fontNameEnd(texts.fontNameEnd);
    FirstHit linkNameEnd(texts.linkNameEnd);
    FirstHit dd(kDd);
    auto afterColon = [&] { return colon.At() == npos ? post.size() : colon.At() + texts.colon.size(); };
    numberEnd.Reset(post, kAfterDt);
    colon.Reset(post, 0);
    fontNameEnd.Reset(post, afterColon());
    linkNameEnd.Reset(post, afterColon());
    dd.Reset(post, afterColon());

    std::size_t linkFrom = 0;  // no link to repair before this
    for (;;) {
      const std::string_view text(post);
      const std::size_t numberAt = numberEnd.At();
      const int number = html::ReadNumber(numberAt == npos ? "" : text.substr(kAfterDt, numberAt - kAfterDt));
      if (lastPost != nullptr) *lastPost = number;
      if (auto refused = writer_.Refusal(number)) return *refused;

      const std::size_t nameStart = afterColon();
      if (fontNameEnd.At() != npos) {
        return HandleFields(text, text.substr(nameStart, fontNameEnd.At() - nameStart),
                            fontNameEnd.At() + texts.fontNameEnd.size());
      }
      if (linkNameEnd.At() != npos) {
        return HandleFields(text, text.substr(nameStart, linkNameEnd.At() - nameStart),
                            linkNameEnd.At() + texts.linkNameEnd.size());
      }

      if (colon.At() == npos || dd.At() == npos) return kConvertNoDd;
      const std::optional<html::TextRewrite> rewrite = html::RepairEmailLinkAt(post, linkFrom);
      if (!rewrite) {
        const std::string_view message = Clean(std::string_view(post).substr(dd.At() + kDd.size()));
        return writer_.AddPost(texts.broken, "", texts.broken, message) ? 0 : kConvertOutputFull;
      }
      // The repaired post is shorter than before, so this ends. The next
      // link is looked for from the rewritten part on: the text before it
      // has no link left.
      linkFrom = rewrite->at;
      numberEnd.Update(post, *rewrite, kAfterDt);
      colon.Update(post, *rewrite, 0);
      fontNameEnd.Update(post, *rewrite, afterColon());
      linkNameEnd.Update(post, *rewrite, afterColon());
      dd.Update(post, *rewrite, afterColon());
    }
  }

 private:
  int HandleFields(std::string_view post, std::string_view namePartText, std::size_t dateStart) {
    std::string namePart(CutField(namePartText));
    namePart.append("</b>");
    const std::size_t boldOpen = Find(namePart, "<b>");
    const std::size_t boldClose = namePart.rfind("</b>");
    if (boldOpen == npos || boldClose < boldOpen + 3) return kConvertNoBold;
    name_ = html::DecodeEmailSpans(std::string_view(namePart).substr(boldOpen + 3, boldClose - boldOpen - 3));
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
    date_ = html::ConvertBeScriptLink(CutField(post.substr(dateStart, dd - dateStart)));
    const std::string_view message = Clean(post.substr(dd + kDd.size()));
    return writer_.AddPost(name_, mail_, date_, message) ? 0 : kConvertOutputFull;
  }

  void ShortenSpaces(std::string& text) {
    if (options_.removeHalfSpace && html::CollapseSpaces(text, scratch_)) text.swap(scratch_);
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
    std::string post(line.substr(dt));
    bool endsWithBrBr = EndsWith(wholeLine, kBrBr);
    if (Contains(post, kEmailSpanClass)) {
      while (pos < page.size()) {
        const std::string_view next = html::NextLine(page, pos, kNulEndsLine);
        AppendToPost(post, next);
        endsWithBrBr = EndsWith(next, kBrBr);
        if (!Contains(next, kEmailSpanClass)) break;
      }
    }
    while (!endsWithBrBr && pos < page.size()) {
      const std::string_view next = html::NextLine(page, pos, kNulEndsLine);
      AppendToPost(post, next);
      endsWithBrBr = EndsWith(next, kBrBr);
    }
    if (const int rc = converter.HandlePost(std::move(post), call.lastPost); rc != 0) return rc;
  }
  return writer.Result();
}

}  // namespace tav
