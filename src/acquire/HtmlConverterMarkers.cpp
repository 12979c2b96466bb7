// The three layouts whose posts are found by fixed markers: div, dt-span and
// meta. They share the title rule, the walk over the post blocks and the
// handling of a block's fields; only the markers differ.

#include <string>

#include "acquire/DatLineWriter.h"
#include "acquire/HtmlConverter.h"
#include "acquire/HtmlText.h"
#include "platform/TextCodec.h"

namespace tav {
namespace {

using html::Between;
using html::Contains;
using html::CutField;
using html::Find;
using html::npos;

struct Markers {
  int firstPostLine;  // 1-based line the post search starts at
  std::string_view postStart;
  std::string_view postEnd;
  std::string_view numberOpen;
  std::string_view numberClose;
  std::string_view nameOpen;
  std::string_view nameClose;
  std::string_view plainNameOpen;  // name without mail
  std::string_view plainNameClose;
  std::string_view dateOpen;
  std::string_view dateClose;
  std::string_view idOpen;  // empty: the layout keeps no separate ID
  std::string_view idClose;
  std::string_view beOpen;
  std::string_view beClose;
  std::string_view messageOpen;
  bool leaveOutZero;  // a post without a readable number produces no line
};

constexpr Markers kDivMarkers{4,
                              "<div class=\"post\"",
                              "</div></div>",
                              "<div class=\"number\">",
                              " : </div>",
                              "<div class=\"name\">",
                              "</div>",
                              "<b>",
                              "</b>",
                              "<div class=\"date\">",
                              "</div>",
                              "",
                              "",
                              "<div class=\"be ",
                              "</div>",
                              "<div class=\"message\">",
                              true};

constexpr Markers kDtSpanMarkers{5,
                                 "<dl class=\"post\"",
                                 "</dd></dl>",
                                 "<span class=\"number\">",
                                 " : </span>",
                                 "<span class=\"name\">",
                                 "</span>",
                                 "<b><font color=\"green\">",
                                 "</font></b>",
                                 "<span class=\"date\">",
                                 "</span>",
                                 "",
                                 "",
                                 "<span class=\"be ",
                                 "</span>",
                                 "<dd class=\"thread_in\">",
                                 false};

constexpr Markers kMetaMarkers{4,
                               "<div class=\"post\"",
                               "</span></div></div>",
                               "<span class=\"number\">",
                               "</span>",
                               "<span class=\"name\">",
                               "</span><span class=\"date\">",
                               "<b>",
                               "</b>",
                               "<span class=\"date\">",
                               "</span>",
                               "<span class=\"uid\">",
                               "</span>",
                               "<span class=\"be ",
                               "</span>",
                               "<div class=\"message\"><span class=\"escaped\">",
                               false};

const std::string& OverloadTitle() {
  static const std::string title = Sjis("もうずっと人大杉");
  return title;
}

// Number of bytes of the BE element before its link.
constexpr std::size_t kBeClassLength = 6;

// Reads the title from the page's second and third lines and finds where
// the posts begin. Returns 0, -1 or -11.
int ReadTitle(std::string_view page, int firstPostLine, std::string& title, std::size_t& postsStart) {
  std::size_t pos = 0;
  std::string joined;
  for (int line = 1; line < firstPostLine; ++line) {
    const std::string_view text = html::NextLine(page, pos);
    if (line == 2 || line == 3) joined.append(text);
  }
  postsStart = pos;
  title.clear();
  const std::size_t open = Find(joined, "<title>");
  if (open == npos) return 0;
  const std::size_t from = open + 7;
  const std::size_t close = Find(joined, "</title>", from);
  if (close == npos) return kConvertNoTitleEnd;
  title.assign(CutField(std::string_view(joined).substr(from, close - from)));
  if (title == OverloadTitle()) return kConvertOverload;
  return 0;
}

class MarkerConverter {
 public:
  MarkerConverter(const Markers& markers, const HtmlConvertOptions& options, DatLineWriter& writer)
      : markers_(markers), options_(options), writer_(writer) {}

  // Handles one post block. Returns 0 or a negative result.
  int HandleBlock(std::string_view block, int* lastPost) {
    const int number = html::ReadNumber(Between(block, markers_.numberOpen, markers_.numberClose).value_or(""));
    if (lastPost != nullptr) *lastPost = number;
    if (markers_.leaveOutZero && number == 0) return 0;

    if (auto refused = writer_.Refusal(number)) return *refused;

    ReadNameAndMail(block);

    const auto date = Between(block, markers_.dateOpen, markers_.dateClose);
    if (!date) return kConvertNoDateOrMessage;
    html::ConvertBeScriptLink(CutField(*date), date_);
    if (!markers_.idOpen.empty()) {
      if (const auto id = Between(block, markers_.idOpen, markers_.idClose)) {
        date_.push_back(' ');
        date_.append(CutField(*id));
      }
    }
    AppendBe(block);

    const std::size_t messageOpen = Find(block, markers_.messageOpen);
    if (messageOpen == npos) return kConvertNoDateOrMessage;
    const std::string_view message = cleaner_.Clean(
        CutField(block.substr(messageOpen + markers_.messageOpen.size())),
        {options_.removeHalfSpace, options_.fixBrBr, true});

    return writer_.AddPost(name_, mail_, date_, message) ? 0 : kConvertOutputFull;
  }

