// The dl converter on pages of the oldest layout.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include <cstdio>
#include <string>
#include <vector>

#include "acquire/ConverterTestPages.h"
#include "acquire/DatLineWriter.h"
#include "acquire/HtmlConverter.h"
#include "platform/TextCodec.h"

namespace tav {
namespace {

using testpages::Layout;
using testpages::Numbered;
using testpages::Page;
using testpages::Post;

const std::string kTitle = "古いスレ";
const std::string kHead =
    "<html>\n<head>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">\n<title>古いスレ</title>\n"
    "</head>\n<body>\n<dl class=\"thread\">\n";

std::string Line(const std::string& name, const std::string& mail, const std::string& date, const std::string& message,
                 const std::string& title = "") {
  return Sjis(name + "<>" + mail + "<>" + date + "<>" + message + "<>" + title + "\n");
}

std::string Protect(const std::string& address, unsigned key) {
  char pair[3];
  std::snprintf(pair, sizeof pair, "%02x", key);
  std::string hex = pair;
  for (unsigned char c : address) {
    std::snprintf(pair, sizeof pair, "%02x", c ^ key);
    hex += pair;
  }
  return hex;
}

class DlConverter : public ::testing::Test {
 protected:
  int Convert(const std::string& utf8Page, int cached = -1) {
    ConvertCall call;
    call.cachedCount = cached;
    call.lastPost = &lastPost_;
    return ConvertDlPage(Sjis(utf8Page), out_, call, options_);
  }

