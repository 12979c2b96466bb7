#include "platform/ByteSearch.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace tav {
namespace {

// A needle and a background made of near misses: runs whose first and last
// bytes are the needle's, so that the search has candidates to reject.
struct Row {
  const char* name;
  std::string needle;
  std::string background;
};

// Texts up to a few blocks long, the needle at every position and the search
// started at every position: the result is the standard library's. This
// reaches the blocks, the leftover starts after the last whole block and
// texts too short for a block.
TEST(ByteSearch, AgreesWithTheStandardSearchAtEveryPositionAndStart) {
  const Row rows[] = {
      {"one byte", "b", "a"},
      {"two bytes", "<b", "<a"},
      {"tag", "<ab>", "<aa>"},
      {"eight bytes", "<aaaaab>", "<aaaaaa>"},
      {"long marker", "<aaaaaaaaaaaaaab>", "<aaaaaaaaaaaaaaa>"},
      {"marker past two words", "<aaaaaaaaaaaaaaaaaab>", "<aaaaaaaaaaaaaaaaaaa>"},
  };
  for (const Row& row : rows) {
    for (std::size_t size = 0; size <= 72; ++size) {
      std::string filler;
      while (filler.size() < size) filler += row.background;
      filler.resize(size);
      for (std::size_t at = 0; at <= size; ++at) {
        std::string text = filler;
        if (at + row.needle.size() <= size) text.replace(at, row.needle.size(), row.needle);
        const std::string_view view(text);
        for (std::size_t from = 0; from <= size + 1; ++from) {
          const std::size_t expected = view.find(row.needle, from);
          const std::size_t found = FindBytes(view, row.needle, from);
          if (found != expected) {
            FAIL() << row.name << ": text of " << size << " bytes, needle at " << at << ", from " << from << ": "
                   << found << " instead of " << expected;
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace tav
