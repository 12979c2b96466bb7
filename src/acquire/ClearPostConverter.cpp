#include "acquire/ClearPostConverter.h"

#include <algorithm>

#include "platform/TextCodec.h"

namespace tav {
namespace {

using html::Between;
using html::Contains;
using html::CutField;
using html::Find;
using html::npos;

constexpr std::string_view kNumberOpen = "<span class=\"postid\">";
constexpr std::string_view kNameOpen = "<span class=\"postusername\">";
constexpr std::string_view kSpanClose = "</span>";
constexpr std::string_view kDateOpen = "<span class=\"date\">";
constexpr std::string_view kIdOpen = "<span class=\"uid\">";
constexpr std::string_view kBeOpen = "<span class=\"be ";
constexpr std::string_view kContentClass = "class=\"post-content\"";
constexpr std::string_view kTitleOpen = "<title>";
constexpr std::string_view kTitleClose = "</title>";
constexpr std::string_view kHeadingOpen = "<h1 id=\"threadtitle\">";
constexpr std::string_view kHeadingClose = "</h1>";
constexpr std::string_view kMailto = "mailto:";

// Bytes of the BE element before its link (the rest of its class and ">").
constexpr std::size_t kBeClassLength = 6;

// HandlePost's answer for a post without its end: the posts stop there.
constexpr int kEndOfPosts = 1;

const std::string& OverloadTitle() {
  static const std::string title = Sjis("もうずっと人大杉");
  return title;
}

// The title in the page's head (the text before the first post): the
// <title> element, else the thread-title heading, without line ends and
// trailing blanks. 0, -1 (a <title> without its end) or -11.
int ReadTitle(std::string_view head, std::string& title) {
  title.clear();
  std::string_view open = kTitleOpen;
  std::string_view close = kTitleClose;
  std::size_t at = Find(head, open);
  if (at == npos) {
    open = kHeadingOpen;
    close = kHeadingClose;
    at = Find(head, open);
    if (at == npos) return 0;
  }
  const std::size_t from = at + open.size();
  const std::size_t end = Find(head, close, from);
  if (end == npos) return kConvertNoTitleEnd;
  for (char c : CutField(head.substr(from, end - from))) {
    if (c != '\r' && c != '\n') title.push_back(c);
  }
  while (!title.empty() &&
         (title.back() == ' ' || title.back() == '\t' || title.back() == '\f' || title.back() == '\v')) {
    title.pop_back();
  }
  return title == OverloadTitle() ? kConvertOverload : 0;
}

// Where the start tag of the post whose marker is at `marker` begins.
std::size_t TagStart(std::string_view page, std::size_t marker, std::size_t floor) {
  const std::size_t lt = page.rfind('<', marker);
  return lt == npos || lt < floor ? marker : lt;
}

}  // namespace

int ClearPostConverter::Convert(std::string_view page, std::string& out, const ConvertCall& call,
                                const HtmlConvertOptions& options) {
  const std::size_t limit = page.size() + kOutputHeadroom;
  page = html::UpToNul(page);
  DatLineWriter writer(out, limit, call.cachedCount, call.firstExpected);

  std::size_t marker = Find(page, kPostMarker);
  std::string title;
  if (const int rc =
          ReadTitle(page.substr(0, marker == npos ? page.size() : TagStart(page, marker, 0)), title);
      rc != 0) {
    out.clear();
    return rc;
  }
  writer.SetTitle(title);
  out.reserve(std::min(limit, page.size() / 2));

  ClearPostConverter converter(options, writer);
  while (marker != npos) {
    const std::size_t after = marker + kPostMarker.size();
    const std::size_t next = Find(page, kPostMarker, after);
    const std::size_t end = next == npos ? page.size() : TagStart(page, next, after);
    const int rc = converter.HandlePost(CutField(page.substr(marker, end - marker)), call.lastPost);
    if (rc == kEndOfPosts) break;
    if (rc != 0) return rc;
    marker = next;
  }
  return writer.Result();
}

int ClearPostConverter::HandlePost(std::string_view block, int* lastPost) {
  const std::size_t content = Find(block, kContentClass);
  const std::string_view header = block.substr(0, content);

  // The message: the content element, closed by the end tag of its own
  // name. A post whose content does not close is where the posts end.
  std::string_view message;
  if (content != npos) {
    const std::size_t tagStart = block.rfind('<', content);
    const std::size_t open = Find(block, ">", content);
    if (tagStart == npos || open == npos) return kEndOfPosts;
    const std::string_view tag = block.substr(tagStart + 1, content - tagStart - 1);
    closeTag_.assign("</").append(tag.substr(0, tag.find_first_of(" \t\r\n"))).push_back('>');
    const std::size_t close = Find(block, closeTag_, open + 1);
    if (close == npos) return kEndOfPosts;
    message = block.substr(open + 1, close - open - 1);
  }

  const int number = html::ReadNumber(Between(header, kNumberOpen, kSpanClose).value_or(""));
  if (lastPost != nullptr) *lastPost = number;
  if (auto refused = writer_.Refusal(number)) return *refused;

  const std::size_t dateAt = Find(header, kDateOpen);
  if (dateAt == npos) return kConvertNoDateOrMessage;
  const std::size_t dateFrom = dateAt + kDateOpen.size();
  const std::size_t dateEnd = Find(header, kSpanClose, dateFrom);
  if (dateEnd == npos) return kConvertNoDateOrMessage;

  // The name element ends with the last "</span>" before the date: the
  // element itself may hold spans (a protected e-mail address).
  name_.clear();
  mail_.clear();
  if (const std::size_t nameAt = Find(header.substr(0, dateAt), kNameOpen); nameAt != npos) {
    const std::size_t from = nameAt + kNameOpen.size();
    const std::size_t close = header.substr(0, dateAt).rfind(kSpanClose);
    if (close != npos && close >= from) ReadNameAndMail(CutField(header.substr(from, close - from)));
  }

  html::ConvertBeScriptLink(CutField(header.substr(dateFrom, dateEnd - dateFrom)), date_);
  if (const auto id = Between(header.substr(dateEnd), kIdOpen, kSpanClose)) {
    date_.push_back(' ');
    date_.append(CutField(*id));
  }
  AppendBe(header);

  if (content == npos) return kConvertNoDateOrMessage;
  const std::string_view cleaned =
      cleaner_.Clean(CutField(message), {options_.removeHalfSpace, options_.fixBrBr, true});
  return writer_.AddPost(name_, mail_, date_, cleaned) ? 0 : kConvertOutputFull;
}

// The name is the bold text (from the first "<b>" to the last "</b>", so
// that a trip stays as "NAME</b>◆TRIP <b>") without the mail link's tags;
// the mail is the link's "mailto:" address or its protected address.
void ClearPostConverter::ReadNameAndMail(std::string_view element) {
  std::string_view bold = element;
  const std::size_t boldOpen = Find(element, "<b>");
  const std::size_t boldClose = element.rfind("</b>");
  if (boldOpen != npos && boldClose != npos && boldClose >= boldOpen + 3) {
    bold = element.substr(boldOpen + 3, boldClose - boldOpen - 3);
  }

  std::string name;
  const std::size_t link = Find(bold, "<a ");
  const std::size_t linkEnd = link == npos ? npos : bold.find('>', link);
  if (linkEnd == npos) {
    name.assign(bold);
  } else {
    const std::string_view tag = bold.substr(link, linkEnd - link);
    if (const auto href = Between(tag, "href=\"", "\"")) {
      if (auto address = html::ProtectedEmailOf(*href)) {
        mail_ = std::move(*address);
      } else if (href->substr(0, kMailto.size()) == kMailto) {
        mail_.assign(href->substr(kMailto.size()));
      }
    }
    name.assign(bold.substr(0, link));
    const std::size_t linkClose = Find(bold, "</a>", linkEnd + 1);
    if (linkClose == npos) {
      name.append(bold.substr(linkEnd + 1));
    } else {
      name.append(bold.substr(linkEnd + 1, linkClose - linkEnd - 1));
      name.append(bold.substr(linkClose + 4));
    }
  }
  html::DecodeEmailSpans(name, name_);
  ShortenSpaces(name_);
  ShortenSpaces(mail_);
}

void ClearPostConverter::AppendBe(std::string_view header) {
  const auto element = Between(header, kBeOpen, kSpanClose);
  if (!element || Contains(date_, "BE:")) return;
  const std::string_view text = CutField(*element);
  const std::string_view linkText = text.substr(std::min(kBeClassLength, text.size()));
  const std::string& host =
      Contains(linkText, options_.beSecondaryHost) ? options_.beSecondaryHost : options_.bePrimaryHost;
  date_.push_back(' ');
  date_.append(html::ConvertBeProfileLink(linkText, host));
}

void ClearPostConverter::ShortenSpaces(std::string& text) {
  if (options_.removeHalfSpace) html::CollapseSpacesIn(text, scratch_);
}

}  // namespace tav
