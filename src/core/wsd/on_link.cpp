#include "wsd/on_link.h"

#include <algorithm>

namespace vuv::wsd {

namespace {

bool within(const IpAddress& a, const IpAddress& network, unsigned prefixLength) {
  if (a.ipv6 != network.ipv6) return false;
  const unsigned bits = std::min(prefixLength, a.ipv6 ? 128u : 32u);
  const unsigned whole = bits / 8;
  if (!std::equal(a.bytes.begin(), a.bytes.begin() + whole, network.bytes.begin())) return false;
  const auto mask = static_cast<std::uint8_t>(0xFF00u >> (bits % 8));
  return bits % 8 == 0 || (a.bytes[whole] & mask) == (network.bytes[whole] & mask);
}

// ::ffff:a.b.c.d, as a dual-stack socket shows an IPv4 sender.
IpAddress unmapped(const IpAddress& a) {
  constexpr std::array<std::uint8_t, 12> kMappedPrefix{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  if (!a.ipv6 || !std::equal(kMappedPrefix.begin(), kMappedPrefix.end(), a.bytes.begin())) return a;
  IpAddress ipv4;
  std::copy_n(a.bytes.begin() + 12, 4, ipv4.bytes.begin());
  return ipv4;
}

}  // namespace

bool isLinkLocal(const IpAddress& a) { return a.ipv6 && a.bytes[0] == 0xFE && (a.bytes[1] & 0xC0) == 0x80; }

bool isOnLink(const IpAddress& sender, unsigned arrival, std::span<const LocalNetwork> networks) {
  const IpAddress from = unmapped(sender);
  if (isLinkLocal(from)) return true;
  return std::any_of(networks.begin(), networks.end(), [&](const LocalNetwork& n) {
    if (arrival != 0 && n.interfaceIndex != arrival) return false;
    return (n.loopback && arrival != 0) || within(from, n.address, n.prefixLength);
  });
}

}  // namespace vuv::wsd
