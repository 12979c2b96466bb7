// The pattern converter with the default sets, the layout choice by pattern
// sets, and the failures of a set.

#include <gtest/gtest.h>

#include <chrono>

#include <string>
#include <vector>

#include "acquire/ConverterTestPages.h"
#include "acquire/DatLineWriter.h"
#include "acquire/HtmlConverter.h"
#include "config/PatternSets.h"
#include "platform/CBregOnig.h"
#include "platform/TextCodec.h"
#include "config/SettingValues.h"

namespace tav {
namespace {

using testpages::Layout;
using testpages::Numbered;
using testpages::Page;
using testpages::Post;

const std::string kTitle = "パターンのスレ";

std::string Line(const std::string& name, const std::string& mail, const std::string& date, const std::string& message,
                 const std::string& title = "") {
  return Sjis(name + "<>" + mail + "<>" + date + "<>" + message + "<>" + title + "\n");
}

class PatternConverter : public ::testing::Test {
 protected:
  PatternConverter() { FillDefaultPatternSets(cfg_.PatternSets); }

  int Convert(const std::string& page, std::size_t set, int cached = -1) {
    return Convert(page, cfg_.PatternSets[set], cached);
  }
  int Convert(const std::string& page, const CRegexpPatternInfo& set, int cached = -1) {
    ConvertCall call;
    call.cachedCount = cached;
    call.lastPost = &lastPost_;
    return ConvertPatternPage(page, out_, call, options_, set, engine_);
  }

  SettingValues cfg_;
  CBregOnig engine_{true};
  HtmlConvertOptions options_;
  std::string out_;
  int lastPost_ = -100;
};

struct LayoutCase {
  Layout layout;
  std::size_t set;
};

TEST_F(PatternConverter, EachDefaultSetConvertsAPageOfItsLayout) {
  const std::vector<LayoutCase> cases = {{Layout::kDl, 0},
                                         {Layout::kDiv, 1},
                                         {Layout::kDtSpan, 2},
                                         {Layout::kMeta, 3},
                                         {Layout::kMetaWithoutId, 4},
                                         {Layout::kClearPost, 5}};
  auto posts = Numbered({1, 2, 3});
  posts[1].mail = "sage";
  posts[1].name = "名無し";
  posts[2].message = " <a href=\"http://x.example/\">http://x.example/</a>  <img src=\"//i.example/a.gif\"> "
                     "<br> <br> end <br><br>";
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.set);
    const std::string page = Page(c.layout, kTitle, posts);
    const ConverterChoice choice = ChooseConverter(page, cfg_, engine_);
    EXPECT_EQ(choice.kind, ConverterKind::kPattern);
    EXPECT_EQ(choice.patternSet, static_cast<int>(c.set));
    ASSERT_EQ(Convert(page, c.set), 3);
    const bool keepsId = c.layout == Layout::kMeta || c.layout == Layout::kClearPost;
    const std::string id = keepsId ? " " + posts[0].id : "";
    // Message clean-up steps 1 to 4; a final "<br><br>" stays (the dl set's
    // post pattern ends before it).
    const std::string third = c.layout == Layout::kDl ? " http://x.example/ sssp://i.example/a.gif <br>  <br> end "
                                                      : " http://x.example/ sssp://i.example/a.gif <br>  <br> end <br><br>";
    EXPECT_EQ(out_, Line(posts[0].name, "", posts[0].date + id, posts[0].message, kTitle) +
                        Line("名無し", "sage", posts[1].date + id, posts[1].message) +
                        Line(posts[2].name, "", posts[2].date + id, third));
    EXPECT_EQ(lastPost_, 3);
  }
}

TEST_F(PatternConverter, GapsAndTheCachedCountRule) {
  const std::string gapped = Page(Layout::kDiv, kTitle, Numbered({1, 2, 4}));
  ASSERT_EQ(Convert(gapped, 1), 4);
  EXPECT_NE(out_.find(DatLineWriter::DeletedPostLine()), std::string::npos);
  const std::string page = Page(Layout::kDiv, kTitle, Numbered({1, 3, 4, 5}));
  ASSERT_EQ(Convert(page, 1, 3), 2);
  EXPECT_EQ(out_, Line("名無しさん", "", Post{}.date, " 本文4 ") + Line("名無しさん", "", Post{}.date, " 本文5 "));
  ASSERT_EQ(Convert(page, 1, 0), 5);
  EXPECT_EQ(out_, DatLineWriter::DeletedPostLine());
}

