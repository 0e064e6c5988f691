#include "wsd/client/multicast_sockets.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

#include "wsd/wsd_messages.h"

namespace vuv::wsd {

namespace {

constexpr std::size_t kMaxDatagram = 65536;
// Interface addresses kept for the on-link check; senders on the networks of any beyond are refused.
constexpr std::size_t kMaxNetworks = 256;

bool suitable(const ifaddrs& entry) {
  return entry.ifa_addr != nullptr && (entry.ifa_flags & IFF_UP) != 0 && (entry.ifa_flags & IFF_MULTICAST) != 0 &&
         (entry.ifa_flags & IFF_LOOPBACK) == 0;
}

IpAddress ipAddressOf(const sockaddr& address, int family) {
  IpAddress out;
  out.ipv6 = family == AF_INET6;
  if (out.ipv6) {
    std::memcpy(out.bytes.data(), &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr, 16);
  } else {
    std::memcpy(out.bytes.data(), &reinterpret_cast<const sockaddr_in&>(address).sin_addr, 4);
  }
  return out;
}

// An address of an interface that is up, with its network; a point-to-point link's is its peer's.
std::optional<LocalNetwork> networkOf(const ifaddrs& entry, unsigned index) {
  const int family = entry.ifa_addr->sa_family;
  if (family != AF_INET && family != AF_INET6) return std::nullopt;
  const bool toPeer = (entry.ifa_flags & IFF_POINTOPOINT) != 0 && entry.ifa_dstaddr != nullptr;
  LocalNetwork network{ipAddressOf(toPeer ? *entry.ifa_dstaddr : *entry.ifa_addr, family), 128, index,
                       (entry.ifa_flags & IFF_LOOPBACK) != 0};
  if (entry.ifa_netmask != nullptr) {
    network.prefixLength = 0;
    for (std::uint8_t byte : ipAddressOf(*entry.ifa_netmask, family).bytes) network.prefixLength += std::popcount(byte);
  }
  return network;
}

// The interface a datagram came in on (IP_PKTINFO, IPV6_PKTINFO); 0 when not given.
unsigned arrivalInterface(msghdr& message) {
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
      in_pktinfo info{};
      std::memcpy(&info, CMSG_DATA(c), sizeof info);
      return static_cast<unsigned>(info.ipi_ifindex);
    }
    if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO) {
      in6_pktinfo info{};
      std::memcpy(&info, CMSG_DATA(c), sizeof info);
      return info.ipi6_ifindex;
    }
  }
  return 0;
}

template <class T>
bool option(int fd, int level, int name, const T& value) {
  return ::setsockopt(fd, level, name, &value, sizeof value) == 0;
}

UniqueFd udpSocket(int family) {
  return UniqueFd(::socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
}

// Bound to the interface's address, port chosen by the system: answers come back here.
UniqueFd ipv4Sender(const in_addr& address) {
  UniqueFd fd = udpSocket(AF_INET);
  if (!fd.valid()) return fd;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr = address;
  const unsigned char ttl = 1;
  const int one = 1;
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      !option(fd.get(), IPPROTO_IP, IP_MULTICAST_IF, address) || !option(fd.get(), IPPROTO_IP, IP_MULTICAST_TTL, ttl) ||
      !option(fd.get(), IPPROTO_IP, IP_PKTINFO, one)) {
    return UniqueFd();
  }
  return fd;
}

UniqueFd ipv6Sender(const sockaddr_in6& address, unsigned index) {
  UniqueFd fd = udpSocket(AF_INET6);
  if (!fd.valid()) return fd;
  sockaddr_in6 local = address;
  local.sin6_port = 0;
  local.sin6_scope_id = index;
  const int one = 1;
  const int hops = 1;
  if (!option(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, one) ||
      ::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      !option(fd.get(), IPPROTO_IPV6, IPV6_MULTICAST_IF, index) ||
      !option(fd.get(), IPPROTO_IPV6, IPV6_MULTICAST_HOPS, hops) || !option(fd.get(), IPPROTO_IPV6, IPV6_RECVPKTINFO, one)) {
    return UniqueFd();
  }
  return fd;
}

// On the WS-Discovery port, shared with any other program that shares it (a local responder).
UniqueFd ipv4Listener(const std::vector<in_addr>& interfaces) {
  UniqueFd fd = udpSocket(AF_INET);
  if (!fd.valid()) return fd;
  const int one = 1;
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_port = htons(kPort);
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  if (!option(fd.get(), SOL_SOCKET, SO_REUSEADDR, one) || !option(fd.get(), IPPROTO_IP, IP_PKTINFO, one) ||
      ::bind(fd.get(), reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
    return UniqueFd();
  }
  bool joined = false;
  for (const in_addr& address : interfaces) {
    ip_mreq membership{};
    ::inet_pton(AF_INET, std::string(kMulticastV4).c_str(), &membership.imr_multiaddr);
    membership.imr_interface = address;
    joined = option(fd.get(), IPPROTO_IP, IP_ADD_MEMBERSHIP, membership) || joined;
  }
  return joined ? std::move(fd) : UniqueFd();
}

}  // namespace

