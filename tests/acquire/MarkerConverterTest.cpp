// The div, dt-span and meta converters on small pages of their layouts.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "acquire/ConverterTestPages.h"
#include "acquire/DatLineWriter.h"
#include "acquire/HtmlConverter.h"
#include "platform/CBregOnig.h"
#include "platform/TextCodec.h"
#include "config/SettingValues.h"

namespace tav {
namespace {

using testpages::Layout;
using testpages::Numbered;
using testpages::Page;
using testpages::Post;

const std::string kTitle = "テストスレ Part1";

// Splits dat text into its lines (each with its "\n").
std::vector<std::string> Lines(const std::string& dat) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < dat.size()) {
    const std::size_t end = dat.find('\n', pos);
    lines.push_back(dat.substr(pos, end == std::string::npos ? std::string::npos : end - pos + 1));
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  return lines;
}

std::string Line(const std::string& name, const std::string& mail, const std::string& date, const std::string& message,
                 const std::string& title = "") {
  return Sjis(name + "<>" + mail + "<>" + date + "<>" + message + "<>" + title + "\n");
}

class MarkerConverter : public ::testing::TestWithParam<Layout> {
 protected:
  int Convert(const std::string& page, int cached = -1, int firstExpected = 1) {
    ConvertCall call;
    call.cachedCount = cached;
    call.firstExpected = firstExpected;
    call.lastPost = &lastPost_;
    switch (GetParam()) {
      case Layout::kDiv:
        return ConvertDivPage(page, out_, call, options_);
      case Layout::kDtSpan:
        return ConvertDtSpanPage(page, out_, call, options_);
      default:
        return ConvertMetaPage(page, out_, call, options_);
    }
  }
  std::string PageOf(const std::vector<Post>& posts, const std::string& title = kTitle) {
    return Page(GetParam(), title, posts);
  }
  // The date field the layout produces for `post`.
  std::string DateOf(const Post& post) const {
    return GetParam() == Layout::kMeta ? post.date + " " + post.id : post.date;
  }
  std::string LineOf(const Post& post, const std::string& title = "") const {
    return Line(post.name, post.mail, DateOf(post), post.message, title);
  }

  HtmlConvertOptions options_;
  std::string out_;
  int lastPost_ = -100;
};

TEST_P(MarkerConverter, ConvertsPostsWithTheTitleOnTheFirstLineOnly) {
  const auto posts = Numbered({1, 2});
  ASSERT_EQ(Convert(PageOf(posts)), 2);
  EXPECT_EQ(Lines(out_), (std::vector<std::string>{LineOf(posts[0], kTitle), LineOf(posts[1])}));
  EXPECT_EQ(lastPost_, 2);
}

TEST_P(MarkerConverter, FillsGapsWithDeletedPostLines) {
  const auto posts = Numbered({1, 2, 4, 7});
  ASSERT_EQ(Convert(PageOf(posts)), 7);
  const std::string& deleted = DatLineWriter::DeletedPostLine();
  EXPECT_EQ(Lines(out_), (std::vector<std::string>{LineOf(posts[0], kTitle), LineOf(posts[1]), deleted,
                                                   LineOf(posts[2]), deleted, deleted, LineOf(posts[3])}));
}

TEST_P(MarkerConverter, CachedCountRule) {
  const auto posts = Numbered({1, 3, 4, 5});
  // M = 3: the page of "3-" holds post 1 and posts 3 to 5.
  ASSERT_EQ(Convert(PageOf(posts), 3), 2);
  EXPECT_EQ(Lines(out_), (std::vector<std::string>{LineOf(posts[2]), LineOf(posts[3])}));

  const auto whole = Numbered({1, 2, 3});
  ASSERT_EQ(Convert(PageOf(whole), -1), 3);
  EXPECT_EQ(Lines(out_).size(), 3u);
  ASSERT_EQ(Convert(PageOf(whole), 0), 3);
  EXPECT_EQ(out_, "");
  ASSERT_EQ(Convert(PageOf(whole), 1), 2);
  EXPECT_EQ(Lines(out_), (std::vector<std::string>{LineOf(whole[1]), LineOf(whole[2])}));
  ASSERT_EQ(Convert(PageOf(Numbered({1})), 1), 0);
  EXPECT_EQ(out_, "");
  EXPECT_EQ(Convert(PageOf(Numbered({1})), 2), -1);
  ASSERT_EQ(Convert(PageOf(Numbered({1, 2})), 2), 0);
  EXPECT_EQ(out_, "");
}

TEST_P(MarkerConverter, SegmentStartSkipsTheNumbersBeforeIt) {
  const auto posts = Numbered({1, 6, 7, 8});
  ASSERT_EQ(Convert(PageOf(posts), -1, 6), 4);
  EXPECT_EQ(Lines(out_), (std::vector<std::string>{LineOf(posts[0], kTitle), LineOf(posts[1]), LineOf(posts[2]),
                                                   LineOf(posts[3])}));
  ASSERT_EQ(Convert(PageOf(posts)), 8);  // without it: four deleted-post lines
}

TEST_P(MarkerConverter, RepeatedAndOutOfOrderNumbersAreLeftOut) {
  auto posts = Numbered({1, 2, 2, 3});
  posts[2].message = " repeated ";
  ASSERT_EQ(Convert(PageOf(posts)), 3);
  EXPECT_EQ(Lines(out_), (std::vector<std::string>{LineOf(posts[0], kTitle), LineOf(posts[1]), LineOf(posts[3])}));
  posts = Numbered({1, 3, 2, 4});
  ASSERT_EQ(Convert(PageOf(posts)), 4);
  EXPECT_EQ(Lines(out_).size(), 4u);
}

TEST_P(MarkerConverter, AnUnreadableNumberIsLeftOut) {
  std::string page = PageOf(Numbered({1, 2, 3}));
  // Post 2's number becomes unreadable (reads as 0).
  const std::string number = GetParam() == Layout::kDiv ? "<div class=\"number\">2" : "<span class=\"number\">2";
  const std::size_t at = page.find(number);
  ASSERT_NE(at, std::string::npos);
  page[at + number.size() - 1] = 'x';
  ASSERT_EQ(Convert(page), 3);
  const auto lines = Lines(out_);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], DatLineWriter::DeletedPostLine());
}

