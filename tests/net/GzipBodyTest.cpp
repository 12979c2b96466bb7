#include "net/GzipBody.h"

#include <gtest/gtest.h>

#include <string>

#include "support/FakeHttpServer.h"

namespace tav {
namespace {

using namespace std::string_literals;

// NUL bytes of an inflated page become "*" wherever they stand (first and
// last byte, runs, a long text); a plain body keeps them.
TEST(GzipBody, InflatedNulBytesBecomeAsterisks) {
  const GzipLimits page{983040, 65535, true};
  const std::string longText = std::string(100000, 'a') + "\0\0"s + std::string(100000, 'b');
  struct Row {
    std::string text;
    std::string expected;
  };
  const Row rows[] = {
      {"\0ab\0\0c\0"s, "*ab**c*"},
      {"no nul at all", "no nul at all"},
      {longText, std::string(100000, 'a') + "**" + std::string(100000, 'b')},
  };
  for (const Row& row : rows) {
    std::string text;
    ASSERT_TRUE(DecodeBody(test::GzipCompress(row.text), page, text));
    EXPECT_EQ(text, row.expected);
  }
  std::string plain;
  ASSERT_TRUE(DecodeBody("a\0b"s, page, plain));
  EXPECT_EQ(plain, "a\0b"s);
}

}  // namespace
}  // namespace tav
