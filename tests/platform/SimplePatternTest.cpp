#include "platform/SimplePattern.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/CBregOnig.h"

namespace tav {
namespace {

// One search, with the fast path and with the engine alone.
struct Row {
  const char* name;
  std::string pattern;
  std::string text;
  int expected;          // BMatch's result
  const char* group1;    // text of group 1 after a match
};

std::string GroupText(const BRegexp* rx, int g) {
  const char* s = rx->startp[static_cast<std::size_t>(g)];
  return s == nullptr ? std::string("<none>") : std::string(s, rx->endp[static_cast<std::size_t>(g)]);
}

TEST(SimplePattern, AnswersAsTheEngineDoes) {
  const std::string longLine = "<b>" + std::string(2000000, 'a') + "</b>";
  const Row rows[] = {
      {"lead byte right before a literal", "/<b>(.+?)<\\/b>/", "\x81<b>x</b><b>y</b>", 1, "x"},
      {"literal on a trail byte", "/a(\\d+)/", "\x83" "a12 a34", 1, "34"},
      {"two-byte literal on a trail byte", "/\x81\x46(\\d+)/", "\x81\x81\x46" "12\x81\x46" "34", 1, "34"},
      {"newline inside a lazy group", "/<b>(.+?)<\\/b>/", "<b>a\nb</b><b>c</b>", 1, "c"},
      {"greedy dot with two candidate ends", "/<b>(.+)<\\/b>/", "<b>x</b>y</b>z", 1, "x</b>y"},
      {"backtracking after a failed \\d+", "/(\\d+)1x/", "12341x", 1, "1234"},
      {"empty lazy group", "/<b>(.*?)<\\/b>/", "<b></b>", 1, ""},
      {"class before a literal", "/<title>(.+?)[\\s\\t\\n]*<\\/title>/", "<title>T \t</title>", 1, "T"},
      {"no match", "/<dt>(\\d+)/", "<dt>x <dt> 5", 0, nullptr},
      {"budget exceeded, the engine finds it", "/<b>(.+?)<\\/b>/", longLine, 1, nullptr},
      {"budget exceeded, the engine gives up too", "/(.*)(.*)(.*)(.*)(.*)(.*)x(\\d+)/",
       std::string(3000, 'a') + "x", -1, nullptr},
      {"nested lazy groups retried past the engine's limit", "/<(.*?)(.*?)x(\\d+)/",
       "<" + std::string(6000, 'a') + "xb", -1, nullptr},
  };
  CBregOnig fast(true, MatchPath::FastWhereSimple);
  CBregOnig engine(true, MatchPath::EngineOnly);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    BRegexpHolder fastHolder(fast);
    BRegexpHolder engineHolder(engine);
    char message[kBregMessageSize];
    const char* start = row.text.data();
    const char* end = start + row.text.size();
    const int rc = fast.BMatch(row.pattern, start, end, fastHolder.Out(), message);
    EXPECT_EQ(rc, row.expected);
    ASSERT_EQ(rc, engine.BMatch(row.pattern, start, end, engineHolder.Out(), message));
    if (rc != 1) continue;
    const BRegexp* a = fastHolder.Get();
    const BRegexp* b = engineHolder.Get();
    ASSERT_EQ(a->nparens, b->nparens);
    for (std::size_t g = 0; g <= static_cast<std::size_t>(a->nparens); ++g) {
      EXPECT_EQ(a->startp[g], b->startp[g]) << "group " << g;
      EXPECT_EQ(a->endp[g], b->endp[g]) << "group " << g;
    }
    if (row.group1 != nullptr) {
      EXPECT_EQ(GroupText(a, 1), row.group1);
    }
  }
}

TEST(SimplePattern, TakesOnlyItsFamily) {
  for (const char* e : {"<b>(.+)<\\/b>", "<title>(.+?)[\\s\\t\\n]*<\\/title>", "<span[^>]*>(\\d*)\\?x.*"}) {
    EXPECT_TRUE(SimplePattern::Parse(e).has_value()) << e;
  }

  for (const char* e : {"<a [^>]*?href=\"(?:mailto:)?", "ab?", ".*+", "(a)", "\\w+", "a|b", "x{2}", "^a", "(.+)?",
                        "[[:alpha:]]+", "\\d+?", ""}) {
    EXPECT_FALSE(SimplePattern::Parse(e).has_value()) << e;
  }

}

}  // namespace
}  // namespace tav
