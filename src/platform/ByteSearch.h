#pragma once
// The byte-substring search of the page converters and the fast pattern
// matcher: most searches in markup end within a few hundred bytes, so it
// costs no set-up, and it tests many starting positions at once.

#include <cstddef>
#include <string_view>

namespace tav {

// Position of `needle` in `hay` at or after `from`, or npos.
std::size_t FindBytes(std::string_view hay, std::string_view needle, std::size_t from = 0);

}  // namespace tav
