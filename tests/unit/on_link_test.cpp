#include "wsd/on_link.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace vuv::wsd {
namespace {

IpAddress ip(const char* text) {
  IpAddress a;
  a.ipv6 = std::string_view(text).find(':') != std::string_view::npos;
  EXPECT_EQ(::inet_pton(a.ipv6 ? AF_INET6 : AF_INET, text, a.bytes.data()), 1) << text;
  return a;
}

TEST(OnLink, SendersOnTheNetworkOfTheirArrivalInterfaceOrOnLoopback) {
  const LocalNetwork networks[] = {{ip("127.0.0.1"), 8, 1, true},        {ip("::1"), 128, 1, true},
                                   {ip("10.213.0.100"), 24, 2, false},  {ip("192.0.2.7"), 32, 3, false},
                                   {ip("198.51.100.0"), 31, 4, false},  {ip("2001:db8:1::10"), 64, 5, false}};
  const struct {
    const char* sender;
    unsigned arrival;  // 0: unknown
    bool onLink;
  } cases[] = {
      // IPv4: the network of the arrival interface, of any when that is unknown, of no other
      {"10.213.0.31", 2, true}, {"10.213.0.31", 0, true}, {"10.213.0.31", 5, false}, {"10.213.1.31", 2, false},
      {"10.214.0.5", 0, false},
      // a /32 holds only itself, a /31 two
      {"192.0.2.7", 3, true}, {"192.0.2.6", 3, false}, {"198.51.100.1", 4, true}, {"198.51.100.2", 4, false},
      // IPv6 prefixes; fe80::/10 on any link
      {"2001:db8:1::99", 5, true}, {"2001:db8:1:1::99", 5, false}, {"fe80::1", 2, true}, {"febf:ffff::1", 9, true},
      {"fec0::1", 2, false},
      // IPv4 in IPv6: only the mapped form is IPv4
      {"::ffff:10.213.0.31", 2, true}, {"::ffff:10.214.0.5", 0, false}, {"::10.213.0.31", 0, false},
      // whatever arrives on loopback is this machine's own, from any of its addresses; nothing elsewhere
      {"127.0.0.1", 1, true}, {"10.214.0.5", 1, true}, {"::1", 0, true}, {"127.0.0.1", 2, false}, {"::1", 5, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(isOnLink(ip(c.sender), c.arrival, networks), c.onLink) << c.sender << " on " << c.arrival;
  }
}

}  // namespace
}  // namespace vuv::wsd