TEST_P(MarkerConverter, AHugeNumberFailsWithMinusFiveInsteadOfFillingForEver) {
  auto posts = Numbered({1, 2000000000});
  EXPECT_EQ(Convert(PageOf(posts)), kConvertOutputFull);
}

TEST_P(MarkerConverter, MailtoNameGivesNameAndMail) {
  Post post;
  post.mail = "sage";
  post.name = "名無し";
  ASSERT_EQ(Convert(PageOf({post})), 1);
  EXPECT_EQ(out_, Line("名無し", "sage", DateOf(post), post.message, kTitle));
}

TEST_P(MarkerConverter, NamesWithTripsAndSpaces) {
  Post post;
  post.name = "名無し  さん </b>◆Trip<b>";
  post.mail = "sage  age";
  ASSERT_EQ(Convert(PageOf({post})), 1);
  EXPECT_EQ(out_, Line("名無し さん </b>◆Trip<b>", "sage age", DateOf(post), post.message, kTitle));
  options_.removeHalfSpace = false;
  ASSERT_EQ(Convert(PageOf({post})), 1);
  EXPECT_EQ(out_, Line(post.name, post.mail, DateOf(post), post.message, kTitle));
}

TEST_P(MarkerConverter, BeProfileLinksOfBothDomains) {
  Post post;
  post.be = "<a href=\"http://be.2ch.net/user/123456\" target=\"_blank\">?2BP(1000)</a>";
  ASSERT_EQ(Convert(PageOf({post})), 1);
  EXPECT_EQ(out_, Line(post.name, "", DateOf(post) + " BE:123456-2BP(1000)", post.message, kTitle));
  post.be = "<a href=\"http://be.5ch.net/user/42\" target=\"_blank\">?PLT(9)</a>";
  ASSERT_EQ(Convert(PageOf({post})), 1);
  EXPECT_EQ(out_, Line(post.name, "", DateOf(post) + " BE:42-PLT(9)", post.message, kTitle));
  // Configured hosts are what is recognised.
  options_.beSecondaryHost = "be.example.jp";
  post.be = "<a href=\"http://be.example.jp/user/7\" target=\"_blank\">?X</a>";
  ASSERT_EQ(Convert(PageOf({post})), 1);
  EXPECT_EQ(out_, Line(post.name, "", DateOf(post) + " BE:7-X", post.message, kTitle));
}

TEST_P(MarkerConverter, BeScriptLinkInTheDate) {
  Post post;
  post.date = "2005/02/02 12:00:00 <a href=\"javascript:be(314);\">?2BP</a>";
  post.be = "<a href=\"http://be.2ch.net/user/1\" target=\"_blank\">?Z</a>";  // the date has BE: already
  ASSERT_EQ(Convert(PageOf({post})), 1);
  const std::string date = GetParam() == Layout::kMeta ? "2005/02/02 12:00:00 BE:314-2BP " + post.id
                                                        : "2005/02/02 12:00:00 BE:314-2BP";
  EXPECT_EQ(out_, Line(post.name, "", date, post.message, kTitle));
}

