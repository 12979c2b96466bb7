#include <gtest/gtest.h>

#include "platform/CDoubleString.h"
#include "platform/TextCodec.h"

namespace tav {
namespace {

TEST(CDoubleString, NarrowAndWideFollowEachOther) {
  auto s = CDoubleString::FromUtf8("板 ok");
  EXPECT_EQ(s.Narrow(), std::string("\x94\xc2 ok"));
  EXPECT_EQ(s.Wide(), u"板 ok");
  s.SetNarrow("\x83\x65\x83\x58\x83\x67");  // テスト
  EXPECT_EQ(s.Wide(), u"テスト");
  s.AppendWide(u"!");
  EXPECT_EQ(s.Narrow(), "\x83\x65\x83\x58\x83\x67!");
}

TEST(TextCodec, BadBytesBecomeReplacementCharacters) {
  // A lone lead byte at the end and an invalid pair in the middle.
  EXPECT_EQ(Cp932ToUtf16(std::string("a\x81") ), u"a\uFFFD");
  EXPECT_EQ(Cp932ToUtf16(std::string("\xFF" "b")), u"\uFFFD" "b");
  EXPECT_EQ(Utf16ToCp932(u"a\U0001F600b"), "a?b");
  EXPECT_EQ(Utf16ToCp932WithReferences(u"a\U0001F600b"), "a&#128512;b");
  EXPECT_EQ(Utf8ToUtf16("\xE3\x81"), u"\uFFFD\uFFFD");
  // A lone high surrogate never swallows the character after it.
  const char16_t lone[] = {u'a', 0xD800, u'b', 0};
  EXPECT_EQ(Utf16ToCp932(lone), "a?b");
  EXPECT_EQ(Utf16ToUtf8(lone), "a\xEF\xBF\xBD" "b");
}

}  // namespace
}  // namespace tav
