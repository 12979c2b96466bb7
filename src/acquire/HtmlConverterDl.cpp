// The oldest layout: a "<dl>" list with one "<dt>" line per post, the
// number, name and date separated by full-width colons, the message after
// "<dd>" ending in "<br><br>".

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

class DlConverter {
 public:
  DlConverter(const HtmlConvertOptions& options, DatLineWriter& writer) : options_(options), writer_(writer) {}

  // Handles one post text. Returns 0 or a negative result.
  int HandlePost(std::string post, int* lastPost) {
    const DlTexts& texts = Texts();
    for (;;) {
      const int number = html::ReadNumber(html::Between(post, "<dt>", texts.numberEnd).value_or(""));
      if (lastPost != nullptr) *lastPost = number;
      if (auto refused = writer_.Refusal(number)) return *refused;

      const std::size_t colon = Find(post, texts.colon);
      const std::size_t afterColon = colon == npos ? post.size() : colon + texts.colon.size();
      std::size_t nameEnd = Find(post, texts.fontNameEnd, afterColon);
      std::size_t dateStart = nameEnd + texts.fontNameEnd.size();
      if (nameEnd == npos) {
        nameEnd = Find(post, texts.linkNameEnd, afterColon);
        dateStart = nameEnd + texts.linkNameEnd.size();
      }
      if (nameEnd != npos) return HandleFields(post, post.substr(afterColon, nameEnd - afterColon), dateStart);

      const std::size_t dd = colon == npos ? npos : Find(post, kDd, afterColon);
      if (dd == npos) return kConvertNoDd;
      std::string repaired;
      if (html::RepairEmailLink(post, repaired)) {
        post.swap(repaired);  // shorter than before, so this ends
        continue;
      }
      const std::string_view message = Clean(std::string_view(post).substr(dd + kDd.size()));
      return writer_.AddPost(texts.broken, "", texts.broken, message) ? 0 : kConvertOutputFull;
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
  page = html::UpToNul(page);
  DatLineWriter writer(out, limit, call.cachedCount, call.firstExpected);
  DlConverter converter(options, writer);

  std::size_t pos = 0;
  while (pos < page.size()) {
    const std::string_view wholeLine = html::NextLine(page, pos);
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
        const std::string_view next = html::NextLine(page, pos);
        AppendToPost(post, next);
        endsWithBrBr = EndsWith(next, kBrBr);
        if (!Contains(next, kEmailSpanClass)) break;
      }
    }
    while (!endsWithBrBr && pos < page.size()) {
      const std::string_view next = html::NextLine(page, pos);
      AppendToPost(post, next);
      endsWithBrBr = EndsWith(next, kBrBr);
    }
    if (const int rc = converter.HandlePost(std::move(post), call.lastPost); rc != 0) return rc;
  }
  return writer.Result();
}

}  // namespace tav
