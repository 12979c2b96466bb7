#pragma once
// The byte-substring search of the page converters and the fast pattern
// matcher: most searches in markup end within a few hundred bytes, so it
// costs no set-up, and it tests many starting positions at once.

#include <atomic>
#include <cstddef>
#include <string_view>

namespace tav {

namespace byte_search {
// Finds the needle (n bytes, n >= 2) at a start in [from, last] of the text
// that begins at `base`; null when there is none.
using BlockSearch = const char* (*)(const char* base, const char* from, const char* last, const char* needle,
                                    std::size_t n);
// The block search for this processor. It starts as one that makes the
// choice on its first call and then stands in for it.
extern std::atomic<BlockSearch> chosen;
}  // namespace byte_search

// Position of `needle` in `hay` at or after `from`, or npos. Inline: most
// searches are short, and the call's own cost counts.
inline std::size_t FindBytes(std::string_view hay, std::string_view needle, std::size_t from = 0) {
  if (from > hay.size() || needle.size() > hay.size() - from) return std::string_view::npos;
  if (needle.size() < 2) return needle.empty() ? from : hay.find(needle[0], from);
  const char* const base = hay.data();
  const char* const hit = byte_search::chosen.load(std::memory_order_relaxed)(
      base, base + from, base + (hay.size() - needle.size()), needle.data(), needle.size());
  return hit == nullptr ? std::string_view::npos : static_cast<std::size_t>(hit - base);
}

}  // namespace tav
