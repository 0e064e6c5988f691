#include "wsd/client/name_lookup.h"

#include <ares.h>
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <random>
#include <vector>

#include "platform/unique_fd.h"
#include "wsd/netbios_name_query.h"
#include "wsd/client/stop_waker.h"

namespace vuv::wsd {

namespace {

using Clock = std::chrono::steady_clock;

// A c-ares channel for one batch of lookups. Destroying it ends every query still open (their
// callbacks run with ARES_EDESTRUCTION, before the destructor returns).
class Resolver {
 public:
  Resolver() {
    static std::once_flag initialised;
    std::call_once(initialised, [] { ::ares_library_init(ARES_LIB_INIT_ALL); });
    ok_ = ::ares_init(&channel_) == ARES_SUCCESS;
  }
  ~Resolver() {
    if (ok_) ::ares_destroy(channel_);
  }
  Resolver(const Resolver&) = delete;
  Resolver& operator=(const Resolver&) = delete;

  bool ok() const { return ok_; }
  ares_channel channel() { return channel_; }

  // Runs the queries until `finished` says so, `deadline` passes or `stop` is requested.
  template <class Finished>
  void drive(Clock::time_point deadline, std::stop_token stop, Finished finished) {
    drive(deadline, stop, finished, -1, [] {}, Clock::time_point::max(), [] {});
  }

  // The same, also watching `extra` (when >= 0): `onExtra` runs when it is readable, and
  // `onTick` once when `tick` passes.
  template <class Finished, class OnExtra, class OnTick>
  void drive(Clock::time_point deadline, std::stop_token stop, Finished finished, int extra,
             OnExtra onExtra, Clock::time_point tick, OnTick onTick) {
    StopWaker waker(stop);
    while (!finished() && !waker.stopped()) {
      const Clock::time_point now = Clock::now();
      if (now >= deadline) return;
      ares_socket_t sockets[ARES_GETSOCK_MAXNUM];
      const int mask = ::ares_getsock(channel_, sockets, ARES_GETSOCK_MAXNUM);
      std::vector<pollfd> fds;
      for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
        short events = 0;
        if (ARES_GETSOCK_READABLE(mask, i)) events |= POLLIN;
        if (ARES_GETSOCK_WRITABLE(mask, i)) events |= POLLOUT;
        if (events != 0) fds.push_back(pollfd{sockets[i], events, 0});
      }
      const std::size_t aresCount = fds.size();
      if (extra >= 0) fds.push_back(pollfd{extra, POLLIN, 0});
      if (waker.fd() >= 0) fds.push_back(pollfd{waker.fd(), POLLIN, 0});
      if (now >= tick) {
        tick = Clock::time_point::max();
        onTick();
      }

      auto wait = std::chrono::ceil<std::chrono::milliseconds>(std::min(deadline, tick) - now);
      timeval limit{};
      timeval most{static_cast<time_t>(wait.count() / 1000),
                   static_cast<suseconds_t>((wait.count() % 1000) * 1000)};
      if (const timeval* next = ::ares_timeout(channel_, &most, &limit)) {
        wait = std::min(wait, std::chrono::milliseconds(next->tv_sec * 1000 + (next->tv_usec + 999) / 1000));
      }
      if (waker.fd() < 0) wait = std::min(wait, std::chrono::milliseconds(50));
      const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(std::max<long>(0, wait.count())));
      if (ready < 0 && errno != EINTR) return;
      bool any = false;
      for (std::size_t i = 0; i < aresCount; ++i) {
        if (fds[i].revents == 0) continue;
        any = true;
        const bool in = (fds[i].revents & (POLLIN | POLLERR | POLLHUP)) != 0;
        const bool out = (fds[i].revents & POLLOUT) != 0;
        ::ares_process_fd(channel_, in ? fds[i].fd : ARES_SOCKET_BAD, out ? fds[i].fd : ARES_SOCKET_BAD);
      }
      if (!any) ::ares_process_fd(channel_, ARES_SOCKET_BAD, ARES_SOCKET_BAD);  // timeouts, retries
      if (extra >= 0 && ready > 0 && fds[aresCount].revents != 0) onExtra();
    }
  }

 private:
  ares_channel channel_ = nullptr;
  bool ok_ = false;
};

struct ReverseQuery {
  std::string address;
  std::map<std::string, std::string>* names;
  std::size_t* open;
};

void onHost(void* arg, int status, int /*timeouts*/, hostent* host) {
  auto* query = static_cast<ReverseQuery*>(arg);
  --*query->open;
  if (status != ARES_SUCCESS || host == nullptr || host->h_name == nullptr) return;
  std::string name = host->h_name;
  if (!name.empty() && name.back() == '.') name.pop_back();
  // NI_NAMEREQD in spirit: an address written back as the "name" is no name.
  if (!name.empty() && name != query->address) (*query->names)[query->address] = std::move(name);
}

struct NameQuery {
  std::string name;
  std::map<std::string, ResolvedName>* found;
};

