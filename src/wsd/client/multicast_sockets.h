// The UDP side of WS-Discovery: a socket per suitable interface and address family to send
// multicast messages from (answers come back to it by unicast), and a socket on the WS-Discovery
// port in the multicast group for announcements (Hello, Bye).
//
// Suitable: up, multicast-capable, not loopback. Each sender names its interface for outgoing
// multicast (IP_MULTICAST_IF), as hosts without a default route need; TTL and hop limit 1, the
// messages are for the local link. IPv6 is used where an interface has a link-local address;
// where it is off, nothing is opened for it. Announcements are optional: when the port is taken
// without sharing, the round still runs on probes alone.
//
// Only datagrams from on-link senders are taken (wsd/on_link.h), checked against the interface
// each arrived on and the interfaces' networks as open() read them.
//
// Thread safety: none; owned by the thread running a round.
#pragma once

#include <poll.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "platform/unique_fd.h"
#include "wsd/on_link.h"

namespace vuv::wsd {

struct ReceivedDatagram {
  std::string payload;
  std::string sender;  // IPv4 dotted, or IPv6 (with "%" and the scope id when link-local)
};

class MulticastSockets {
 public:
  // Opens what it can. Unreachable when no interface is suitable or no sender could be opened.
  static Result<MulticastSockets> open(bool ipv6, bool listen);

  // Sends to the group on every sender; returns how many sends went out.
  std::size_t sendToAll(std::string_view payload);

  void addPollFds(std::vector<pollfd>& fds) const;
  // Whatever has arrived, without waiting; at most `max` datagrams read. Oversized ones and
  // those from off our links are dropped.
  std::vector<ReceivedDatagram> receive(std::size_t max);

  std::size_t senderCount() const { return senders_.size(); }
  bool listening() const { return !listeners_.empty(); }

 private:
  struct Sender {
    UniqueFd fd;
    bool ipv6 = false;
    unsigned interfaceIndex = 0;
  };
  std::vector<Sender> senders_;
  std::vector<UniqueFd> listeners_;
  std::vector<LocalNetwork> networks_;
};

}  // namespace vuv::wsd
