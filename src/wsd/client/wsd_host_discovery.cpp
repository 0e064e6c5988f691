#include "wsd/client/wsd_host_discovery.h"

#include <poll.h>

#include <cerrno>

#include "wsd/client/metadata_fetcher.h"
#include "wsd/client/multicast_sockets.h"
#include "wsd/client/name_lookup.h"
#include "wsd/client/stop_waker.h"

namespace vuv::wsd {

namespace {

// Datagrams taken per wake-up: a flood must not starve the rest of the loop.
constexpr std::size_t kDatagramsPerPass = 256;
// How often a loop without an eventfd looks at its stop token.
constexpr std::chrono::milliseconds kStopCheck{50};

int pollTimeoutMs(Clock::time_point now, Clock::time_point until) {
  if (until <= now) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
  return static_cast<int>(std::min<std::int64_t>(ms, 60'000));
}

}  // namespace

Result<std::vector<DiscoveredHost>> WsdHostDiscovery::discover(std::stop_token stop) {
  return run(options_.round, stop);
}

Result<std::vector<DiscoveredHost>> WsdHostDiscovery::discoverHost(std::string_view name,
                                                                    std::stop_token stop) {
  RoundOptions round = options_.round;
  round.wantedName = std::string(name);
  return run(std::move(round), stop);
}

Result<std::vector<DiscoveredHost>> WsdHostDiscovery::run(RoundOptions roundOptions,
                                                          std::stop_token stop) {
  const StopWaker waker(stop);
  if (waker.stopped()) return makeError(ErrorCode::Cancelled, "WS-Discovery");
  auto sockets = MulticastSockets::open(options_.ipv6, options_.listenForAnnouncements);
  if (!sockets) return sockets.error();

  const std::chrono::milliseconds fetchTimeout = roundOptions.fetchTimeout;
  const std::size_t maxBody = roundOptions.maxResponseBytes;
  Clock::time_point now = Clock::now();
  DiscoveryRound round(std::move(roundOptions), now);
  MetadataFetcher fetcher(fetchTimeout, maxBody);
  bool probed = false;

  while (!round.finished(now)) {
    if (waker.stopped()) return makeError(ErrorCode::Cancelled, "WS-Discovery");
    for (const std::string& message : round.takeMulticasts(now)) {
      const std::size_t sent = sockets->sendToAll(message);
      if (!probed && sent == 0) {
        return makeError(ErrorCode::Unreachable, "the WS-Discovery probe could not be sent", errno);
      }
      probed = true;
    }
    for (const FetchRequest& request : round.takeFetches(now)) fetcher.start(request, now);

    std::vector<pollfd> fds;
    sockets->addPollFds(fds);
    const std::size_t firstFetch = fds.size();
    fetcher.addPollFds(fds);
    if (waker.fd() >= 0) fds.push_back(pollfd{waker.fd(), POLLIN, 0});
    Clock::time_point wake = std::min(round.wakeAt(now), fetcher.nextDeadline());
    if (waker.fd() < 0) wake = std::min(wake, now + kStopCheck);
    if (::poll(fds.data(), fds.size(), pollTimeoutMs(now, wake)) < 0 && errno != EINTR) {
      return makeError(ErrorCode::Other, "waiting for WS-Discovery answers", errno);
    }
    now = Clock::now();
    for (const ReceivedDatagram& datagram : sockets->receive(kDatagramsPerPass)) {
      round.onDatagram(datagram.payload, datagram.sender, now);
    }
    for (const FetchResult& result : fetcher.service(fds, firstFetch, now)) {
      round.onFetched(result.id, result.body, now);
    }
  }
  // Requests still open are dropped with the fetcher: the round has given up on them.

  const std::vector<FoundHost> found = round.hosts();
  std::vector<std::string> nameless;
  for (const FoundHost& host : found) {
    if (host.name.empty() && !host.address.empty()) nameless.push_back(host.address);
  }
  const auto names = nameless.empty() ? std::map<std::string, std::string>{}
                                      : reverseLookup(nameless, options_.reverseLookupTimeout, stop);
  if (waker.stopped()) return makeError(ErrorCode::Cancelled, "WS-Discovery");
  return toDiscoveredHosts(found, [&](const std::string& address) {
    auto it = names.find(address);
    return it == names.end() ? std::string() : it->second;
  });
}

}  // namespace vuv::wsd