TEST_F(PatternConverter, BeLinkIsTakenFromBetweenDateAndMessage) {
  Post post;
  post.be = "<a href=\"http://be.2ch.net/user/123456\" target=\"_blank\">?2BP(1000)</a>";
  ASSERT_EQ(Convert(Page(Layout::kDiv, kTitle, {post}), 1), 1);
  EXPECT_EQ(out_, Line(post.name, "", post.date + " BE:123456-2BP(1000)", post.message, kTitle));
  ASSERT_EQ(Convert(Page(Layout::kMeta, kTitle, {post}), 3), 1);
  EXPECT_EQ(out_, Line(post.name, "", post.date + " " + post.id + " BE:123456-2BP(1000)", post.message, kTitle));
  ASSERT_EQ(Convert(Page(Layout::kMetaWithoutId, kTitle, {post}), 4), 1);
  EXPECT_EQ(out_, Line(post.name, "", post.date + " BE:123456-2BP(1000)", post.message, kTitle));
}

TEST_F(PatternConverter, TagsInTheDateBecomeSpaces) {
  Post post;
  post.date = "2005/02/02 <b>ID</b><i>x</i>";
  ASSERT_EQ(Convert(Page(Layout::kDl, kTitle, {post}), 0), 1);
  EXPECT_EQ(out_, Line(post.name, "", "2005/02/02  ID x ", post.message, kTitle));
  post.date = "2005/02/02 <unclosed";
  ASSERT_EQ(Convert(Page(Layout::kDl, kTitle, {post}), 0), 1);
  EXPECT_EQ(out_, Line(post.name, "", "2005/02/02 <unclosed", post.message, kTitle));
}

TEST_F(PatternConverter, NameFromMailNameOrNamePatternOrNeither) {
  CRegexpPatternInfo set = cfg_.PatternSets[1];
  Post post;
  post.name = "名前  です";
  ASSERT_EQ(Convert(Page(Layout::kDiv, kTitle, {post}), set), 1);
  EXPECT_EQ(out_, Line("名前 です", "", post.date, post.message, kTitle));
  set.name = CDoubleString::FromUtf8("/<nomatch>(.+)<\\/nomatch>/");
  ASSERT_EQ(Convert(Page(Layout::kDiv, kTitle, {post}), set), 1);
  EXPECT_EQ(out_, Line("", "", post.date, post.message, kTitle));
}

TEST_F(PatternConverter, APostPatternWithThreeGroupsFailsWithMinus555) {
  CRegexpPatternInfo set = cfg_.PatternSets[1];
  set.res = CDoubleString::FromUtf8(
      "/<div class=\"number\">(\\d+) : <\\/div><div class=\"name\">(.+?)<\\/div><div class=\"date\">(.+?)<\\/div>/");
  EXPECT_EQ(Convert(Page(Layout::kDiv, kTitle, Numbered({1, 2})), set), kConvertBadGroups);
}

TEST_F(PatternConverter, TitleFailures) {
  CRegexpPatternInfo set = cfg_.PatternSets[1];
  const std::string page = Page(Layout::kDiv, kTitle, Numbered({1}));
  set.title = CDoubleString::FromUtf8("/<nomatch>(.+?)<\\/nomatch>/");
  EXPECT_EQ(Convert(page, set), kConvertNoTitleEnd);
  set.title = CDoubleString::FromUtf8("/<title>/");  // matches, but without a group
  EXPECT_EQ(Convert(page, set), kConvertNoTitleEnd);
  set.title = CDoubleString::FromUtf8("not a pattern");
  EXPECT_EQ(Convert(page, set), kConvertNoTitleEnd);
  EXPECT_EQ(Convert(Page(Layout::kDiv, "もうずっと人大杉", Numbered({1})), 1), kConvertOverload);
  EXPECT_EQ(out_, "");
}

TEST_F(PatternConverter, AHugeNumberFailsWithMinusFive) {
  EXPECT_EQ(Convert(Page(Layout::kDiv, kTitle, Numbered({1, 2000000000})), 1), kConvertOutputFull);
}

