// Whether a datagram's sender is on one of this machine's links. WS-Discovery is link-local:
// our multicast leaves with hop limit 1, and a genuine answer or announcement comes from a host
// on the network of the interface it arrived on. A host further away could name servers and
// claim their addresses, so nothing of it is taken. The transport reads the interfaces.
//
// Thread safety: pure functions.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace vuv::wsd {

struct IpAddress {
  bool ipv6 = false;
  std::array<std::uint8_t, 16> bytes{};  // IPv4 in the first four
};

// One address of one of our interfaces and the length of its network's prefix.
struct LocalNetwork {
  IpAddress address;  // its own; a point-to-point interface's peer's
  unsigned prefixLength = 0;
  unsigned interfaceIndex = 0;
  bool loopback = false;  // what arrives on it was sent by this machine
};

// fe80::/10.
bool isLinkLocal(const IpAddress& address);

// On-link: an IPv6 link-local sender, or one inside a network of the interface the datagram
// arrived on (`arrival`; 0 when unknown: of any interface), or anything arriving on a loopback
// interface. An IPv4-mapped IPv6 sender is taken as the IPv4 address it holds.
bool isOnLink(const IpAddress& sender, unsigned arrival, std::span<const LocalNetwork> networks);

}  // namespace vuv::wsd
