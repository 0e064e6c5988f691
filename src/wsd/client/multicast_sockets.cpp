#include "wsd/client/multicast_sockets.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "wsd/wsd_messages.h"

namespace vuv::wsd {

namespace {

constexpr std::size_t kMaxDatagram = 65536;

bool suitable(const ifaddrs& entry) {
  return entry.ifa_addr != nullptr && (entry.ifa_flags & IFF_UP) != 0 && (entry.ifa_flags & IFF_MULTICAST) != 0 &&
         (entry.ifa_flags & IFF_LOOPBACK) == 0;
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
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      !option(fd.get(), IPPROTO_IP, IP_MULTICAST_IF, address) || !option(fd.get(), IPPROTO_IP, IP_MULTICAST_TTL, ttl)) {
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
      !option(fd.get(), IPPROTO_IPV6, IPV6_MULTICAST_HOPS, hops)) {
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
  if (!option(fd.get(), SOL_SOCKET, SO_REUSEADDR, one) ||
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
    if (!suitable(*entry)) continue;
    const unsigned index = ::if_nametoindex(entry->ifa_name);
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
  auto drain = [&](int fd) {
    while (out.size() < max) {
      sockaddr_storage from{};
      socklen_t fromLength = sizeof from;
      const ssize_t n = ::recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC,
                                   reinterpret_cast<sockaddr*>(&from), &fromLength);
      if (n < 0) return;  // EAGAIN, or an error the next poll shows again
      if (static_cast<std::size_t>(n) > buffer.size()) continue;  // cut off: not worth reading
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