void onPlaced(void* arg, int status, int /*timeouts*/, ares_addrinfo* result) {
  auto* query = static_cast<NameQuery*>(arg);
  if (status == ARES_SUCCESS && result != nullptr) {
    for (const ares_addrinfo_node* node = result->nodes; node != nullptr; node = node->ai_next) {
      if (node->ai_family != AF_INET) continue;
      char text[INET_ADDRSTRLEN] = {};
      const auto* address = reinterpret_cast<const sockaddr_in*>(node->ai_addr);
      if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) == nullptr) continue;
      query->found->try_emplace(query->name, ResolvedName{text, true});
      break;
    }
  }
  if (result != nullptr) ::ares_freeaddrinfo(result);
}

// The IPv4 broadcast addresses of the interfaces that are up (loopback aside).
std::vector<sockaddr_in> broadcastAddresses() {
  std::vector<sockaddr_in> out;
  ifaddrs* all = nullptr;
  if (::getifaddrs(&all) != 0) return out;
  for (const ifaddrs* i = all; i != nullptr; i = i->ifa_next) {
    const unsigned flags = i->ifa_flags;
    if ((flags & IFF_UP) == 0 || (flags & IFF_BROADCAST) == 0 || (flags & IFF_LOOPBACK) != 0) continue;
    if (i->ifa_broadaddr == nullptr || i->ifa_broadaddr->sa_family != AF_INET) continue;
    sockaddr_in to = *reinterpret_cast<const sockaddr_in*>(i->ifa_broadaddr);
    to.sin_port = htons(kNetbiosNamePort);
    out.push_back(to);
  }
  ::freeifaddrs(all);
  return out;
}

}  // namespace

std::map<std::string, ResolvedName> NameServices::resolve(const std::vector<std::string>& names,
                                                          std::stop_token stop) {
  std::map<std::string, ResolvedName> found;
  if (names.empty() || stop.stop_requested()) return found;
  const auto done = [&] { return found.size() >= names.size(); };

  // NetBIOS: one socket, one query id per name.
  UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  const int yes = 1;
  if (socket.valid() && ::setsockopt(socket.get(), SOL_SOCKET, SO_BROADCAST, &yes, sizeof yes) != 0) socket.reset();
  const std::vector<sockaddr_in> targets = socket.valid() ? broadcastAddresses() : std::vector<sockaddr_in>{};
  const auto firstId = static_cast<std::uint16_t>(std::random_device{}());
  auto ask = [&] {
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (found.contains(names[i])) continue;
      const std::string query = netbiosQuery(names[i], static_cast<std::uint16_t>(firstId + i));
      if (query.empty()) continue;
      for (const sockaddr_in& to : targets) {
        ::sendto(socket.get(), query.data(), query.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
      }
    }
  };
  auto hear = [&] {
    char packet[576];
    sockaddr_in from{};
    socklen_t fromSize = sizeof from;
    ssize_t n;
    while ((n = ::recvfrom(socket.get(), packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&from), &fromSize)) >= 0) {
      fromSize = sizeof from;
      if (ntohs(from.sin_port) != kNetbiosNamePort || n < 2) continue;
      const auto id = static_cast<std::uint16_t>((static_cast<unsigned char>(packet[0]) << 8) |
                                                 static_cast<unsigned char>(packet[1]));
      const std::size_t index = static_cast<std::uint16_t>(id - firstId);
      if (index >= names.size()) continue;
      const std::string_view bytes(packet, static_cast<std::size_t>(n));
      if (auto address = netbiosAnswer(bytes, names[index], id)) {
        found.try_emplace(names[index], ResolvedName{*address, false});
      }
    }
  };
  if (!targets.empty()) ask();

  std::vector<NameQuery> queries;
  queries.reserve(names.size());  // the callbacks hold pointers into it
  {
    Resolver resolver;  // ends before `queries`, whose elements its callbacks use
    if (resolver.ok()) {
      ares_addrinfo_hints hints{};
      hints.ai_family = AF_INET;
      hints.ai_socktype = SOCK_STREAM;
      for (const std::string& name : names) {
        queries.push_back(NameQuery{name, &found});
        ::ares_getaddrinfo(resolver.channel(), name.c_str(), nullptr, &hints, onPlaced, &queries.back());
      }
    }
    // NetBIOS over UDP may lose a packet: asked again half way.
    const Clock::time_point start = Clock::now();
    resolver.drive(start + timeout_, stop, done, targets.empty() ? -1 : socket.get(), hear,
                   targets.empty() ? Clock::time_point::max() : start + timeout_ / 2, ask);
  }
  return found;
}

std::map<std::string, std::string> reverseLookup(const std::vector<std::string>& addresses,
                                                 std::chrono::milliseconds timeout,
                                                 std::stop_token stop) {
  std::map<std::string, std::string> names;
  if (stop.stop_requested()) return names;
  std::size_t open = 0;
  std::vector<ReverseQuery> queries;
  queries.reserve(addresses.size());  // the callbacks hold pointers into it
  {
    Resolver resolver;  // ends before `queries`, whose elements its callbacks use
    if (!resolver.ok()) return names;
    for (const std::string& address : addresses) {
      in_addr a{};
      if (::inet_pton(AF_INET, address.c_str(), &a) != 1) continue;
      queries.push_back(ReverseQuery{address, &names, &open});
      ++open;
      ::ares_gethostbyaddr(resolver.channel(), &a, sizeof a, AF_INET, onHost, &queries.back());
    }
    resolver.drive(Clock::now() + timeout, stop, [&] { return open == 0; });
  }
  return names;
}

}  // namespace vuv::wsd
