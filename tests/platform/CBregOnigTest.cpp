#include "platform/CBregOnig.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/TextCodec.h"

// The engine's own version call (its header clashes with the POSIX regex
// header the test framework pulls in).
extern "C" const char* onig_version(void);

namespace tav {
namespace {

class BregOnigTest : public ::testing::Test {
 protected:
  // Matches `pattern` on the whole `text`; the handle is kept in holder_
  // and points into `text`, which must outlive the group reads.
  int Match(std::string_view pattern, std::string_view text) {
    return engine_.BMatch(pattern, text.data(), text.data() + text.size(), holder_.Out(), message_);
  }
  std::string GroupText(int g) const {
    const BRegexp* rx = holder_.Get();
    const char* s = rx->startp[static_cast<std::size_t>(g)];
    const char* e = rx->endp[static_cast<std::size_t>(g)];
    return s == nullptr ? std::string("<none>") : std::string(s, e);
  }

  CBregOnig engine_{true};
  BRegexpHolder holder_{engine_};
  char message_[kBregMessageSize] = {};
};

TEST_F(BregOnigTest, LoadsAndReportsTheEngineVersion) {
  EXPECT_TRUE(engine_.Loaded());
  EXPECT_STREQ(engine_.BRegexpVersion(0), onig_version());
}

TEST(BregOnigUnloaded, RefusesEveryMatchAndHasNoVersion) {
  CBregOnig engine(false);
  EXPECT_FALSE(engine.Loaded());
  const std::string text = "abc";
  BRegexp* handle = nullptr;
  char message[kBregMessageSize] = {};
  EXPECT_EQ(engine.BMatch("/b/", text.data(), text.data() + text.size(), &handle, message), -1);
  EXPECT_EQ(handle, nullptr);
  EXPECT_STRNE(message, "");
  EXPECT_STREQ(engine.BRegexpVersion(0), "");
}

TEST_F(BregOnigTest, ReportsWholeMatchAndGroupPositions) {
  const std::string text = "xx<dt>12 : name</dt>";
  ASSERT_EQ(Match("/<dt>(\\d+) : (.+?)<\\/dt>/", text), 1);
  const BRegexp* rx = holder_.Get();
  EXPECT_EQ(rx->nparens, 2);
  EXPECT_EQ(rx->startp[0], text.data() + 2);
  EXPECT_EQ(rx->endp[0], text.data() + text.size());
  EXPECT_EQ(GroupText(1), "12");
  EXPECT_EQ(GroupText(2), "name");
}

TEST_F(BregOnigTest, NoMatchGivesZeroAndAGroupOutsideTheMatchHasNoPosition) {
  EXPECT_EQ(Match("/zzz/", "abc"), 0);
  ASSERT_EQ(Match("/a(x)?(b)/", "ab"), 1);
  EXPECT_EQ(GroupText(1), "<none>");
  EXPECT_EQ(GroupText(2), "b");
}

TEST_F(BregOnigTest, EscapedSlashesBelongToTheExpression) {
  ASSERT_EQ(Match("/<\\/a>(.)\\//", "x</a>y/"), 1);
  EXPECT_EQ(GroupText(1), "y");
}

TEST_F(BregOnigTest, TrailingFlagsApply) {
  EXPECT_EQ(Match("/abc/", "xABC"), 0);
  EXPECT_EQ(Match("/abc/i", "xABC"), 1);
  EXPECT_EQ(Match("/a.b/", "a\nb"), 0);
  EXPECT_EQ(Match("/a.b/s", "a\nb"), 1);
  EXPECT_EQ(Match("/^b/", "a\nb"), 0);
  EXPECT_EQ(Match("/^b/m", "a\nb"), 1);
}

TEST_F(BregOnigTest, MatchesOnShiftJisCharactersNotBytes) {
  // "表" is 0x95 0x5C: its trail byte is a backslash in ASCII.
  const std::string hyou = Sjis("表");
  ASSERT_EQ(hyou, std::string("\x95\x5C"));
  EXPECT_EQ(Match("/\\\\x/", hyou + "x"), 0) << "a trail byte taken for a backslash";
  EXPECT_EQ(Match("/\\\\x/", "\\x"), 1);
  // A pattern holding the character itself: its trail byte neither escapes
  // nor ends the expression.
  const std::string withSlash = "a" + hyou + "/";
  ASSERT_EQ(Match("/(" + hyou + ")\\//", withSlash), 1);
  EXPECT_EQ(GroupText(1), hyou);
  // The full-width colon of the oldest layout.
  const std::string dt = Sjis("<dt>5 ：");
  ASSERT_EQ(Match(Sjis("/<dt>(\\d+) ：/"), dt), 1);
  EXPECT_EQ(GroupText(1), "5");
  // "." takes a whole double-byte character.
  ASSERT_EQ(Match("/^(.)/", hyou), 1);
  EXPECT_EQ(GroupText(1), hyou);
}

TEST_F(BregOnigTest, NeverReadsPastAnEndThatSplitsACharacter) {
  const std::string text = Sjis("あい");
  // Only the lead byte of "い" is inside the range.
  ASSERT_EQ(engine_.BMatch("/(.+)/", text.data(), text.data() + 3, holder_.Out(), message_), 1);
  EXPECT_EQ(GroupText(1), Sjis("あ"));
}

TEST_F(BregOnigTest, ReusesTheHandleForTheSamePatternAndRecompilesForAnother) {
  ASSERT_EQ(Match("/a(b)/", "ab"), 1);
  const BRegexp* first = holder_.Get();
  ASSERT_EQ(Match("/a(b)/", "xxab"), 1);
  EXPECT_EQ(holder_.Get(), first);
  ASSERT_EQ(Match("/(x)(y)(z)/", "xyz"), 1);
  EXPECT_EQ(holder_.Get()->nparens, 3);
  EXPECT_EQ(GroupText(3), "z");
}

TEST_F(BregOnigTest, MalformedPatternsAreErrorsWithAMessage) {
  EXPECT_EQ(Match("abc", "abc"), -1);
  EXPECT_STRNE(message_, "");
  EXPECT_EQ(Match("/abc", "abc"), -1);
  EXPECT_EQ(Match("/(ab/", "abc"), -1);
  EXPECT_STRNE(message_, "");
  EXPECT_EQ(Match("", "abc"), -1);
  // After an error the handle still works for a good pattern.
  EXPECT_EQ(Match("/b/", "abc"), 1);
}

TEST_F(BregOnigTest, SearchesOnlyWithinTheGivenRange) {
  const std::string text = "aaXbbX";
  ASSERT_EQ(engine_.BMatch("/X/", text.data() + 3, text.data() + text.size(), holder_.Out(), message_), 1);
  EXPECT_EQ(holder_.Get()->startp[0], text.data() + 5);
  EXPECT_EQ(engine_.BMatch("/X/", text.data(), text.data() + 2, holder_.Out(), message_), 0);
}

TEST_F(BregOnigTest, SplitsAtEveryMatch) {
  const std::string text = "a,b,,c";
  ASSERT_EQ(engine_.BSplit("/,/", text.data(), text.data() + text.size(), 0, holder_.Out(), message_), 4);
  EXPECT_EQ(holder_.Get()->splitp, (std::vector<std::string>{"a", "b", "", "c"}));
  ASSERT_EQ(engine_.BSplit("/,/", text.data(), text.data() + text.size(), 2, holder_.Out(), message_), 2);
  EXPECT_EQ(holder_.Get()->splitp, (std::vector<std::string>{"a", "b,,c"}));
  ASSERT_EQ(engine_.BSplit("//", text.data(), text.data() + 3, 0, holder_.Out(), message_), 3);
  EXPECT_EQ(holder_.Get()->splitp, (std::vector<std::string>{"a", ",", "b"}));
}

using Texts = std::vector<std::string>;

TEST(RequiredTexts, LiteralRunsOutsideGroupsAndQuantifiers) {
  EXPECT_EQ(RequiredTexts("/<dt>(\\d+) : (.+?)<\\/dt>x?/"), (Texts{"<dt>", " : ", "</dt>"}));
  EXPECT_EQ(RequiredTexts("/ab+c*d/"), (Texts{"a", "d"}));
  EXPECT_EQ(RequiredTexts("/\\?x\\d[a-z]y.z$/"), (Texts{"?x", "y", "z"}));
  EXPECT_EQ(RequiredTexts(Sjis("/表ソ?<\\/a>/")), (Texts{Sjis("表"), "</a>"}));
  EXPECT_EQ(RequiredTexts("/a[]|(]b/"), (Texts{"a", "b"}));
  // Beyond the simple reading: nothing is claimed.
  EXPECT_TRUE(RequiredTexts("/abc|def/").empty());
  EXPECT_TRUE(RequiredTexts("/a{2}/").empty());
  EXPECT_TRUE(RequiredTexts("/(?i)abc/").empty());
  EXPECT_TRUE(RequiredTexts("/abc/i").empty());
  EXPECT_TRUE(RequiredTexts("/\\x41/").empty());
  EXPECT_TRUE(RequiredTexts("/a(b/").empty());
  EXPECT_TRUE(RequiredTexts("abc").empty());
  // Alternation inside a group leaves the top level alone.
  EXPECT_EQ(RequiredTexts("/<(b|i)>x/"), (Texts{"<", ">x"}));
}

TEST(RequiredTexts, EveryMatchContainsThem) {
  // Patterns built from a small alphabet of pieces, matched on texts built
  // from the same letters: whenever the engine finds a match, every
  // required text is in the searched text.
  const char* pieces[] = {"a", "b", "ab", "(a|b)", "a?", "b*", ".", "[ab]", "\\/", "/", "+", "(b)", "c|"};
  const char* texts[] = {"", "a", "b", "ab", "ba", "aab", "a/b", "bbb", "abab/", "c", "ac", "/"};
  CBregOnig engine(true);
  std::uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  for (int round = 0; round < 3000; ++round) {
    std::string pattern = "/";
    const int length = 1 + static_cast<int>(next() % 5);
    for (int k = 0; k < length; ++k) pattern += pieces[(next() >> 8) % (sizeof pieces / sizeof *pieces)];
    pattern += "/";
    const Texts required = RequiredTexts(pattern);
    for (const char* text : texts) {
      const std::string_view t(text);
      BRegexpHolder holder(engine);
      char message[kBregMessageSize];
      if (engine.BMatch(pattern, t.data(), t.data() + t.size(), holder.Out(), message) <= 0) continue;
      for (const std::string& r : required) {
        EXPECT_NE(t.find(r), std::string_view::npos) << pattern << " matched \"" << text << "\" without " << r;
      }
    }
  }
}

TEST(BregOnigThreads, HandlesOfSeveralThreadsDoNotMeet) {
  CBregOnig engine(true);
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&engine, &failures, t] {
      const std::string text = "<b>" + std::to_string(t) + "</b>";
      for (int i = 0; i < 300; ++i) {
        BRegexpHolder holder(engine);
        char message[kBregMessageSize];
        if (engine.BMatch("/<b>(\\d)<\\/b>/", text.data(), text.data() + text.size(), holder.Out(), message) != 1 ||
            *holder.Get()->startp[1] != static_cast<char>('0' + t)) {
          ++failures[static_cast<std::size_t>(t)];
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, (std::vector<int>{0, 0, 0, 0}));
}

TEST(BregOnigThreads, CompiledPatternsKeptAcrossHandlesStayApart) {
  // Released handles leave their compiled patterns for the next handle of
  // the same text; each thread keeps switching between patterns that
  // differ in text and group count, so a pattern handed to the wrong
  // handle would show in the groups.
  const struct {
    const char* pattern;
    int groups;
    const char* group1;
  } rows[] = {
      {"/<b>(\\d)<\\/b>/", 1, "7"},
      {"/<b>(\\d)<\\/(b)>/", 2, "7"},
      {"/<(b)>/", 1, "b"},
      {"/<b>(\\d)<\\/b>/i", 1, "7"},
  };
  CBregOnig engine(true);
  const std::string text = "x<b>7</b>";
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        const auto& row = rows[static_cast<std::size_t>(i + t) % std::size(rows)];
        BRegexpHolder holder(engine);
        char message[kBregMessageSize];
        if (engine.BMatch(row.pattern, text.data(), text.data() + text.size(), holder.Out(), message) != 1 ||
            holder.Get()->nparens != row.groups ||
            std::string(holder.Get()->startp[1], holder.Get()->endp[1]) != row.group1) {
          ++failures[static_cast<std::size_t>(t)];
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, (std::vector<int>{0, 0, 0, 0}));
}

}  // namespace
}  // namespace tav
