#include "acquire/HtmlText.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace tav::html {
namespace {

// The protected form of `address` under `key`.
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

TEST(HtmlText, FindsBetweenMarkers) {
  EXPECT_EQ(Between("a<b>x</b>y</b>", "<b>", "</b>").value_or("-"), "x");
  EXPECT_FALSE(Between("a<b>x", "<b>", "</b>").has_value());
  EXPECT_FALSE(Between("</b>x", "<b>", "</b>").has_value());
  EXPECT_EQ(Find("abcabc", "bc", 2), 4u);
  EXPECT_EQ(Find("abc", "abcd"), npos);
  EXPECT_EQ(Find("abc", "c", 9), npos);
}

TEST(HtmlText, FindsNeedlesOfEveryLengthPastNearMisses) {
  // Each needle length, with a copy that differs in one byte before the
  // real needle, so that every compare length and differing place is met.
  for (std::size_t length = 2; length <= 40; ++length) {
    std::string needle;
    for (std::size_t i = 0; i < length; ++i) needle.push_back(static_cast<char>('a' + i % 26));
    for (std::size_t differs = 0; differs < length; ++differs) {
      std::string nearMiss = needle;
      nearMiss[differs] = '#';
      const std::string text = "--" + nearMiss + std::string(differs, '-') + needle + "--";
      EXPECT_EQ(Find(text, needle), 2 + length + differs) << length << " differing at " << differs;
      EXPECT_EQ(Find(text.substr(0, text.size() - 3), needle), npos) << length << " differing at " << differs;
    }
  }
}

// The searches test whole blocks of positions at once; a match, a near miss
// or a line end is found wherever it falls against those blocks.
TEST(HtmlText, FindsMarkersAndLineEndsAtEveryOffset) {
  constexpr std::string_view kMarker = "<div class=\"number\">";
  constexpr std::string_view kNearMiss = "<div class=\"numbex\">";
  constexpr std::size_t kTextLength = 100;
  for (std::size_t at = 0; at + kMarker.size() <= kTextLength; ++at) {
    std::string text(kTextLength, 'x');
    text.replace(0, kNearMiss.size(), kNearMiss);
    text.replace(at, kMarker.size(), kMarker);
    const std::size_t expected = std::string_view(text).find(kMarker);
    EXPECT_EQ(Find(text, kMarker), expected) << "marker at " << at;
    EXPECT_EQ(Find(text, kMarker, expected + 1), npos) << "marker at " << at;
    EXPECT_EQ(Find(text, "x<"), std::string_view(text).find("x<")) << "marker at " << at;

    std::string lines(kTextLength, 'x');
    lines[at] = '\0';
    lines[at + 1] = '\r';
    std::size_t pos = 0;
    EXPECT_EQ(NextLine(lines, pos).size(), at + 1) << "line end at " << at;
    pos = 0;
    EXPECT_EQ(NextLine(lines, pos, true).size(), at) << "NUL at " << at;
  }
}

TEST(HtmlText, ReadsNumbersLikeThePage) {
  EXPECT_EQ(ReadNumber("12"), 12);
  EXPECT_EQ(ReadNumber(" 7 : "), 7);
  EXPECT_EQ(ReadNumber("x1"), 0);
  EXPECT_EQ(ReadNumber(""), 0);
  EXPECT_EQ(ReadNumber("-3"), -3);
  EXPECT_EQ(ReadNumber("99999999999999999999"), 2147483647);
}

TEST(HtmlText, SplitsLinesAtLfCrAndCrLf) {
  const std::string text = "a\r\nb\rc\n\nd";
  std::size_t pos = 0;
  std::vector<std::string> lines;
  while (pos < text.size()) lines.emplace_back(NextLine(text, pos));
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c", "", "d"}));
}

TEST(HtmlText, CollapsesOnlyRunsOfSpaces) {
  std::string out = "untouched";
  EXPECT_FALSE(CollapseSpaces("a b c", out));
  EXPECT_EQ(out, "untouched");
  EXPECT_TRUE(CollapseSpaces("a  b    c ", out));
  EXPECT_EQ(out, "a b c ");
}

TEST(HtmlText, ConvertsTheThreeBeLinkForms) {
  EXPECT_EQ(ConvertBeProfileLink("<a href=\"http://be.2ch.net/user/123456\" target=\"_blank\">?2BP(1000)</a>",
                                 "be.2ch.net"),
            "BE:123456-2BP(1000)");
  EXPECT_EQ(ConvertBeProfileLink("<a href=\"http://be.5ch.net/user/42\" target=\"_blank\">?PLT(12345)</a>",
                                 "be.5ch.net"),
            "BE:42-PLT(12345)");
  // Not at the start: the last four bytes (the closing tag) go.
  EXPECT_EQ(ConvertBeScriptLink("2005/02/02 12:00:00 ID:abc <a href=\"javascript:be(123456);\">?2BP</a>"),
            "2005/02/02 12:00:00 ID:abc BE:123456-2BP");
  EXPECT_EQ(ConvertBeScriptLink("<a href=\"javascript:be(9);\">?BRZ</a> x"), "BE:9-BRZ</a> x");
}

TEST(HtmlText, BeConversionLeavesTextWithoutAWholeLinkAlone) {
  EXPECT_EQ(ConvertBeScriptLink("2005/02/02 ID:abc"), "2005/02/02 ID:abc");
  EXPECT_EQ(ConvertBeScriptLink("x <a href=\"javascript:be(123"), "x <a href=\"javascript:be(123");
  EXPECT_EQ(ConvertBeProfileLink("<a href=\"http://be.2ch.net/user/1\">", "be.2ch.net"),
            "<a href=\"http://be.2ch.net/user/1\">");
  // Profile link of another host is not converted.
  EXPECT_EQ(ConvertBeProfileLink("<a href=\"http://be.5ch.net/user/1\" target=\"_blank\">?x</a>", "be.2ch.net"),
            "<a href=\"http://be.5ch.net/user/1\" target=\"_blank\">?x</a>");
  // Not at the start: the last four bytes go even when there is no tag.
  EXPECT_EQ(ConvertBe("xP1T", "P", "T", false), "xB");
}

TEST(HtmlText, MessageLinksAreReducedToTheirText) {
  MessageCleaner cleaner;
  const MessageCleaner::Steps steps{true, true, true};
  EXPECT_EQ(cleaner.Clean("see <a href=\"http://x.example/a\" target=\"_blank\">http://x.example/a</a> ok", steps),
            "see http://x.example/a ok");
  EXPECT_EQ(cleaner.Clean("<a href=\"https://y\">1</a><a href=\"http://z\">2</a>", steps), "12");
  // A link that never closes ends the message before it.
  EXPECT_EQ(cleaner.Clean("text <a href=\"http://x\">never closed", steps), "text ");
  EXPECT_EQ(cleaner.Clean("text <a href=\"http://x", steps), "text ");
  // Other anchors stay.
  EXPECT_EQ(cleaner.Clean("<a href=\"../test/read.cgi/x/1/2\">&gt;&gt;2</a>", steps),
            "<a href=\"../test/read.cgi/x/1/2\">&gt;&gt;2</a>");
}

TEST(HtmlText, ImageTagsBecomeSsspLinks) {
  MessageCleaner cleaner;
  const MessageCleaner::Steps steps{true, true, true};
  EXPECT_EQ(cleaner.Clean("<img src=\"http://img.example/i.gif\"> face", steps), "sssp://img.example/i.gif face");
  EXPECT_EQ(cleaner.Clean("a<img src=\"//img.example/o.png\">b", steps), "asssp://img.example/o.pngb");
  // No closing quote: the rest stays as it is.
  EXPECT_EQ(cleaner.Clean("a<img src=\"//img.example/o.png b", steps), "a<img src=\"//img.example/o.png b");
  EXPECT_EQ(cleaner.Clean("<img src=\"//1\"><img src=\"//2", steps), "sssp://1<img src=\"//2");
}

TEST(HtmlText, SpacesAndLineBreakFixesFollowTheirSwitches) {
  MessageCleaner cleaner;
  EXPECT_EQ(cleaner.Clean(" a   b <br> <br> c ", {true, true, true}), " a b <br>  <br> c ");
  EXPECT_EQ(cleaner.Clean(" a   b <br> <br> c ", {false, true, true}), " a   b <br>  <br> c ");
  EXPECT_EQ(cleaner.Clean(" a   b <br> <br> c ", {true, false, true}), " a b <br> <br> c ");
  EXPECT_EQ(cleaner.Clean(" a   b <br> <br> c ", {false, false, true}), " a   b <br> <br> c ");
  // Two spaces between the tags collapse first, then widen again.
  EXPECT_EQ(cleaner.Clean("<br>  <br>", {true, true, true}), "<br>  <br>");
}

TEST(HtmlText, OnlyAFinalFirstBrBrIsRemoved) {
  MessageCleaner cleaner;
  EXPECT_EQ(cleaner.Clean(" end <br><br>", {true, true, true}), " end ");
  EXPECT_EQ(cleaner.Clean(" end <br><br>", {true, true, false}), " end <br><br>");
  EXPECT_EQ(cleaner.Clean("a<br><br>b<br><br>", {true, true, true}), "a<br><br>b<br><br>");
}

TEST(HtmlText, CleanerResultsStayValidAcrossSteps) {
  MessageCleaner cleaner;
  // Every step applies, so the text passes through both buffers more than once.
  const std::string message = "<a href=\"http://l\"><img src=\"http://i\"></a>  <img src=\"//j\"> <br> <br><br><br>";
  EXPECT_EQ(cleaner.Clean(message, {true, true, true}), std::string("sssp://i sssp://j <br>  <br><br><br>"));
  EXPECT_EQ(cleaner.Clean(message + "x<br><br>", {true, true, true}),
            std::string("sssp://i sssp://j <br>  <br><br><br>x<br><br>"));
}

TEST(HtmlText, CleanerFindsMarkersAtEveryOffset) {
  // Each marker at every offset of a long message, so that it falls on
  // every place of a block the search reads at once, and in the tail.
  const struct {
    std::string marker;
    std::string cleaned;
  } rows[] = {
      {"  ", " "},
      {"<br> <br>", "<br>  <br>"},
      {"<a href=\"http://x\">t</a>", "t"},
      {"<img src=\"http://i\">", "sssp://i"},
      {"<img src=\"//j\">", "sssp://j"},
  };
  MessageCleaner cleaner;
  for (const auto& row : rows) {
    for (std::size_t before = 0; before < 40; ++before) {
      const std::string head(before, 'h');
      const std::string tail = "<br>t";
      EXPECT_EQ(cleaner.Clean(head + row.marker + tail, {true, true, false}), head + row.cleaned + tail)
          << row.marker << " after " << before;
    }
  }
}

TEST(HtmlText, CleanerLooksAgainAtTheTextAStepMade) {
  MessageCleaner cleaner;
  // Taking out a link brings spaces or line breaks together.
  EXPECT_EQ(cleaner.Clean("a <a href=\"http://x\"></a> b", {true, false, false}), "a b");
  EXPECT_EQ(cleaner.Clean("<br> <a href=\"http://x\"></a><br>", {false, true, false}), "<br>  <br>");
  EXPECT_EQ(cleaner.Clean("<a href=\"http://x\"><img src=\"//j\"></a>", {false, false, false}), "sssp://j");
}

TEST(HtmlText, DecodesProtectedAddresses) {
  EXPECT_EQ(DecodeProtectedEmail(Protect("info@example.com", 0x5a)), "info@example.com");
  EXPECT_EQ(DecodeProtectedEmail(Protect("x", 0xff) + "a"), "x");  // odd count: last digit ignored
  EXPECT_EQ(DecodeProtectedEmail("4"), "");
  EXPECT_EQ(DecodeProtectedEmail(Protect(std::string("ab\0cd", 5), 0x11)), "ab");  // stops at NUL
}

TEST(HtmlText, DecodesEmailSpansInNames) {
  const std::string span = "<span class=\"__cf_email__\" data-cfemail=\"" + Protect("a@b.jp", 0x33) +
                           "\">[email&#160;protected]</span><script data-cfhash='f9e31' "
                           "type=\"text/javascript\">/* <![CDATA[ */!function(){}()/* ]]> */</script>";
  EXPECT_EQ(DecodeEmailSpans("name " + span + " tail"), "name a@b.jp tail");
  EXPECT_EQ(DecodeEmailSpans(span + span), "a@b.jpa@b.jp");
  // Without "</script>" the construct is left as it is.
  const std::string open = "<span class=\"__cf_email__\" data-cfemail=\"" + Protect("a", 1) + "\">x</span>";
  EXPECT_EQ(DecodeEmailSpans(open), open);
}

TEST(HtmlText, RepairsTheEmailLinkOfAPost) {
  std::string repaired;
  EXPECT_FALSE(RepairEmailLink("<dt>1 ：x<dd>y", repaired));
  ASSERT_TRUE(RepairEmailLink("pre<a href=\"/cdn-cgi/l/email-protection#" + Protect("me@x.org", 0x42) +
                                  "\">[email protected]</a>post",
                              repaired));
  EXPECT_EQ(repaired, "pre<a href=\"mailto:me@x.org\">[email protected]</a>post");
  // The digit run ends at the first character that is not a hex digit.
  ASSERT_TRUE(RepairEmailLink("/cdn-cgi/l/email-protection#" + Protect("ab", 0x10) + "Xrest", repaired));
  EXPECT_EQ(repaired, "mailto:abXrest");
}

}  // namespace
}  // namespace tav::html
