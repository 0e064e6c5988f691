// Host discovery by WS-Discovery: runs DiscoveryRound (src/core/wsd) over real sockets. One
// round: probes on every suitable interface, answers and announcements for the probe window,
// Resolve where a device gave no address, metadata over HTTP a few at a time, then a reverse
// lookup for each computer that answered the probe but not its metadata request.
//
// Time: the probe window (default 2 s) plus, at the most, the Resolve and metadata time limits
// and the reverse lookups' limit; a typical round takes the window and a few milliseconds.
//
// Stop: a requested stop wakes the round's poll at once (an eventfd) and the call returns
// Cancelled, its sockets closed; nothing of the round runs on.
//
// Thread safety: discover() and discoverHost() may run on several threads at once; each round
// has its own sockets. Options are fixed at construction. No thread is ever started.
#pragma once

#include <chrono>
#include <string_view>

#include "browse/host_discovery.h"
#include "wsd/discovery_round.h"

namespace vuv::wsd {

struct WsdOptions {
  RoundOptions round;
  std::chrono::milliseconds reverseLookupTimeout{1000};
  bool ipv6 = true;                 // also probe over IPv6 where interfaces have it
  bool listenForAnnouncements = true;
};

class WsdHostDiscovery final : public HostDiscovery {
 public:
  explicit WsdHostDiscovery(WsdOptions options = {}) : options_(std::move(options)) {}

  Result<std::vector<DiscoveredHost>> discover(std::stop_token stop) override;
  // A round that ends as soon as the computer `name` is known (ignoring case).
  Result<std::vector<DiscoveredHost>> discoverHost(std::string_view name, std::stop_token stop = {});

 private:
  Result<std::vector<DiscoveredHost>> run(RoundOptions round, std::stop_token stop);

  WsdOptions options_;
};

}  // namespace vuv::wsd
