#include "platform/ByteSearch.h"

#include <gtest/gtest.h>

#include <string>

namespace tav {
namespace {

// Every start offset of each text gives the standard search's answer: the
// rows put matches where the block-wise search changes its way of testing
// (the first block, the last whole block, the starts after it, texts too
// short for one block).
TEST(ByteSearch, FindsWhatTheStandardSearchFinds) {
  const std::string filler(70, 'x');
  struct Row {
    const char* name;
    std::string hay;
    std::string needle;
  };
  const Row rows[] = {
      {"match at the very end", filler + "</div></div>", "</div></div>"},
      {"match among the last starts only", filler + "<b>" + std::string(5, 'y'), "<b>"},
      {"first and last byte without the middle", filler + "<dxv>" + filler + "<div>", "<div>"},
      {"match before the offset, again after it", "<a>" + filler + "<a>" + std::string(20, 'z'), "<a>"},
      {"two-byte needle near the end", filler + "  .", "  "},
      {"text shorter than one block", "ab<br>cd", "<br>"},
      {"needle as long as the text", "<br>", "<br>"},
      {"no match", filler + filler, "<i"},
      {"one-byte needle", filler + ">", ">"},
  };
  for (const Row& row : rows) {
    for (std::size_t from = 0; from <= row.hay.size() + 1; ++from) {
      EXPECT_EQ(FindBytes(row.hay, row.needle, from), std::string_view(row.hay).find(row.needle, from))
          << row.name << ", from " << from;
    }
  }
}

}  // namespace
}  // namespace tav