 private:
  void ReadNameAndMail(std::string_view block) {
    name_.clear();
    mail_.clear();
    const auto element = Between(block, markers_.nameOpen, markers_.nameClose);
    if (!element) return;
    const std::string_view text = CutField(*element);
    if (Contains(text, "mailto:")) {
      std::string_view bold = text;
      const std::size_t open = Find(text, "<b>");
      const std::size_t close = text.rfind("</b>");
      if (open != npos && close != npos && close >= open + 3) bold = text.substr(open + 3, close - open - 3);
      const std::size_t gt = bold.find('>');
      const std::size_t lt = bold.rfind('<');
      name_.assign(gt != npos && lt != npos && lt > gt ? bold.substr(gt + 1, lt - gt - 1) : bold);
      mail_.assign(Between(text, "<a href=\"mailto:", "\"").value_or(""));
    } else {
      const std::size_t open = Find(text, markers_.plainNameOpen);
      const std::size_t close = text.rfind(markers_.plainNameClose);
      if (open != npos && close != npos && close >= open + markers_.plainNameOpen.size()) {
        const std::size_t from = open + markers_.plainNameOpen.size();
        name_.assign(text.substr(from, close - from));
      } else {
        name_.assign(text);
      }
    }
    if (options_.removeHalfSpace) {
      html::CollapseSpacesIn(name_, scratch_);
      html::CollapseSpacesIn(mail_, scratch_);
    }
  }

  void AppendBe(std::string_view block) {
    const auto element = Between(block, markers_.beOpen, markers_.beClose);
    if (!element || Contains(date_, "BE:")) return;
    const std::string_view link = CutField(*element).substr(std::min(kBeClassLength, element->size()));
    const std::string& host =
        Contains(link, options_.beSecondaryHost) ? options_.beSecondaryHost : options_.bePrimaryHost;
    date_.push_back(' ');
    date_.append(html::ConvertBeProfileLink(link, host));
  }

  const Markers& markers_;
  const HtmlConvertOptions& options_;
  DatLineWriter& writer_;
  html::MessageCleaner cleaner_;
  std::string name_;
  std::string mail_;
  std::string date_;
  std::string scratch_;
};

int ConvertMarkedPage(const Markers& markers, std::string_view page, std::string& out, const ConvertCall& call,
                      const HtmlConvertOptions& options) {
  const std::size_t limit = page.size() + kOutputHeadroom;
  page = html::UpToNul(page);
  DatLineWriter writer(out, limit, call.cachedCount, call.firstExpected);

  std::string title;
  std::size_t pos = 0;
  if (const int rc = ReadTitle(page, markers.firstPostLine, title, pos); rc != 0) {
    out.clear();
    return rc;
  }
  writer.SetTitle(title);
  out.reserve(std::min(limit, page.size() / 2));

  MarkerConverter converter(markers, options, writer);
  for (;;) {
    const std::size_t start = Find(page, markers.postStart, pos);
    if (start == npos) break;
    const std::size_t blockStart = start + markers.postStart.size();
    const std::size_t end = Find(page, markers.postEnd, blockStart);
    if (end == npos || end == blockStart) break;
    pos = end + markers.postEnd.size();
    const std::string_view block = CutField(page.substr(blockStart, end - blockStart));
    if (const int rc = converter.HandleBlock(block, call.lastPost); rc != 0) return rc;
  }
  return writer.Result();
}

}  // namespace

int ConvertDivPage(std::string_view page, std::string& out, const ConvertCall& call,
                   const HtmlConvertOptions& options) {
  return ConvertMarkedPage(kDivMarkers, page, out, call, options);
}

int ConvertDtSpanPage(std::string_view page, std::string& out, const ConvertCall& call,
                      const HtmlConvertOptions& options) {
  return ConvertMarkedPage(kDtSpanMarkers, page, out, call, options);
}

int ConvertMetaPage(std::string_view page, std::string& out, const ConvertCall& call,
                    const HtmlConvertOptions& options) {
  return ConvertMarkedPage(kMetaMarkers, page, out, call, options);
}

}  // namespace tav
