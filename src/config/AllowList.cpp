#include "config/AllowList.h"

#include <arpa/inet.h>

#include <cstring>

namespace tav {
namespace {

using Bytes = std::array<std::uint8_t, 16>;

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The address as 16 bytes (IPv4 mapped into ::ffff:0:0/96) and the number
// of bits an IPv4 prefix length is shifted by (96, or 0 for IPv6).
bool ParseAddress(std::string_view text, Bytes& bytes, int& prefixOffset) {
  std::string copy(text);
  in_addr v4{};
  if (::inet_pton(AF_INET, copy.c_str(), &v4) == 1) {
    bytes = {};
    bytes[10] = 0xFF;
    bytes[11] = 0xFF;
    std::memcpy(bytes.data() + 12, &v4, 4);
    prefixOffset = 96;
    return true;
  }
  in6_addr v6{};
  if (::inet_pton(AF_INET6, copy.c_str(), &v6) == 1) {
    std::memcpy(bytes.data(), &v6, 16);
    prefixOffset = 0;
    return true;
  }
  return false;
}

// Decimal digits only, at most `max`.
bool ParsePrefixLength(std::string_view text, int max, int& bits) {
  if (text.empty() || text.size() > 3) return false;
  bits = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    bits = bits * 10 + (c - '0');
  }
  return bits <= max;
}

bool SamePrefix(const Bytes& a, const Bytes& b, int bits) {
  int whole = bits / 8;
  if (std::memcmp(a.data(), b.data(), static_cast<std::size_t>(whole)) != 0) return false;
  int rest = bits % 8;
  if (rest == 0) return true;
  auto mask = static_cast<std::uint8_t>(0xFF << (8 - rest));
  return (a[static_cast<std::size_t>(whole)] & mask) == (b[static_cast<std::size_t>(whole)] & mask);
}

}  // namespace

AllowList AllowList::Parse(std::string_view text) {
  AllowList list;
  while (!text.empty()) {
    std::size_t comma = text.find(',');
    std::string_view entry = Trimmed(text.substr(0, comma));
    text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 1);
    if (entry.empty()) continue;

    std::size_t slash = entry.find('/');
    Range range;
    int offset = 0;
    bool ok = ParseAddress(entry.substr(0, slash), range.bytes, offset);
    if (ok && slash != std::string_view::npos) {
      int bits = 0;
      ok = ParsePrefixLength(entry.substr(slash + 1), 128 - offset, bits);
      range.prefixBits = offset + bits;
    }
    if (ok) {
      list.ranges_.push_back(range);
    } else {
      list.invalid_.emplace_back(entry);
    }
  }
  return list;
}

bool AllowList::Allows(std::string_view address) const {
  Bytes bytes{};
  int offset = 0;
  if (!ParseAddress(address, bytes, offset)) return false;
  for (const Range& range : ranges_) {
    if (SamePrefix(bytes, range.bytes, range.prefixBits)) return true;
  }
  return false;
}

bool IsLoopbackAddress(std::string_view host) {
  static const AllowList loopback = AllowList::Parse("127.0.0.0/8, ::1");
  return loopback.Allows(host);
}

}  // namespace tav
