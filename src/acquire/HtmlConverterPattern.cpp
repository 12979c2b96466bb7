// A layout described by a user-editable pattern set: the title pattern once,
// the post pattern over and over, and the name, mail and BE patterns on the
// parts of each post.

#include <algorithm>
#include <string>
#include <vector>

#include "acquire/DatLineWriter.h"
#include "acquire/HtmlConverter.h"
#include "acquire/HtmlText.h"
#include "platform/CBregOnig.h"
#include "platform/TextCodec.h"
#include "config/SettingValues.h"

namespace tav {
namespace {

using html::Contains;
using html::CutField;
using html::Find;
using html::npos;

bool IsSjisLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// Text of group `g` of the handle's last match; empty when the group took
// no part or does not exist.
std::string_view Group(const BRegexp* rx, int g) {
  if (rx == nullptr || g < 0 || g > rx->nparens) return {};
  const char* start = rx->startp[static_cast<std::size_t>(g)];
  const char* end = rx->endp[static_cast<std::size_t>(g)];
  if (start == nullptr || end == nullptr || end < start) return {};
  return {start, static_cast<std::size_t>(end - start)};
}

// The page with every CR and LF byte left out.
std::string WithoutLineEnds(std::string_view page) {
  std::string copy;
  copy.reserve(page.size());
  std::size_t pos = 0;
  while (pos < page.size()) copy.append(html::NextLine(page, pos));
  return copy;
}

// First every "><" becomes two spaces, then every remaining tag one space;
// a "<" that is never closed is left as it is. `spaced` holds the first
// step's text; a date without any "<" is left as it is.
void RemoveDateTags(std::string& date, std::string& spaced, std::string& out) {
  if (date.find('<') == npos) return;
  std::string_view text(date);
  spaced.clear();
  std::size_t pos = 0;
  for (std::size_t hit = Find(text, "><"); hit != npos; hit = Find(text, "><", pos)) {
    spaced.append(text.substr(pos, hit - pos));
    spaced.append("  ");
    pos = hit + 2;
  }
  spaced.append(text.substr(pos));

  out.clear();
  pos = 0;
  while (pos < spaced.size()) {
    const std::size_t open = spaced.find('<', pos);
    const std::size_t close = open == npos ? npos : spaced.find('>', open + 1);
    if (close == npos) {
      out.append(spaced, pos, npos);
      break;
    }
    out.append(spaced, pos, open - pos);
    out.push_back(' ');
    pos = close + 1;
  }
  date.swap(out);
}

class PatternConverter {
 public:
  PatternConverter(const HtmlConvertOptions& options, const CRegexpPatternInfo& set, const CBregOnig& engine,
                   DatLineWriter& writer)
      : options_(options), set_(set), engine_(engine), writer_(writer), res_(engine), mailName_(engine),
        name_(engine), be_(engine), mailNameTexts_(RequiredTexts(set.mailName.Narrow())),
        nameTexts_(RequiredTexts(set.name.Narrow())), beTexts_(RequiredTexts(set.be.Narrow())) {}

  // Reads the title; returns 0, -1 or -11 and where the posts begin.
  int ReadTitle(std::string_view text, std::size_t& postsStart) {
    BRegexpHolder title(engine_);
    if (engine_.BMatch(set_.title.Narrow(), text.data(), text.data() + text.size(), title.Out(), message_) <= 0 ||
        title.Get()->nparens < 1) {
      return kConvertNoTitleEnd;
    }
    static const std::string overload = Sjis("もうずっと人大杉");
    const std::string_view found = CutField(Group(title.Get(), 1));
    if (found == overload) return kConvertOverload;
    writer_.SetTitle(found);
    postsStart = static_cast<std::size_t>(title.Get()->endp[0] - text.data());
    return 0;
  }

  // Matches the posts from `from` on. Returns 0 or a negative result.
  int ConvertPosts(std::string_view text, std::size_t from, int* lastPost) {
    // The page's last whole character is found once: every post is matched
    // against the same end, and a page ending in a long run of lead-range
    // bytes would otherwise cost that run once per post.
    const char* const end = CBregOnig::WholeCharacterEnd(text.data(), text.data() + text.size());
    const char* at = text.data() + std::min(from, static_cast<std::size_t>(end - text.data()));
    while (at <= end) {
      if (engine_.BMatch(set_.res.Narrow(), at, end, res_.Out(), message_, TextEnd::WholeCharacter) <= 0) break;
      const BRegexp* post = res_.Get();
      if (post->nparens != 4 && post->nparens != 5) return kConvertBadGroups;
      if (const int rc = HandlePost(post, lastPost); rc != 0) return rc;
      at = NextSearchStart(post, at, end);
      if (at == nullptr) break;
    }
    return 0;
  }

 private:
  // The end of the match; an empty match moves on by one character so that
  // the search cannot stand still.
  static const char* NextSearchStart(const BRegexp* post, const char* at, const char* end) {
    const char* next = post->endp[0];
    if (next > post->startp[0]) return next;
    if (next >= end) return nullptr;
    next += (IsSjisLead(static_cast<unsigned char>(*next)) && next + 1 < end) ? 2 : 1;
    return next > at ? next : nullptr;
  }

