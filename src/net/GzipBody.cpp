#include "net/GzipBody.h"

#include <cstring>

#include "net/UpstreamClient.h"

namespace tav {

bool IsGzipBody(std::string_view body) { return body.size() >= 4 && std::memcmp(body.data(), "\x1F\x8B\x08\x00", 4) == 0; }

bool DecodeBody(std::string_view body, const GzipLimits& limits, std::string& text) {
  if (!IsGzipBody(body)) {
    text.assign(body);
    return true;
  }
  // The trailer ends with the decoded size, little-endian.
  const auto* tail = reinterpret_cast<const unsigned char*>(body.data() + body.size() - 4);
  const std::uint32_t stated = static_cast<std::uint32_t>(tail[0]) | static_cast<std::uint32_t>(tail[1]) << 8 |
                               static_cast<std::uint32_t>(tail[2]) << 16 | static_cast<std::uint32_t>(tail[3]) << 24;
  if (stated > limits.maxStatedSize) return false;
  text.assign(stated + limits.headroom, '\0');
  std::int64_t capacity = static_cast<std::int64_t>(text.size());
  if (InflateBody(nullptr, text.data(), capacity, body.data(), static_cast<std::int64_t>(body.size())) != 0) {
    return false;
  }
  text.resize(static_cast<std::size_t>(capacity));
  if (limits.nulToAsterisk) {
    char* p = text.data();
    char* const end = p + text.size();
    while ((p = static_cast<char*>(std::memchr(p, '\0', static_cast<std::size_t>(end - p)))) != nullptr) *p++ = '*';
  }
  return true;
}

bool DecodeBody(std::string&& body, const GzipLimits& limits, std::string& text) {
  if (IsGzipBody(body)) return DecodeBody(std::string_view(body), limits, text);
  text = std::move(body);
  return true;
}

}  // namespace tav
