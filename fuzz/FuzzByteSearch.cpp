// The byte-substring search against the standard library's: for a needle
// and a text cut from the input, every starting offset must give the same
// position (or none).
//
// Input: byte 0 is the needle's length (mod 40), byte 1 repeats the text
// (1-8 times) so that long texts with matches near their end are common;
// then the needle, then the text.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/ByteSearch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t needleLength = data[0] % 40;
  const int copies = 1 + data[1] % 8;
  const std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
  if (needleLength > rest.size()) return 0;
  const std::string_view needle = rest.substr(0, needleLength);
  std::string text;
  for (int i = 0; i < copies; ++i) text.append(rest.substr(needleLength));
  // The text in a buffer of its own size, so that a read past its end shows.
  const std::string exact(text);
  const std::string_view hay(exact);
  for (std::size_t from = 0; from <= hay.size() + 1; ++from) {
    const std::size_t want = hay.find(needle, from);
    const std::size_t got = tav::FindBytes(hay, needle, from);
    if (got != want) {
      std::fprintf(stderr, "from %zu: found %zu, want %zu\n", from, got, want);
      std::abort();
    }
  }
  return 0;
}