TEST_P(MarkerConverter, MessageCleanUpsFollowTheSwitches) {
  Post post;
  post.message = " <a href=\"http://x.example/\" target=\"_blank\">http://x.example/</a>   "
                 "<img src=\"//img.example/a.png\"> <br> <br> end <br><br>";
  ASSERT_EQ(Convert(PageOf({post})), 1);
  EXPECT_EQ(out_, Line(post.name, "", DateOf(post), " http://x.example/ sssp://img.example/a.png <br>  <br> end ",
                       kTitle));
  options_.removeHalfSpace = false;
  options_.fixBrBr = false;
  ASSERT_EQ(Convert(PageOf({post})), 1);
  EXPECT_EQ(out_, Line(post.name, "", DateOf(post),
                       " http://x.example/   sssp://img.example/a.png <br> <br> end ", kTitle));
}

TEST_P(MarkerConverter, OverloadTitleGivesMinusElevenAndNoOutput) {
  EXPECT_EQ(Convert(PageOf(Numbered({1, 2}), "もうずっと人大杉")), kConvertOverload);
  EXPECT_EQ(out_, "");
}

TEST_P(MarkerConverter, TitleWithoutItsEndGivesMinusOne) {
  std::string page = PageOf(Numbered({1}));
  page.replace(page.find("</title>"), 8, "</titel>");
  EXPECT_EQ(Convert(page), kConvertNoTitleEnd);
  EXPECT_EQ(out_, "");
}

TEST_P(MarkerConverter, PageWithoutTitleConvertsWithoutOne) {
  std::string page = PageOf(Numbered({1}));
  page.replace(page.find("<title>"), 7, "<titel>");
  ASSERT_EQ(Convert(page), 1);
  EXPECT_EQ(out_, LineOf(Numbered({1})[0]));
}

TEST_P(MarkerConverter, PostWithoutDateOrMessageGivesMinusFour) {
  const std::string page = PageOf(Numbered({1}));
  const std::string dateMarker = GetParam() == Layout::kDiv ? "<div class=\"date\">" : "<span class=\"date\">";
  std::string noDate = page;
  noDate.replace(noDate.find(dateMarker), dateMarker.size(), "<i>");
  EXPECT_EQ(Convert(noDate), kConvertNoDateOrMessage);
  const std::string messageMarker = GetParam() == Layout::kDiv      ? "<div class=\"message\">"
                                    : GetParam() == Layout::kDtSpan ? "<dd class=\"thread_in\">"
                                                                    : "<div class=\"message\"><span class=\"escaped\">";
  std::string noMessage = page;
  noMessage.replace(noMessage.find(messageMarker), messageMarker.size(), "<i>");
  EXPECT_EQ(Convert(noMessage), kConvertNoDateOrMessage);
}

TEST_P(MarkerConverter, EmptyPageAndPageWithoutPostsGiveNoLines) {
  EXPECT_EQ(Convert(""), 0);
  EXPECT_EQ(out_, "");
  EXPECT_EQ(Convert(PageOf({})), 0);
  EXPECT_EQ(out_, "");
}

TEST_P(MarkerConverter, OverlongFieldsAreCutAndTheRestOfThePageStillConverts) {
  auto posts = Numbered({1, 2});
  posts[0].message = " " + std::string(70000, 'x') + " ";
  const std::string page = PageOf(posts);
  ASSERT_EQ(Convert(page), 2);
  const auto lines = Lines(out_);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_LT(lines[0].size(), 65534u + 200u);
  EXPECT_EQ(lines[1], LineOf(posts[1]));
  EXPECT_LE(out_.size(), page.size() + 65535);
}

TEST_P(MarkerConverter, OverlongTitleIsCut) {
  const std::string title(70000, 't');
  ASSERT_EQ(Convert(PageOf(Numbered({1}), title)), 1);
  EXPECT_TRUE(out_.size() > 65534 && out_.size() < 65534 + 200);
  EXPECT_NE(out_.find(std::string(65534, 't') + "\n"), std::string::npos);
  EXPECT_EQ(out_.find(std::string(65535, 't')), std::string::npos);
}

TEST_P(MarkerConverter, CrLfPagesAndANulEndingThePage) {
  std::string page = PageOf(Numbered({1, 2}));
  std::string crlf;
  for (char c : page) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  ASSERT_EQ(Convert(crlf), 2);
  EXPECT_EQ(Lines(out_)[0], LineOf(Numbered({1})[0], kTitle));
  // Text after a NUL byte is not part of the page.
  const std::size_t second = page.rfind(GetParam() == Layout::kDtSpan ? "<dl class=\"post\"" : "<div class=\"post\"");
  page[second] = '\0';
  ASSERT_EQ(Convert(page), 1);
}

