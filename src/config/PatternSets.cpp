#include "config/PatternSets.h"

namespace tav {
namespace {

CRegexpPatternInfo MakeSet(const char16_t* label, const char* res, const char* be, const char* mailName,
                           const char* name) {
  CRegexpPatternInfo set;
  set.label = label;
  set.title = CDoubleString::FromUtf8(R"re(/<title>(.+?)[\s\t\n]*<\/title>/)re");
  set.res = CDoubleString::FromUtf8(res);
  set.be = CDoubleString::FromUtf8(be);
  set.mailName = CDoubleString::FromUtf8(mailName);
  set.name = CDoubleString::FromUtf8(name);
  return set;
}

constexpr const char* kBeSpan =
    R"re(/<span class="be .+?"><a href=".+?\/user\/(\d+)" target="_blank">\?(.+?)<\/a>/)re";
constexpr const char* kMailNameDiv = R"re(/<b><a href="mailto:(.+?)">(.+)<\/a><\/b>/)re";
constexpr const char* kNameBold = R"re(/<b>(.+)<\/b>/)re";

}  // namespace

void FillDefaultPatternSets(std::vector<CRegexpPatternInfo>& sets) {
  sets.clear();
  sets.push_back(MakeSet(u"ver 05.02.02", R"re(/<dt>(\d+) ：(.+?)>：(.+?)<dd>(.+?)<br><br>/)re",
                         R"re(/<a href="javascript:be\((\d+)\);">\?(.+?)<\/a>/)re",
                         R"re(/<a href="mailto:(.+?)"><b>(.+)<\/b><\/a/)re", kNameBold));
  sets.push_back(MakeSet(
      u"ver 06.0.0 div",
      R"re(/<div class="number">(\d+) : <\/div><div class="name">(.+?)<\/div><div class="date">(.+?)<\/div><div class="message">(.+?)<\/div><\/div>/)re",
      R"re(/<div class="be .+?"><a href=".+?\/user\/(\d+)" target="_blank">\?(.+?)<\/a>/)re", kMailNameDiv,
      kNameBold));
  sets.push_back(MakeSet(
      u"ver 06.0.0 span",
      R"re(/<span class="number">(\d+) : <\/span><span class="name">(.+?)<\/span><span class="date">(.+?)<\/span><\/dt><dd class="thread_in">(.+?)<\/dd><\/dl>/)re",
      kBeSpan, kMailNameDiv, R"re(/<b><font color="green">(.+)<\/font><\/b>/)re"));
  sets.push_back(MakeSet(
      u"ver 07.0.1",
      R"re(/<span class="number">(\d+)<\/span><span class="name">(.+?)<\/span><span class="date">(.+?)<\/span><span class="uid">(.*?)<\/span>.*?<\/div><div class="message"><span class="escaped">(.+?)<\/span><\/div><\/div>/)re",
      kBeSpan, kMailNameDiv, kNameBold));
  sets.push_back(MakeSet(
      u"ver 07.0.0",
      R"re(/<span class="number">(\d+)<\/span><span class="name">(.+?)<\/span><span class="date">(.+?)<\/span><\/div><div class="message"><span class="escaped">(.+?)<\/span><\/div><\/div>/)re",
      kBeSpan, kMailNameDiv, kNameBold));
  // Today's main-board layout: one "clear post" element per post. The date
  // group runs to the end of the span around date and ID, so that its tags
  // become the one space between them (and a post without an ID keeps its
  // date alone). The mail link has "rel" before "href", and its target may
  // be the e-mail protection's, which the converter decodes.
  sets.push_back(MakeSet(
      u"ver 07.7 clear post",
      R"re(/<span class="postid">(\d+)<\/span><span class="postusername">(.*?)<\/span><\/div><span[^>]*><span class="date">(.+?)<\/span><\/span>.*?<div class="post-content">(.*?)<\/div><\/div>/)re",
      kBeSpan, R"re(/<a [^>]*?href="(?:mailto:)?([^"]*)"[^>]*>(.+)<\/a>/)re", kNameBold));
}

}  // namespace tav