  HtmlConvertOptions options_;
  std::string out_;
  int lastPost_ = -100;
};

TEST_F(DlConverter, ConvertsPlainAndMailtoPosts) {
  auto posts = Numbered({1, 2});
  posts[1].mail = "sage";
  posts[1].name = "名無し";
  ASSERT_EQ(Convert(testpages::PageUtf8(Layout::kDl, kTitle, posts)), 2);
  EXPECT_EQ(out_, Line(posts[0].name, "", posts[0].date, posts[0].message, kTitle) +
                      Line("名無し", "sage", posts[1].date, posts[1].message));
  EXPECT_EQ(lastPost_, 2);
}

TEST_F(DlConverter, FillsGapsAndAppliesTheCachedCount) {
  const std::string page = testpages::PageUtf8(Layout::kDl, kTitle, Numbered({1, 2, 4}));
  ASSERT_EQ(Convert(page), 4);
  EXPECT_NE(out_.find(DatLineWriter::DeletedPostLine()), std::string::npos);
  ASSERT_EQ(Convert(testpages::PageUtf8(Layout::kDl, kTitle, Numbered({1, 3, 4, 5})), 3), 2);
  EXPECT_EQ(out_, Line("名無しさん", "", Post{}.date, " 本文4 ") + Line("名無しさん", "", Post{}.date, " 本文5 "));
}

TEST_F(DlConverter, APostRunsOverSeveralLinesUntilBrBr) {
  const std::string page = kHead +
                           "<dt>1 ：<font color=green><b>名無し</b></font>：2005/02/02 ID:a<dd> one <br>\n"
                           " two <br>\n"
                           " three <br><br>\n"
                           "<dt>2 ：<font color=green><b>名無し</b></font>：2005/02/02 ID:b<dd> x <br><br>\n</dl>\n";
  ASSERT_EQ(Convert(page), 2);
  EXPECT_EQ(out_, Line("名無し", "", "2005/02/02 ID:a", " one <br> two <br> three ", kTitle) +
                      Line("名無し", "", "2005/02/02 ID:b", " x "));
}

TEST_F(DlConverter, LinesAreCutToTheirDtAndOthersSkipped) {
  const std::string page = kHead + "<p>ad</p>\n<dl><dt>1 ：<font color=green><b>n</b></font>：d<dd> m <br><br>\n";
  ASSERT_EQ(Convert(page), 1);
  EXPECT_EQ(out_, Line("n", "", "d", " m ", kTitle));
}

TEST_F(DlConverter, AnEmptyLineOrTheListEndStopsTheConversion) {
  const std::string post2 = "<dt>2 ：<font color=green><b>n</b></font>：d<dd> m <br><br>\n";
  const std::string post1 = "<dt>1 ：<font color=green><b>n</b></font>：d<dd> m <br><br>\n";
  EXPECT_EQ(Convert(kHead + post1 + "\n" + post2), 1);
  EXPECT_EQ(Convert(kHead + post1 + "</dl>\n" + post2), 1);
  EXPECT_EQ(Convert(kHead + post1 + "</dl> \n" + post2), 2);
}

TEST_F(DlConverter, BeScriptLinkInTheDate) {
  const std::string page =
      kHead + "<dt>1 ：<font color=green><b>n</b></font>：2005/02/02 ID:a <a href=\"javascript:be(77);\">?2BP</a><dd> m <br><br>\n";
  ASSERT_EQ(Convert(page), 1);
  EXPECT_EQ(out_, Line("n", "", "2005/02/02 ID:a BE:77-2BP", " m ", kTitle));
}

TEST_F(DlConverter, MessageCleanUpsWithSwitches) {
  const std::string page = kHead +
                           "<dt>1 ：<font color=green><b>n  n</b></font>：d<dd> <a href=\"http://u\">http://u</a>  "
                           "<img src=\"http://i/x.jpg\"> <br> <br> e <br><br>\n";
  ASSERT_EQ(Convert(page), 1);
  EXPECT_EQ(out_, Line("n n", "", "d", " http://u sssp://i/x.jpg <br>  <br> e ", kTitle));
  options_.removeHalfSpace = false;
  options_.fixBrBr = false;
  ASSERT_EQ(Convert(page), 1);
  EXPECT_EQ(out_, Line("n  n", "", "d", " http://u  sssp://i/x.jpg <br> <br> e ", kTitle));
}

TEST_F(DlConverter, ProtectedEmailInTheNameAndTheMail) {
  const std::string span = "<span class=\"__cf_email__\" data-cfemail=\"" + Protect("who@example.com", 0x2c) +
                           "\">[email&#160;protected]</span><script data-cfhash='f9e31' type=\"text/javascript\">\n"
                           "/* <![CDATA[ */!function(){try{}catch(u){}}()/* ]]> */</script>";
  const std::string page = kHead + "<dt>1 ：<a href=\"/cdn-cgi/l/email-protection#" + Protect("sage@x.jp", 0x51) +
                           "\"><b>" + span + "</b></a>：2005/02/02<dd> m <br><br>\n";
  ASSERT_EQ(Convert(page), 1);
  EXPECT_EQ(out_, Line("who@example.com", "sage@x.jp", "2005/02/02", " m ", kTitle));
}

TEST_F(DlConverter, AnUnreadablePostIsRepairedOrMarkedBroken) {
  // Neither name delimiter: the e-mail link is repaired, the post is read
  // again and, still without a delimiter, marked as broken.
  const std::string link = "<a href=\"/cdn-cgi/l/email-protection#" + Protect("a@b.c", 0x33) + "\">[email protected]</a>";
  ASSERT_EQ(Convert(kHead + "<dt>1 ：name：date<dd> mail " + link + " <br><br>\n"), 1);
  EXPECT_EQ(out_, Line("(ここ壊れてます)", "", "(ここ壊れてます)",
                       " mail <a href=\"mailto:a@b.c\">[email protected]</a> ", kTitle));
  ASSERT_EQ(Convert(kHead + "<dt>1 ：name：date<dd> plain <br><br>\n"), 1);
  EXPECT_EQ(out_, Line("(ここ壊れてます)", "", "(ここ壊れてます)", " plain ", kTitle));
  // The repaired post has its name end: it is read as usual.
  const std::string nameEnd = "/cdn-cgi/l/email-protection#" + Protect(Sjis("</b></a>："), 0x21);
  ASSERT_EQ(Convert(kHead + "<dt>1 ：<b>n" + nameEnd + "when<dd> m <br><br>\n"), 1);
  EXPECT_EQ(out_, Line("nmailto:", "", "when", " m ", kTitle));
}

TEST_F(DlConverter, EachFailureCode) {
  EXPECT_EQ(Convert(kHead + "<dt>1 ：name：date no dd <br><br>\n"), kConvertNoDd);
  EXPECT_EQ(Convert(kHead + "<dt>1 ：<font color=green>n</b></font>：d<dd> m <br><br>\n"), kConvertNoBold);
  EXPECT_EQ(Convert(kHead + "<dt>1 ：<font color=green><b>n</b></font>：d m <br><br>\n"), kConvertNoDateOrMessage);
  EXPECT_EQ(Convert("<html>\n<title>never closed\n<dt>1 ：x<dd>y<br><br>\n"), kConvertNoTitleEnd);
  EXPECT_EQ(out_, "");
  EXPECT_EQ(Convert("<html>\n<title>もうずっと人大杉</title>\n<dt>1 ：x<dd>y<br><br>\n"), kConvertOverload);
  EXPECT_EQ(out_, "");
  EXPECT_EQ(Convert(testpages::PageUtf8(Layout::kDl, kTitle, Numbered({1, 2000000000}))), kConvertOutputFull);
}

TEST_F(DlConverter, OverlongLinesAreCutAndTheRestConverts) {
  const std::string page = kHead + "<dt>1 ：<font color=green><b>n</b></font>：d<dd> " + std::string(80000, 'x') +
                           " <br><br>\n<dt>2 ：<font color=green><b>n</b></font>：d<dd> m <br><br>\n";
  ASSERT_EQ(Convert(page), 2);
  const std::size_t firstEnd = out_.find('\n');
  EXPECT_LE(firstEnd, 65534u + 50u);
  EXPECT_EQ(out_.substr(firstEnd + 1), Line("n", "", "d", " m "));
}

TEST_F(DlConverter, APostThatNeverEndsTakesTheRestOfThePage) {
  std::string page = kHead + "<dt>1 ：<font color=green><b>n</b></font>：d<dd> m <br>\n";
  for (int i = 0; i < 5000; ++i) page += "more text that never ends the post <br>\n";
  ASSERT_EQ(Convert(page), 1);
  EXPECT_LE(out_.size(), 65534u + 50u);
}

// A stray NUL ends its line, not the page: the posts after it are kept.
TEST_F(DlConverter, ANulEndsALineNotThePage) {
  const std::string page = testpages::PageUtf8(Layout::kDl, kTitle, Numbered({1, 2, 3}));
  std::string withNul = page;
  const std::size_t secondPost = withNul.find("<dt>2 ");
  withNul.insert(withNul.find(" 本文2", secondPost) + 1, std::string(1, '\0'));
  ASSERT_EQ(Convert(withNul), 3);
  EXPECT_EQ(out_.find('\0'), std::string::npos);
  EXPECT_NE(out_.find(Sjis("本文3")), std::string::npos);
}

// Posts made of nothing but protected e-mail links: each repair goes on
// from where the last one ended, so a page costs its length, whether its
// posts are short or as long as a post may be. (Starting over after every
// repair made a post cost its length times its links: the page of long
// posts took eight times as long as the page of short ones.)
TEST_F(DlConverter, EmailLinkRepairCostsThePageLength) {
  const std::string link = "<a href=\"/cdn-cgi/l/email-protection#" + Protect("a@b.c", 0x42) + "\">x</a>";
  constexpr std::size_t kPageBytes = 2600000;
  auto pageOf = [&](std::size_t postBytes) {
    std::string page = kHead;
    for (int n = 1; page.size() < kPageBytes; ++n) {
      std::string post = "<dt>" + std::to_string(n) + " ：名無し：2016/01/01<dd>";
      while (post.size() < postBytes) post += link;
      page += post + "<br><br>\n";
    }
    return page + "</dl>\n";
  };
  auto fastestOfThree = [&](const std::string& page) {
    auto best = std::chrono::steady_clock::duration::max();
    for (int run = 0; run < 3; ++run) {
      const auto start = std::chrono::steady_clock::now();
      EXPECT_GT(Convert(page), 0);
      best = std::min(best, std::chrono::steady_clock::now() - start);
    }
    return best;
  };
  const auto longPosts = fastestOfThree(pageOf(65000));
  EXPECT_NE(out_.find("<a href=\"mailto:a@b.c\">x</a>"), std::string::npos) << "repaired";
  EXPECT_EQ(out_.find("email-protection"), std::string::npos);
  const auto shortPosts = fastestOfThree(pageOf(8000));
  EXPECT_LT(longPosts, 3 * shortPosts + std::chrono::milliseconds(100))
      << "long posts cost more than their length";
}

}  // namespace
}  // namespace tav