TEST_F(PatternConverter, EmptyMatchesDoNotStopTheSearchFromMovingOn) {
  CRegexpPatternInfo set = cfg_.PatternSets[1];
  set.res = CDoubleString::FromUtf8("/()()()()/");
  EXPECT_EQ(Convert(Page(Layout::kDiv, kTitle, Numbered({1, 2})), set), 0);
  set.res = CDoubleString::FromUtf8("/([a-z]*)()()()/");  // some empty, some not
  EXPECT_EQ(Convert(Page(Layout::kDiv, kTitle, Numbered({1, 2})), set), 0);
}

TEST(PatternChoice, OnlyWithRegexModeOnAndTheEngineLoaded) {
  SettingValues cfg;
  FillDefaultPatternSets(cfg.PatternSets);
  const CBregOnig loaded(true);
  const CBregOnig unloaded(false);
  const std::string page = Page(Layout::kDiv, kTitle, Numbered({1}));
  EXPECT_EQ(ChooseConverter(page, cfg, loaded).kind, ConverterKind::kPattern);
  EXPECT_EQ(ChooseConverter(page, cfg, unloaded).kind, ConverterKind::kDiv);
  cfg.BregexpMode = 0;
  EXPECT_EQ(ChooseConverter(page, cfg, loaded).kind, ConverterKind::kDiv);
}

TEST(PatternChoice, OnlyThePageStartIsTried) {
  SettingValues cfg;
  FillDefaultPatternSets(cfg.PatternSets);
  const CBregOnig engine(true);
  std::string page = Page(Layout::kDiv, kTitle, Numbered({1, 2}));
  // Posts that begin after the first 32,768 bytes are not seen.
  page.insert(page.find("<div class=\"post\""), std::string(40000, ' '));
  EXPECT_EQ(ChooseConverter(page, cfg, engine).kind, ConverterKind::kDiv);
  // A set list with a broken or empty pattern first still reaches the others.
  CRegexpPatternInfo broken;
  broken.res = CDoubleString::FromUtf8("/(unclosed/");
  cfg.PatternSets.insert(cfg.PatternSets.begin(), {broken, CRegexpPatternInfo{}});
  const ConverterChoice choice = ChooseConverter(Page(Layout::kDiv, kTitle, Numbered({1})), cfg, engine);
  EXPECT_EQ(choice.kind, ConverterKind::kPattern);
  EXPECT_EQ(choice.patternSet, 3);
}

TEST(PatternChoice, ConvertPageRunsTheChosenConverter) {
  SettingValues cfg;
  FillDefaultPatternSets(cfg.PatternSets);
  cfg.FixBRBR = 0;
  const CBregOnig engine(true);
  Post post;
  post.message = " a <br> <br> b ";
  const std::string page = Page(Layout::kMeta, kTitle, {post});
  std::string out;
  for (const CBregOnig* e : {&engine}) {
    const ConverterChoice choice = ChooseConverter(page, cfg, *e);
    ASSERT_EQ(ConvertPage(choice, page, out, ConvertCall{}, cfg, *e), 1);
    EXPECT_EQ(out, Line(post.name, "", post.date + " " + post.id, " a <br> <br> b ", kTitle));
  }
  const CBregOnig unloaded(false);
  ASSERT_EQ(ConvertPage(ChooseConverter(page, cfg, unloaded), page, out, ConvertCall{}, cfg, unloaded), 1);
  EXPECT_EQ(out, Line(post.name, "", post.date + " " + post.id, " a <br> <br> b ", kTitle));
}

// A page that ends in a long run of lead-range bytes: the last whole
// character is found once per page, not once per post. (Once per post, this
// page took minutes.)
TEST_F(PatternConverter, APageEndingInLeadBytesCostsItsLength) {
  constexpr int kPosts = 4000;
  std::vector<Post> posts(kPosts);
  for (int n = 1; n <= kPosts; ++n) posts[static_cast<std::size_t>(n - 1)].number = n;
  const std::string page = Page(Layout::kDiv, kTitle, posts) + std::string(4u << 20, '\x81');
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Convert(page, 1), kPosts);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
}  // namespace tav
