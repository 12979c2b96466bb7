#pragma once
// The one gzip step of the routes: a body that starts like gzip is inflated
// within limits, any other body is taken as it came.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tav {

struct GzipLimits {
  std::uint32_t maxStatedSize = 983040;  // a larger size in the trailer is refused
  std::size_t headroom = 1024;           // room beyond the stated size
  bool nulToAsterisk = false;            // NUL bytes of the decoded text become "*"
};

// "\x1F\x8B\x08\x00": the start of the gzip bodies boards send.
bool IsGzipBody(std::string_view body);

// The text of `body`: inflated into `text` when it is gzip, else copied.
// False (and `text` unspecified) when a gzip body states too large a size or
// cannot be inflated within its stated size plus the headroom.
bool DecodeBody(std::string_view body, const GzipLimits& limits, std::string& text);
// The same for a body that is no longer needed: a plain one is moved into
// `text` rather than copied.
bool DecodeBody(std::string&& body, const GzipLimits& limits, std::string& text);

}  // namespace tav
