#include "config/PatternSets.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/TextCodec.h"

namespace tav {
namespace {

struct ExpectedSet {
  std::u16string label;
  std::string res;
  std::string be;
  std::string mailName;
  std::string name;
};

TEST(PatternSets, TheFiveDefaultSetsByteForByte) {
  const std::string beSpan =
      "/<span class=\"be .+?\"><a href=\".+?\\/user\\/(\\d+)\" target=\"_blank\">\\?(.+?)<\\/a>/";
  const std::string mailNameBold = "/<b><a href=\"mailto:(.+?)\">(.+)<\\/a><\\/b>/";
  const std::string nameBold = "/<b>(.+)<\\/b>/";
  const std::vector<ExpectedSet> expected = {
      {u"ver 05.02.02", Sjis("/<dt>(\\d+) ：(.+?)>：(.+?)<dd>(.+?)<br><br>/"),
       "/<a href=\"javascript:be\\((\\d+)\\);\">\\?(.+?)<\\/a>/", "/<a href=\"mailto:(.+?)\"><b>(.+)<\\/b><\\/a/",
       nameBold},
      {u"ver 06.0.0 div",
       "/<div class=\"number\">(\\d+) : <\\/div><div class=\"name\">(.+?)<\\/div><div class=\"date\">(.+?)<\\/div>"
       "<div class=\"message\">(.+?)<\\/div><\\/div>/",
       "/<div class=\"be .+?\"><a href=\".+?\\/user\\/(\\d+)\" target=\"_blank\">\\?(.+?)<\\/a>/", mailNameBold,
       nameBold},
      {u"ver 06.0.0 span",
       "/<span class=\"number\">(\\d+) : <\\/span><span class=\"name\">(.+?)<\\/span><span class=\"date\">(.+?)"
       "<\\/span><\\/dt><dd class=\"thread_in\">(.+?)<\\/dd><\\/dl>/",
       beSpan, mailNameBold, "/<b><font color=\"green\">(.+)<\\/font><\\/b>/"},
      {u"ver 07.0.1",
       "/<span class=\"number\">(\\d+)<\\/span><span class=\"name\">(.+?)<\\/span><span class=\"date\">(.+?)<\\/span>"
       "<span class=\"uid\">(.*?)<\\/span>.*?<\\/div><div class=\"message\"><span class=\"escaped\">(.+?)<\\/span>"
       "<\\/div><\\/div>/",
       beSpan, mailNameBold, nameBold},
      {u"ver 07.0.0",
       "/<span class=\"number\">(\\d+)<\\/span><span class=\"name\">(.+?)<\\/span><span class=\"date\">(.+?)<\\/span>"
       "<\\/div><div class=\"message\"><span class=\"escaped\">(.+?)<\\/span><\\/div><\\/div>/",
       beSpan, mailNameBold, nameBold},
  };

  std::vector<CRegexpPatternInfo> sets(2);  // filled afresh, whatever was there
  FillDefaultPatternSets(sets);
  // The five first; today's layout's set follows them (it is tested on its
  // pages with the converters).
  ASSERT_EQ(sets.size(), expected.size() + 1);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(sets[i].label, expected[i].label);
    EXPECT_EQ(sets[i].title.Narrow(), "/<title>(.+?)[\\s\\t\\n]*<\\/title>/");
    EXPECT_EQ(sets[i].res.Narrow(), expected[i].res);
    EXPECT_EQ(sets[i].be.Narrow(), expected[i].be);
    EXPECT_EQ(sets[i].mailName.Narrow(), expected[i].mailName);
    EXPECT_EQ(sets[i].name.Narrow(), expected[i].name);
  }
  // The full-width colons are the Shift_JIS character 0x81 0x46.
  EXPECT_NE(sets[0].res.Narrow().find(" \x81\x46(.+?)>\x81\x46"), std::string::npos);
}

}  // namespace
}  // namespace tav
