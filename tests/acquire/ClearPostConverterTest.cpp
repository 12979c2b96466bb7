// Today's "clear post" layout in both of its variants, the choice of its
// converter, and the failure of a page from which no post is read.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "acquire/ClearPostConverter.h"
#include "acquire/ConverterTestPages.h"
#include "acquire/DatLineWriter.h"
#include "acquire/HtmlConverter.h"
#include "acquire/PageConversion.h"
#include "config/PatternSets.h"
#include "config/SettingValues.h"
#include "platform/CBregOnig.h"
#include "platform/TextCodec.h"

namespace tav {
namespace {

using testpages::Layout;
using testpages::Numbered;
using testpages::Page;
using testpages::Post;

const std::string kTitle = "今日のスレ Part2";
const Layout kVariants[] = {Layout::kClearPost, Layout::kClearPostAdult};

std::string Line(const std::string& name, const std::string& mail, const std::string& date,
                 const std::string& message, const std::string& title = "") {
  return Sjis(name + "<>" + mail + "<>" + date + "<>" + message + "<>" + title + "\n");
}

int Convert(const std::string& page, std::string& out, int cached = -1, HtmlConvertOptions options = {}) {
  ConvertCall call;
  call.cachedCount = cached;
  return ClearPostConverter::Convert(page, out, call, options);
}

struct FieldCase {
  const char* what;
  Post post;
  std::string name, mail, date, message;
};

TEST(ClearPostConverter, FieldsOfAPost) {
  const std::string date = Post{}.date;
  const std::string reply =
      " <a href=\"../test/read.cgi/applism/1517988732/1\" rel=\"noopener noreferrer\" "
      "target=\"_blank\" class=\"reply_link\">&gt;&gt;1</a> <br> はい ";
  const std::vector<FieldCase> cases = {
      {"plain name, date and ID", Post{}, "名無しさん", "", date + " ID:abcd1234", Post{}.message},
      {"mail link with rel before href", Post{.name = "名無し", .mail = "sage"}, "名無し", "sage",
       date + " ID:abcd1234", Post{}.message},
      {"protected mail", Post{.name = "名無し", .mail = "who@example.com", .protectedMail = true}, "名無し",
       "who@example.com", date + " ID:abcd1234", Post{}.message},
      {"trip", Post{.name = "トリ</b>◆Abc.dEf12 <b>"}, "トリ</b>◆Abc.dEf12 <b>", "", date + " ID:abcd1234",
       Post{}.message},
      {"name spaces shortened", Post{.name = "名  無し"}, "名 無し", "", date + " ID:abcd1234",
       Post{}.message},
      {"no ID span", Post{.id = ""}, "名無しさん", "", date, Post{}.message},
      {"BE profile link",
       Post{.be = "<a href=\"http://be.5ch.net/user/123456\" target=\"_blank\">?2BP(1000)</a>"}, "名無しさん",
       "", date + " ID:abcd1234 BE:123456-2BP(1000)", Post{}.message},
      {"reply link kept, spaces kept", Post{.message = reply}, "名無しさん", "", date + " ID:abcd1234",
       reply},
      {"external link and image reduced, final <br><br> dropped",
       Post{.message =
                " <a href=\"http://jump.5ch.io/?https://example.com/\" rel=\"nofollow\" target=\"_blank\">"
                "https://example.com/</a> <img src=\"//i.example/a.gif\"> <br> <br> x<br><br>"},
       "名無しさん", "", date + " ID:abcd1234", " https://example.com/ sssp://i.example/a.gif <br>  <br> x"},
  };
  for (Layout variant : kVariants) {
    for (const FieldCase& c : cases) {
      SCOPED_TRACE(c.what);
      std::string out;
      ASSERT_EQ(Convert(Page(variant, kTitle, {c.post}), out), 1);
      EXPECT_EQ(out, Line(c.name, c.mail, c.date, c.message, kTitle));
    }
  }
}

TEST(ClearPostConverter, NumberingGapsAndTheCachedCount) {
  for (Layout variant : kVariants) {
    std::string out;
    // Posts 1, 2, 4, 5: a deleted-post line for 3; banners sit after post 4.
    const auto posts = Numbered({1, 2, 4, 5});
    ASSERT_EQ(Convert(Page(variant, kTitle, posts), out), 5);
    const auto line = [&](const Post& p, const std::string& title = "") {
      return Line(p.name, "", p.date + " " + p.id, p.message, title);
    };
    EXPECT_EQ(out, line(posts[0], kTitle) + line(posts[1]) + DatLineWriter::DeletedPostLine() +
                       line(posts[2]) + line(posts[3]));
    // A refresh after 3 cached posts: the page of "3-" holds 1, 3, 4, 5.
    ASSERT_EQ(Convert(Page(variant, kTitle, Numbered({1, 3, 4, 5})), out, 3), 2);
    EXPECT_EQ(out, line(Numbered({4})[0]) + line(Numbered({5})[0]));
  }
}

struct BadCase {
  const char* what;
  std::string page;  // UTF-8
  int result;
};

TEST(ClearPostConverter, BadInputFailsOrStopsButNeverHangs) {
  const std::string two = testpages::PageUtf8(Layout::kClearPost, kTitle, Numbered({1, 2}));
  const std::string adult = testpages::PageUtf8(Layout::kClearPostAdult, kTitle, Numbered({1, 2}));
  auto without = [](std::string page, const std::string& text) {
    page.erase(page.find(text), text.size());
    return page;
  };
  // The page cut a little after the last post's content starts.
  auto cut = [](const std::string& page) {
    const std::string content = "class=\"post-content\">";
    return page.substr(0, page.rfind(content) + content.size() + 2);
  };
  auto replace = [](std::string page, const std::string& text, const std::string& by) {
    return page.replace(page.find(text), text.size(), by);
  };
  const std::vector<BadCase> cases = {
      {"header without a date", without(two, "<span class=\"date\">"), kConvertNoDateOrMessage},
      {"post without its content", without(two, "class=\"post-content\""), kConvertNoDateOrMessage},
      {"last post without its end: the posts before it", cut(two), 1},
      {"adult post without its end", cut(adult), 1},
      {"no deleted-post lines for a post without its end",
       cut(testpages::PageUtf8(Layout::kClearPost, kTitle, Numbered({1, 2, 5}))), 2},
      {"number that is not a number: left out", replace(two, "postid\">2<", "postid\">二<"), 1},
      {"mixed layouts: the clear posts are read",
       two + testpages::PageUtf8(Layout::kMeta, "x", Numbered({3})), 2},
      {"title without its end", without(two, "\n</title>"), kConvertNoTitleEnd},
      {"overload title", testpages::PageUtf8(Layout::kClearPost, "もうずっと人大杉", Numbered({1})),
       kConvertOverload},
      {"only a start tag", "<div class=\"clear post\"", 0},
      {"date without its end", "class=\"clear post\"><span class=\"postid\">1</span><span class=\"date\">",
       kConvertNoDateOrMessage},
  };
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::string out;
    const int result = Convert(Sjis(c.page), out);
    EXPECT_EQ(result, c.result);
    if (result < 0) {
      EXPECT_EQ(out, "");
    }
  }
}

TEST(ClearPostChoice, MarkersAheadOfTheDlFallbackAndTheSixthPatternSet) {
  const CBregOnig engine(true);
  SettingValues cfg;
  FillDefaultPatternSets(cfg.PatternSets);
  const std::string main = Page(Layout::kClearPost, kTitle, Numbered({1, 2}));
  const std::string adult = Page(Layout::kClearPostAdult, kTitle, Numbered({1, 2}));

  const ConverterChoice byPattern = ChooseConverter(main, cfg, engine);
  EXPECT_EQ(byPattern.kind, ConverterKind::kPattern);
  EXPECT_EQ(DescribeConverter(byPattern, cfg), "pattern set \"ver 07.7 clear post\"");
  EXPECT_EQ(ChooseConverter(adult, cfg, engine).kind, ConverterKind::kClearPost);
  // Sets stored before this layout existed: the built-in converter reads it.
  cfg.PatternSets.pop_back();
  EXPECT_EQ(ChooseConverter(main, cfg, engine).kind, ConverterKind::kClearPost);
  EXPECT_EQ(DescribeConverter(ChooseConverter(main, cfg, engine), cfg), "layout clear post");

  // Regex mode on or off, the main-board page gives the same dat.
  FillDefaultPatternSets(cfg.PatternSets);
  auto posts = Numbered({1, 2, 4});
  posts[0].id = "";
  posts[1].mail = "who@example.com";
  posts[1].protectedMail = true;
  posts[2].name = "トリ</b>◆Abc.dEf12 <b>";
  const std::string page = Page(Layout::kClearPost, kTitle, posts);
  const PageConversion withSets = ConvertThreadPage(page, {}, cfg, engine);
  ASSERT_EQ(withSets.choice.kind, ConverterKind::kPattern);
  cfg.BregexpMode = 0;
  const PageConversion builtIn = ConvertThreadPage(page, {}, cfg, engine);
  ASSERT_EQ(builtIn.choice.kind, ConverterKind::kClearPost);
  EXPECT_EQ(withSets.result, 4);
  EXPECT_EQ(withSets.text, builtIn.text);
}

struct NoPostCase {
  const char* what;
  std::string page;
  int cached;
  int result;
};

TEST(PageConversion, APageWithoutPostsFailsUnlessARefreshFoundNothingNew) {
  SettingValues cfg;
  cfg.BregexpMode = 0;
  const CBregOnig engine(false);
  const std::string errorPage =
      Sjis("<html><head><title>エラー</title></head><body>ありません</body></html>\n");
  const std::vector<NoPostCase> cases = {
      {"error page", errorPage, -1, kConvertNoPost},
      {"error page on a refresh", errorPage, 3, kConvertNoPost},
      {"unknown layout", Sjis("<html><body><p>1 名無し</p></body></html>\n"), -1, kConvertNoPost},
      {"posts whose numbers cannot be read",
       Sjis("<div class=\"clear post\"><span class=\"date\">d</span>"
            "<div class=\"post-content\">m</div></div>"),
       -1, kConvertNoPost},
      {"refresh without new posts", Page(Layout::kClearPost, kTitle, Numbered({1, 3})), 3, 0},
      {"refresh after post 1 only", Page(Layout::kClearPost, kTitle, Numbered({1})), 1, 0},
      {"whole thread", Page(Layout::kClearPostAdult, kTitle, Numbered({1, 2})), -1, 2},
  };
  for (const NoPostCase& c : cases) {
    SCOPED_TRACE(c.what);
    ConvertCall call;
    call.cachedCount = c.cached;
    const PageConversion conversion = ConvertThreadPage(c.page, call, cfg, engine);
    EXPECT_EQ(conversion.result, c.result);
    if (c.result < 0) {
      EXPECT_EQ(conversion.text, "");
    }
  }
}

}  // namespace
}  // namespace tav