INSTANTIATE_TEST_SUITE_P(Layouts, MarkerConverter, ::testing::Values(Layout::kDiv, Layout::kDtSpan, Layout::kMeta),
                         [](const ::testing::TestParamInfo<Layout>& layout) {
                           switch (layout.param) {
                             case Layout::kDiv:
                               return std::string("Div");
                             case Layout::kDtSpan:
                               return std::string("DtSpan");
                             default:
                               return std::string("Meta");
                           }
                         });

TEST(DivConverter, NumberZeroIsLeftOutEvenWhereNumbersAreNotChecked) {
  // M = 3: the first two posts are not checked. The div converter leaves
  // post 0 out, so post 4 takes the cached slot and produces no line.
  ConvertCall call;
  call.cachedCount = 3;
  std::string out;
  ASSERT_EQ(ConvertDivPage(Page(Layout::kDiv, kTitle, Numbered({1, 0, 4})), out, call, HtmlConvertOptions{}), 0);
  EXPECT_EQ(out, "");
  // In the meta layout the unchecked post 0 counts, so post 4 is new.
  ASSERT_EQ(ConvertMetaPage(Page(Layout::kMeta, kTitle, Numbered({1, 0, 4})), out, call, HtmlConvertOptions{}), 1);
  EXPECT_EQ(Lines(out).size(), 1u);
}

TEST(EveryConverter, AcceptsAPageWithoutAnyBytes) {
  const std::string_view nothing;  // null data, length 0
  std::string out = "old";
  const HtmlConvertOptions options;
  EXPECT_EQ(ConvertDivPage(nothing, out, ConvertCall{}, options), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(ConvertDtSpanPage(nothing, out, ConvertCall{}, options), 0);
  EXPECT_EQ(ConvertMetaPage(nothing, out, ConvertCall{}, options), 0);
  EXPECT_EQ(ConvertDlPage(nothing, out, ConvertCall{}, options), 0);
  SettingValues cfg;
  const CBregOnig engine(true);
  EXPECT_EQ(ChooseConverter(nothing, cfg, engine).kind, ConverterKind::kDl);
}

TEST(MetaConverter, KeepsTheIdApartInTheDate) {
  Post post;
  post.id = "ID:Zz9";
  std::string out;
  ASSERT_EQ(ConvertMetaPage(Page(Layout::kMeta, "t", {post}), out, ConvertCall{}, HtmlConvertOptions{}), 1);
  EXPECT_EQ(out, Line(post.name, "", post.date + " ID:Zz9", post.message, "t"));
  // Without the ID element the date stands alone.
  ASSERT_EQ(ConvertMetaPage(Page(Layout::kMetaWithoutId, "t", {post}), out, ConvertCall{}, HtmlConvertOptions{}), 1);
  EXPECT_EQ(out, Line(post.name, "", post.date, post.message, "t"));
}

TEST(ConverterChoice, MarkersChooseTheLayout) {
  const SettingValues cfg;  // regex mode on, but the engine is not loaded
  const CBregOnig unloaded(false);
  EXPECT_EQ(ChooseConverter(Page(Layout::kDiv, "t", Numbered({1})), cfg, unloaded).kind, ConverterKind::kDiv);
  EXPECT_EQ(ChooseConverter(Page(Layout::kDtSpan, "t", Numbered({1})), cfg, unloaded).kind,
            ConverterKind::kDtSpan);
  EXPECT_EQ(ChooseConverter(Page(Layout::kMeta, "t", Numbered({1})), cfg, unloaded).kind, ConverterKind::kMeta);
  EXPECT_EQ(ChooseConverter(Page(Layout::kDl, "t", Numbered({1})), cfg, unloaded).kind, ConverterKind::kDl);
  EXPECT_EQ(ChooseConverter("<html>error</html>", cfg, unloaded).kind, ConverterKind::kDl);
}

TEST(ConverterChoice, AMarkerAnywhereInThePageTakesPrecedenceInLayoutOrder) {
  const SettingValues cfg;
  const CBregOnig unloaded(false);
  const std::string div = "<div class=\"number\">";
  const std::string dtSpan = "<dt class=\"\"><span class=\"number\">";
  const std::string meta = "<div class=\"meta\"><span class=\"number\">";
  const std::string filler(5000, 'x');
  const struct {
    std::string page;
    ConverterKind kind;
  } rows[] = {
      {dtSpan + filler + div, ConverterKind::kDiv},
      {meta + filler + div, ConverterKind::kDiv},
      {meta + filler + dtSpan, ConverterKind::kDtSpan},
      {filler + meta, ConverterKind::kMeta},
      {"<span class=\"number\">" + filler, ConverterKind::kDl},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ChooseConverter(row.page, cfg, unloaded).kind, row.kind) << row.page.substr(0, 40);
  }
}

}  // namespace
}  // namespace tav