  // Whether [start, end) holds every text a match must contain. A search
  // left out for lack of one is taken as finding nothing: these searches
  // only tell a match from anything else.
  static bool MayMatch(const std::vector<std::string>& texts, const char* start, const char* end) {
    return html::ContainsAll(std::string_view(start, static_cast<std::size_t>(end - start)), texts);
  }

  int HandlePost(const BRegexp* post, int* lastPost) {
    const int number = html::ReadNumber(Group(post, 1));
    if (lastPost != nullptr) *lastPost = number;
    if (auto refused = writer_.Refusal(number)) return *refused;
    const int messageGroup = post->nparens;

    ReadNameAndMail(CutField(Group(post, 2)));
    std::string& date = date_;
    date.assign(CutField(Group(post, 3)));
    if (post->nparens == 5) {
      date.push_back(' ');
      date.append(CutField(Group(post, 4)));
    }
    AppendBe(post, messageGroup, date);
    RemoveDateTags(date, spaced_, dateScratch_);

    const std::string_view message =
        cleaner_.Clean(CutField(Group(post, messageGroup)), {options_.removeHalfSpace, options_.fixBrBr, false});
    return writer_.AddPost(nameText_, mailText_, date, message) ? 0 : kConvertOutputFull;
  }

  void ReadNameAndMail(std::string_view element) {
    // An absent group is matched as empty text, never as no text at all.
    if (element.data() == nullptr) element = std::string_view("", 0);
    if (options_.removeHalfSpace && html::CollapseSpaces(element, scratch_)) element = scratch_;
    const char* start = element.data();
    const char* end = start + element.size();
    if (MayMatch(mailNameTexts_, start, end) &&
        engine_.BMatch(set_.mailName.Narrow(), start, end, mailName_.Out(), message_) > 0) {
      mailText_.assign(Group(mailName_.Get(), 1));
      // A mail link hidden by the board's e-mail protection.
      if (auto address = html::ProtectedEmailOf(mailText_)) mailText_ = std::move(*address);
      nameText_.assign(Group(mailName_.Get(), 2));
    } else if (MayMatch(nameTexts_, start, end) &&
               engine_.BMatch(set_.name.Narrow(), start, end, name_.Out(), message_) > 0) {
      nameText_.assign(Group(name_.Get(), 1));
      mailText_.clear();
    } else {
      nameText_.clear();
      mailText_.clear();
    }
  }

  // The BE link between the date and the message, when there is one.
  void AppendBe(const BRegexp* post, int messageGroup, std::string& date) {
    const char* from = post->startp[3];
    const char* to = post->startp[static_cast<std::size_t>(messageGroup)];
    if (from == nullptr || to == nullptr || to < from) return;
    if (!MayMatch(beTexts_, from, to)) return;
    if (engine_.BMatch(set_.be.Narrow(), from, to, be_.Out(), message_) <= 0) return;
    std::string beText = "BE:";
    beText.append(CutField(Group(be_.Get(), 1)));
    beText.push_back('-');
    beText.append(CutField(Group(be_.Get(), 2)));
    const std::size_t tag = date.find('<');
    if (tag != npos) date.resize(tag);
    if (Contains(date, "BE:")) return;
    date.push_back(' ');
    date.append(beText);
  }

  const HtmlConvertOptions& options_;
  const CRegexpPatternInfo& set_;
  const CBregOnig& engine_;
  DatLineWriter& writer_;
  BRegexpHolder res_;
  BRegexpHolder mailName_;
  BRegexpHolder name_;
  BRegexpHolder be_;
  // Texts every match of the mail-and-name, name and BE patterns contains.
  const std::vector<std::string> mailNameTexts_;
  const std::vector<std::string> nameTexts_;
  const std::vector<std::string> beTexts_;
  html::MessageCleaner cleaner_;
  std::string scratch_;
  std::string date_;
  std::string spaced_;
  std::string dateScratch_;
  std::string nameText_;
  std::string mailText_;
  char message_[kBregMessageSize] = {};
};

}  // namespace

int ConvertPatternPage(std::string_view page, std::string& out, const ConvertCall& call,
                       const HtmlConvertOptions& options, const CRegexpPatternInfo& set, const CBregOnig& engine) {
  const std::size_t limit = page.size() + kOutputHeadroom;
  const std::string text = WithoutLineEnds(html::UpToNul(page));
  DatLineWriter writer(out, limit, call.cachedCount, call.firstExpected);
  PatternConverter converter(options, set, engine, writer);

  std::size_t postsStart = 0;
  if (const int rc = converter.ReadTitle(text, postsStart); rc != 0) {
    out.clear();
    return rc;
  }
  if (const int rc = converter.ConvertPosts(text, postsStart, call.lastPost); rc != 0) return rc;
  return writer.Result();
}

}  // namespace tav
