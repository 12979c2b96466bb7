#pragma once
// What every converter fuzz target checks: the converter returns a line
// count or one of its codes, and its output never outgrows the page length
// plus 65,535 bytes. The first input byte chooses the cached count, the
// segment start and the switches; the rest is the page.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "acquire/ConvertOptions.h"

namespace tav::fuzzing {

struct ConverterInput {
  std::string_view page;
  ConvertCall call;
  HtmlConvertOptions options;
  int lastPost = 0;
};

inline ConverterInput Prepare(const std::uint8_t* data, std::size_t size) {
  ConverterInput input;
  if (size == 0) return input;
  const std::uint8_t control = data[0];
  static const int kCachedCounts[] = {-1, 0, 1, 2, 3, 7};
  input.call.cachedCount = kCachedCounts[control % 6];
  input.call.firstExpected = (control & 0x40) != 0 ? 3 : 1;
  input.options.removeHalfSpace = (control & 0x10) != 0;
  input.options.fixBrBr = (control & 0x20) != 0;
  input.page = std::string_view(reinterpret_cast<const char*>(data + 1), size - 1);
  return input;
}

inline void Check(const ConverterInput& input, int result, const std::string& out) {
  const bool knownCode = result == kConvertNoTitleEnd || result == kConvertNoDd || result == kConvertNoBold ||
                         result == kConvertNoDateOrMessage || result == kConvertOutputFull || result == kConvertNoPost ||
                         result == kConvertOverload || result == kConvertBadGroups;
  if (result < -1 && !knownCode) {
    std::fprintf(stderr, "unexpected result %d\n", result);
    std::abort();
  }
  if (out.size() > input.page.size() + kOutputHeadroom) {
    std::fprintf(stderr, "output %zu bytes for a page of %zu\n", out.size(), input.page.size());
    std::abort();
  }
}

}  // namespace tav::fuzzing
