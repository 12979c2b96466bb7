#pragma once
// Who may connect to the proxy: a list of addresses and CIDR ranges, IPv4
// and IPv6, as written in the AllowFrom setting ("127.0.0.0/8, ::1, ...").
// IPv4 entries are held as IPv4-mapped IPv6 ranges, so an IPv4 peer seen
// through an IPv6 socket (::ffff:a.b.c.d) matches them as well.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tav {

// Loopback, the private networks and the link-local ranges.
inline constexpr const char* kDefaultAllowFrom =
    "127.0.0.0/8, ::1, 10.0.0.0/8, 172.16.0.0/12, 192.168.0.0/16, fc00::/7, fe80::/10, 169.254.0.0/16";

class AllowList {
 public:
  // Comma-separated entries; spaces around an entry and empty entries are
  // ignored. An entry that is neither an address nor a range is kept in
  // Invalid() and allows nobody.
  static AllowList Parse(std::string_view text);

  // Whether the numeric address `address` (IPv4 or IPv6 text) lies in one of
  // the ranges. A text that is no address is never allowed.
  bool Allows(std::string_view address) const;

  const std::vector<std::string>& Invalid() const { return invalid_; }

 private:
  struct Range {
    std::array<std::uint8_t, 16> bytes{};
    int prefixBits = 128;
  };

  std::vector<Range> ranges_;
  std::vector<std::string> invalid_;
};

// Whether `host` is a numeric IPv4 address in 127.0.0.0/8 or the IPv6 ::1.
bool IsLoopbackAddress(std::string_view host);

}  // namespace tav
