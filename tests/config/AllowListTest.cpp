#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/AllowList.h"

namespace tav {
namespace {

struct Case {
  const char* list;
  const char* address;
  bool allowed;
};

TEST(AllowList, MatchesAddressesAgainstRanges) {
  const Case cases[] = {
      // IPv4 ranges and single addresses
      {"127.0.0.1/32", "127.0.0.1", true},
      {"127.0.0.1/32", "127.0.0.2", false},
      {"127.0.0.1", "127.0.0.1", true},
      {"172.16.0.0/12", "172.31.255.255", true},
      {"172.16.0.0/12", "172.32.0.0", false},
      {"192.168.1.77/24", "192.168.1.3", true},  // host bits of the entry do not matter
      {"10.0.0.0/8, 192.168.0.0/16", "192.168.200.1", true},
      {"0.0.0.0/0", "203.0.113.9", true},
      {"0.0.0.0/0", "2001:db8::1", false},  // an IPv4 range never takes an IPv6 peer
      // IPv6, and IPv4 peers seen through an IPv6 socket
      {"::1", "::1", true},
      {"::1", "::2", false},
      {"fc00::/7", "fdab:1::5", true},
      {"fc00::/7", "fe00::1", false},
      {"fe80::/10", "fe80::1:2", true},
      {"127.0.0.0/8", "::ffff:127.9.9.9", true},
      // the default: loopback, private networks, link-local
      {kDefaultAllowFrom, "169.254.10.1", true},
      {kDefaultAllowFrom, "100.64.0.1", false},
      {kDefaultAllowFrom, "8.8.8.8", false},
      {kDefaultAllowFrom, "2001:db8::1", false},
      // what is not an address allows nothing
      {"127.0.0.1/33, ::1/129, localhost, 127.0.0.1/, 127.0.0.1/x", "127.0.0.1", false},
      {"", "127.0.0.1", false},
      {" 127.0.0.1 , ,", "127.0.0.1", true},
      {"127.0.0.0/8", "not an address", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AllowList::Parse(c.list).Allows(c.address), c.allowed) << c.list << " / " << c.address;
  }
}

TEST(AllowList, KeepsTheEntriesThatAreNoAddress) {
  AllowList list = AllowList::Parse("127.0.0.1/33, ::1, localhost, 10.0.0.0/8");
  EXPECT_EQ(list.Invalid(), (std::vector<std::string>{"127.0.0.1/33", "localhost"}));
  EXPECT_TRUE(AllowList::Parse(kDefaultAllowFrom).Invalid().empty());
}

}  // namespace
}  // namespace tav
