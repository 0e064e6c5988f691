// HTTP requests for device metadata, many at once on non-blocking sockets in the caller's poll
// loop. Each request has its own deadline and a bound on the bytes it reads; whatever goes
// wrong ends that request with an error and touches no other. IPv6 sockets are IPv6-only.
//
// Thread safety: none; owned by the thread running a round.
#pragma once

#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result.h"
#include "platform/unique_fd.h"
#include "wsd/discovery_round.h"

namespace vuv::wsd {

// Where a metadata request for `url` may go, having come from an announcement by `sender`
// (FetchRequest::sender): the sender's own address, or an IPv6 link-local one (with the
// sender's scope). Never loopback, multicast, broadcast, unspecified or an IPv4 address inside
// IPv6, whoever sent it. AccessDenied for those, InvalidArgument for what is no address.
Result<sockaddr_storage> metadataDestination(const HttpUrl& url, std::string_view sender);

struct FetchResult {
  std::size_t id;
  Result<std::string> body;
};

class MetadataFetcher {
 public:
  MetadataFetcher(std::chrono::milliseconds timeout, std::size_t maxBody) : timeout_(timeout), maxBody_(maxBody) {}

  // Connects and queues the request; a request that cannot even start ends at once (in the
  // next service() result).
  void start(const FetchRequest& request, Clock::time_point now);

  // One pollfd per open request, in start order; pass the same vector back to service().
  void addPollFds(std::vector<pollfd>& fds) const;
  // Works on the requests `fds` (from addPollFds, starting at `first`) shows ready, and ends those
  // past their deadline. Returns the requests that ended.
  std::vector<FetchResult> service(const std::vector<pollfd>& fds, std::size_t first, Clock::time_point now);

  Clock::time_point nextDeadline() const;  // Clock::time_point::max() when idle
  bool idle() const { return connections_.empty() && ended_.empty(); }

 private:
  struct Connection {
    std::size_t id = 0;
    UniqueFd fd;
    std::string request;
    std::size_t sent = 0;
    bool connected = false;
    std::string received;
    Clock::time_point deadline;
  };
  // Some progress on `c`; a value when the request has ended.
  std::optional<Result<std::string>> advance(Connection& c, short revents);

  std::chrono::milliseconds timeout_;
  std::size_t maxBody_;
  std::vector<Connection> connections_;
  std::vector<FetchResult> ended_;  // ended in start(), reported by the next service()
};

}  // namespace vuv::wsd
