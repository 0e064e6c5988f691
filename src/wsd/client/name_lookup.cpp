#include "wsd/client/name_lookup.h"

#include <ares.h>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <vector>

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
      if (waker.fd() >= 0) fds.push_back(pollfd{waker.fd(), POLLIN, 0});

      auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
      timeval limit{};
      timeval most{static_cast<time_t>(wait.count() / 1000),
                   static_cast<suseconds_t>((wait.count() % 1000) * 1000)};
      if (const timeval* next = ::ares_timeout(channel_, &most, &limit)) {
        wait = std::min(wait, std::chrono::milliseconds(next->tv_sec * 1000 + (next->tv_usec + 999) / 1000));
      }
      if (waker.fd() < 0) wait = std::min(wait, std::chrono::milliseconds(50));
      const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(wait.count()));
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

struct ForwardQuery {
  bool done = false;
  bool found = false;
};

void onAddresses(void* arg, int status, int /*timeouts*/, ares_addrinfo* result) {
  auto* query = static_cast<ForwardQuery*>(arg);
  query->done = true;
  query->found = status == ARES_SUCCESS && result != nullptr && result->nodes != nullptr;
  if (result != nullptr) ::ares_freeaddrinfo(result);
}

}  // namespace

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

bool inHostsFile(const std::string& name) {
  if (name.empty()) return false;
  Resolver resolver;
  if (!resolver.ok()) return false;
  for (const int family : {AF_INET, AF_INET6}) {
    hostent* host = nullptr;
    if (::ares_gethostbyname_file(resolver.channel(), name.c_str(), family, &host) == ARES_SUCCESS) {
      ::ares_free_hostent(host);
      return true;
    }
  }
  return false;
}

bool resolvesByName(const std::string& name, std::chrono::milliseconds timeout,
                    std::stop_token stop) {
  if (name.empty() || stop.stop_requested()) return false;
  ForwardQuery query;
  {
    Resolver resolver;
    if (!resolver.ok()) return false;
    ares_addrinfo_hints hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    ::ares_getaddrinfo(resolver.channel(), name.c_str(), nullptr, &hints, onAddresses, &query);
    resolver.drive(Clock::now() + timeout, stop, [&] { return query.done; });
  }  // a query still open ends here, its callback saying "not found"

  return query.found;
}

}  // namespace vuv::wsd
