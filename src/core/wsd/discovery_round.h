// One WS-Discovery round as a state machine without sockets or clocks of its own: the
// transport feeds it datagrams, fetch results and the time, and asks it what to send, what to
// fetch and when to wake up. All decisions live here, so they are tested without a network.
//
// The round: a multicast Probe for devices, sent again after a random 50-250 ms and after twice
// that (UDP may lose it); answers (ProbeMatches) and announcements (Hello, Bye) collected until
// the probe window ends; an endpoint without transport addresses is resolved with a multicast
// Resolve (sent twice); each computer's metadata is fetched with an HTTP Get, a bounded number
// at once. Devices whose Types name something other than a computer are ignored. The round
// ends when the probe window has passed and nothing is pending; once the wanted host is known,
// when nothing is pending or a short grace has passed (another host claiming its name must be
// heard, so that neither is believed); or at the hard limit (window + resolve time + fetch
// time), whatever is pending then failing.
//
// Thread safety: none; one transport thread drives a round.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "browse/host_discovery.h"
#include "wsd/http_exchange.h"
#include "wsd/wsd_messages.h"

namespace vuv::wsd {

using Clock = std::chrono::steady_clock;

struct RoundOptions {
  std::chrono::milliseconds probeWindow{2000};     // how long answers to the probe are taken
  std::chrono::milliseconds resolveTimeout{1000};  // per endpoint, from its first Resolve
  std::chrono::milliseconds fetchTimeout{2000};    // per metadata request (the transport enforces it)
  int probeRepeats = 2;                            // probes sent after the first
  std::size_t maxDevices = 64;                     // endpoints taken per round
  std::size_t maxDevicesPerSender = 4;             // so that one sender cannot fill the round
  std::size_t maxConcurrentFetches = 8;
  std::size_t maxResponseBytes = 256 * 1024;       // metadata body
  std::string wantedName;                          // end once this computer is known (ignoring case)
  std::chrono::milliseconds wantedGrace{500};      // then wait at most this for the others heard
  std::uint32_t seed = 0;                          // for the repeat delays; 0: std::random_device
};

struct FetchRequest {
  std::size_t id = 0;  // hand back to onFetched
  HttpUrl url;
  std::string request;  // the whole HTTP request
  std::string sender;   // where the announcement came from, as onDatagram() had it
};

// A computer as the round found it.
struct FoundHost {
  std::string endpoint;
  std::string name;      // empty when its metadata could not be had
  std::string group;     // empty when unknown
  bool isDomain = false;
  std::string address;   // IPv4 from its metadata address or the datagram's sender; may be empty
  std::string failure;   // why there is no name
};

class DiscoveryRound {
 public:
  DiscoveryRound(RoundOptions options, Clock::time_point start);

  // Multicast messages due by `now`: probes, resolves and their repeats.
  std::vector<std::string> takeMulticasts(Clock::time_point now);
  // Metadata requests to start now, keeping at most maxConcurrentFetches in flight.
  std::vector<FetchRequest> takeFetches(Clock::time_point now);

  // A datagram from `sender`: an IPv4 address, an IPv6 one (link-local with "%" and its scope
  // id), or empty when unknown. Metadata is fetched only from the sender's address or from an
  // IPv6 link-local one. A device is the first sender's: a Bye (and the restart after it) from
  // another sender is ignored. Anything unparsable, unrelated or beyond the limits is dropped
  // and counted.
  void onDatagram(std::string_view payload, std::string_view sender, Clock::time_point now);
  // The body of a metadata response, or why there is none.
  void onFetched(std::size_t id, const Result<std::string>& body, Clock::time_point now);

  // The latest time the transport must call again (a repeat, a timeout, the end).
  Clock::time_point wakeAt(Clock::time_point now) const;
  bool finished(Clock::time_point now) const;

  std::vector<FoundHost> hosts() const;
  std::size_t droppedMessages() const { return dropped_; }
  const std::string& probeId() const { return probeId_; }

 private:
  enum class State { NeedResolve, Resolving, ReadyToFetch, Fetching, Done, Gone };
  struct Device {
    std::string endpoint;
    std::string sender;
    bool typesGiven = false;
    bool computer = false;
    bool answeredProbe = false;
    std::vector<std::string> xaddrs;
    State state = State::NeedResolve;
    std::string resolveId;
    std::string resolveMessage;
    std::vector<Clock::time_point> resolveSends;  // still due
    Clock::time_point resolveDeadline{};
    std::optional<HttpUrl> url;
    std::string getId;
    // Its metadata request is out, whatever became of the device since (a Bye, a restart):
    // counted in inFlight_ until it ends, and no other request for it meanwhile.
    bool requestOut = false;
    bool metadataComputer = false;
    std::string name, group, failure;
    bool isDomain = false;
  };

  void expire(Clock::time_point now);
  void take(const EndpointInfo& info, std::string_view sender, bool probeAnswer);
  void chooseUrl(Device& device);
  std::chrono::milliseconds repeatDelay();
  bool included(const Device& device) const;
  bool pending(Clock::time_point now) const;

  RoundOptions options_;
  std::mt19937 random_;
  Clock::time_point start_;
  Clock::time_point probeEnd_;
  Clock::time_point hardEnd_;
  std::string probeId_;
  std::string probe_;
  std::vector<Clock::time_point> probeSends_;  // still due
  std::vector<Device> devices_;
  std::size_t inFlight_ = 0;
  std::size_t dropped_ = 0;
  std::optional<Clock::time_point> wantedUntil_;  // the end of the grace once the wanted host is known
};

// The hosts to show: a host without a name takes `nameOf(address)` (a reverse lookup; empty
// when there is none) or else its address; a host without a group goes to "WORKGROUP". Hosts
// with neither name nor address are dropped. Hosts of the same name (ignoring case) are one
// when their addresses are equal or one has none; otherwise each stays, for the address book
// to refuse (HostAddressBook::admitAnnounced).
std::vector<DiscoveredHost> toDiscoveredHosts(const std::vector<FoundHost>& found,
                                              const std::function<std::string(const std::string&)>& nameOf);

}  // namespace vuv::wsd