Result<MulticastSockets> MulticastSockets::open(bool ipv6, bool listen) {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return makeError(ErrorCode::Unreachable, "listing the network interfaces", errno);
  std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> owner(list, &::freeifaddrs);

  MulticastSockets sockets;
  std::vector<in_addr> ipv4Interfaces;
  bool anySuitable = false;
  int lastErrno = 0;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || (entry->ifa_flags & IFF_UP) == 0) continue;
    const unsigned index = ::if_nametoindex(entry->ifa_name);
    auto network = networkOf(*entry, index);
    if (network && sockets.networks_.size() < kMaxNetworks) sockets.networks_.push_back(*network);
    if (!suitable(*entry)) continue;
    if (entry->ifa_addr->sa_family == AF_INET) {
      anySuitable = true;
      const in_addr address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr;
      UniqueFd fd = ipv4Sender(address);
      if (!fd.valid()) {
        lastErrno = errno;
        continue;
      }
      sockets.senders_.push_back(Sender{std::move(fd), false, index});
      ipv4Interfaces.push_back(address);
    } else if (ipv6 && entry->ifa_addr->sa_family == AF_INET6) {
      const auto* address = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
      if (!IN6_IS_ADDR_LINKLOCAL(&address->sin6_addr)) continue;
      anySuitable = true;
      // IPv6 is a bonus: when it does not work here, IPv4 carries the round.
      UniqueFd fd = ipv6Sender(*address, index);
      if (fd.valid()) sockets.senders_.push_back(Sender{std::move(fd), true, index});
    }
  }
  if (!anySuitable) {
    return makeError(ErrorCode::Unreachable, "no network interface that is up and can multicast", ENETUNREACH);
  }
  if (sockets.senders_.empty()) {
    return makeError(ErrorCode::Unreachable, "no socket for WS-Discovery could be opened", lastErrno);
  }
  if (listen && !ipv4Interfaces.empty()) {
    if (UniqueFd fd = ipv4Listener(ipv4Interfaces); fd.valid()) sockets.listeners_.push_back(std::move(fd));
  }
  return sockets;
}

std::size_t MulticastSockets::sendToAll(std::string_view payload) {
  std::size_t sent = 0;
  for (const Sender& sender : senders_) {
    ssize_t n = -1;
    if (sender.ipv6) {
      sockaddr_in6 group{};
      group.sin6_family = AF_INET6;
      group.sin6_port = htons(kPort);
      group.sin6_scope_id = sender.interfaceIndex;
      ::inet_pton(AF_INET6, std::string(kMulticastV6).c_str(), &group.sin6_addr);
      n = ::sendto(sender.fd.get(), payload.data(), payload.size(), MSG_NOSIGNAL,
                   reinterpret_cast<sockaddr*>(&group), sizeof group);
    } else {
      sockaddr_in group{};
      group.sin_family = AF_INET;
      group.sin_port = htons(kPort);
      ::inet_pton(AF_INET, std::string(kMulticastV4).c_str(), &group.sin_addr);
      n = ::sendto(sender.fd.get(), payload.data(), payload.size(), MSG_NOSIGNAL,
                   reinterpret_cast<sockaddr*>(&group), sizeof group);
    }
    if (n == static_cast<ssize_t>(payload.size())) ++sent;
  }
  return sent;
}

void MulticastSockets::addPollFds(std::vector<pollfd>& fds) const {
  for (const Sender& sender : senders_) fds.push_back(pollfd{sender.fd.get(), POLLIN, 0});
  for (const UniqueFd& listener : listeners_) fds.push_back(pollfd{listener.get(), POLLIN, 0});
}

std::vector<ReceivedDatagram> MulticastSockets::receive(std::size_t max) {
  std::vector<ReceivedDatagram> out;
  std::string buffer(kMaxDatagram, '\0');
  std::size_t reads = 0;
  auto drain = [&](int fd) {
    while (reads++ < max) {
      sockaddr_storage from{};
      iovec part{buffer.data(), buffer.size()};
      alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in6_pktinfo))];
      msghdr message{};
      message.msg_name = &from;
      message.msg_namelen = sizeof from;
      message.msg_iov = &part;
      message.msg_iovlen = 1;
      message.msg_control = control;
      message.msg_controllen = sizeof control;
      const ssize_t n = ::recvmsg(fd, &message, MSG_DONTWAIT | MSG_TRUNC);
      if (n < 0) return;  // EAGAIN, or an error the next poll shows again
      if (static_cast<std::size_t>(n) > buffer.size()) continue;  // cut off: not worth reading
      if (from.ss_family != AF_INET && from.ss_family != AF_INET6) continue;
      const IpAddress sender = ipAddressOf(reinterpret_cast<const sockaddr&>(from), from.ss_family);
      if (!isOnLink(sender, arrivalInterface(message), networks_)) continue;
      ReceivedDatagram datagram{std::string(buffer.data(), static_cast<std::size_t>(n)), {}};
      char text[INET6_ADDRSTRLEN] = {};
      if (from.ss_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&from)->sin_addr, text, sizeof text);
        datagram.sender = text;
      } else if (from.ss_family == AF_INET6) {
        const auto* peer = reinterpret_cast<sockaddr_in6*>(&from);
        ::inet_ntop(AF_INET6, &peer->sin6_addr, text, sizeof text);
        datagram.sender = text;
        if (peer->sin6_scope_id != 0) datagram.sender += "%" + std::to_string(peer->sin6_scope_id);
      }
      out.push_back(std::move(datagram));
    }
  };
  for (const Sender& sender : senders_) drain(sender.fd.get());
  for (const UniqueFd& listener : listeners_) drain(listener.get());
  return out;
}

}  // namespace vuv::wsd
