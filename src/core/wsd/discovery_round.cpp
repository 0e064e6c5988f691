#include "wsd/discovery_round.h"

#include <algorithm>
#include <cctype>

#include "base/casefold.h"
#include "wsd/wsd_messages.h"

namespace vuv::wsd {

namespace {

// SOAP-over-UDP's retransmission delays: the first between 50 and 250 ms, then doubling.
constexpr int kMinRepeatMs = 50;
constexpr int kMaxRepeatMs = 250;

void popDue(std::vector<Clock::time_point>& times, Clock::time_point now, const std::string& message,
            std::vector<std::string>& out) {
  while (!times.empty() && times.front() <= now) {
    out.push_back(message);
    times.erase(times.begin());
  }
}

}  // namespace

DiscoveryRound::DiscoveryRound(RoundOptions options, Clock::time_point start)
    : options_(std::move(options)),
      random_(options_.seed != 0 ? options_.seed : std::random_device{}()),
      start_(start),
      probeEnd_(start + options_.probeWindow),
      hardEnd_(start + options_.probeWindow + options_.resolveTimeout + options_.fetchTimeout),
      probeId_(newMessageId()),
      probe_(probeMessage(probeId_)) {
  Clock::time_point at = start;
  probeSends_.push_back(at);
  std::chrono::milliseconds delay = repeatDelay();
  for (int i = 0; i < options_.probeRepeats; ++i) {
    at += delay;
    if (at >= probeEnd_) break;
    probeSends_.push_back(at);
    delay *= 2;
  }
}

std::chrono::milliseconds DiscoveryRound::repeatDelay() {
  return std::chrono::milliseconds(std::uniform_int_distribution<int>(kMinRepeatMs, kMaxRepeatMs)(random_));
}

void DiscoveryRound::expire(Clock::time_point now) {
  const bool outOfTime = now >= hardEnd_;
  for (Device& d : devices_) {
    if (d.state == State::Resolving && now >= d.resolveDeadline) {
      d.state = State::Done;
      d.failure = "no answer to Resolve";
    } else if (outOfTime && (d.state == State::NeedResolve || d.state == State::Resolving ||
                             d.state == State::ReadyToFetch || d.state == State::Fetching)) {
      d.state = State::Done;
      d.failure = "out of time";
    }
  }
  if (outOfTime) {
    for (Device& d : devices_) d.requestOut = false;
    inFlight_ = 0;
  }
}

std::vector<std::string> DiscoveryRound::takeMulticasts(Clock::time_point now) {
  expire(now);
  std::vector<std::string> out;
  if (finished(now)) return out;
  popDue(probeSends_, now, probe_, out);
  for (Device& d : devices_) {
    if (d.state == State::NeedResolve) {
      d.resolveId = newMessageId();
      d.resolveMessage = resolveMessage(d.resolveId, d.endpoint);
      d.resolveSends = {now, now + repeatDelay()};
      d.resolveDeadline = now + options_.resolveTimeout;
      d.state = State::Resolving;
    }
    if (d.state == State::Resolving) popDue(d.resolveSends, now, d.resolveMessage, out);
  }
  return out;
}

std::vector<FetchRequest> DiscoveryRound::takeFetches(Clock::time_point now) {
  expire(now);
  std::vector<FetchRequest> out;
  if (finished(now)) return out;
  for (std::size_t i = 0; i < devices_.size() && inFlight_ < options_.maxConcurrentFetches; ++i) {
    Device& d = devices_[i];
    if (d.state != State::ReadyToFetch || d.requestOut) continue;
    d.getId = newMessageId();
    out.push_back(FetchRequest{i, *d.url, httpPostRequest(*d.url, getMessage(d.getId, d.endpoint)), d.sender});
    d.state = State::Fetching;
    d.requestOut = true;
    ++inFlight_;
  }
  return out;
}

namespace {

// fe80::/10 written out: its first group is fe80 to febf.
bool isLinkLocalIpv6(std::string_view host) {
  const std::string folded = foldCaseUtf8(host.substr(0, 5));
  return folded.size() == 5 && folded.starts_with("fe") && std::string_view("89ab").find(folded[2]) != std::string_view::npos &&
         std::isxdigit(static_cast<unsigned char>(folded[3])) != 0 && folded[4] == ':';
}

}  // namespace

// Metadata comes only from the address the announcement came from, or from an IPv6 link-local
// address (a peer on the same link): an XAddr may name any address, and our POST would reach
// whatever listens there. The fetcher checks the socket address again (metadata_fetcher.h).
void DiscoveryRound::chooseUrl(Device& d) {
  const std::string_view sender = std::string_view(d.sender).substr(0, d.sender.find('%'));
  std::optional<HttpUrl> sameAsSender;
  std::optional<HttpUrl> linkLocal;
  for (const std::string& xaddr : d.xaddrs) {
    auto url = parseHttpUrl(xaddr);
    if (!url) continue;
    const bool fromSender = foldCaseUtf8(url->host) == foldCaseUtf8(sender);
    if (url->ipv6) {
      if (fromSender && !sameAsSender) sameAsSender = *url;
      if (isLinkLocalIpv6(url->host) && !linkLocal) linkLocal = *url;
      continue;
    }
    if (fromSender && isUsableDeviceAddress(*parseIpv4(url->host)) && !sameAsSender) sameAsSender = *url;
  }
  d.url = sameAsSender ? sameAsSender : linkLocal;
}

void DiscoveryRound::take(const EndpointInfo& info, std::string_view sender, bool probeAnswer) {
  auto it = std::find_if(devices_.begin(), devices_.end(),
                         [&](const Device& d) { return d.endpoint == info.endpoint; });
  if (info.typesGiven && !info.computer) {
    // A printer or another device: not ours. One that said otherwise before is dropped too.
    if (it != devices_.end()) {
      it->typesGiven = true;
      it->computer = false;
    }
    return;
  }
  if (it == devices_.end()) {
    const auto held = std::count_if(devices_.begin(), devices_.end(), [&](const Device& d) { return d.sender == sender; });
    if (devices_.size() >= options_.maxDevices || static_cast<std::size_t>(held) >= options_.maxDevicesPerSender) {
      ++dropped_;
      return;
    }
    devices_.push_back(Device{});
    it = devices_.end() - 1;
    it->endpoint = info.endpoint;
  } else if (it->state == State::Gone) {
    // A Hello after a Bye is a restart; a late repeat of an earlier match is not, nor a Hello
    // from another sender.
    if (probeAnswer || it->sender != sender) return;
    const bool requestOut = it->requestOut;
    *it = Device{};
    it->endpoint = info.endpoint;
    it->requestOut = requestOut;
  }
  Device& d = *it;
  if (info.typesGiven) {
    d.typesGiven = true;
    d.computer = info.computer;
  }
  d.answeredProbe = d.answeredProbe || probeAnswer;
  if (d.sender.empty()) d.sender = std::string(sender);
  if (d.xaddrs.empty()) d.xaddrs = info.xaddrs;
  if ((d.state == State::NeedResolve || d.state == State::Resolving) && !d.xaddrs.empty()) {
    chooseUrl(d);
    if (d.url) {
      d.state = State::ReadyToFetch;
    } else {
      d.state = State::Done;
      d.failure = "no usable metadata address";
    }
  }
}

void DiscoveryRound::onDatagram(std::string_view payload, std::string_view sender, Clock::time_point now) {
  expire(now);
  auto message = parseMessage(payload);
  if (!message) {
    ++dropped_;
    return;
  }
  switch (message->kind) {
    case MessageKind::ProbeMatches:
      if (message->relatesTo != probeId_) {
        ++dropped_;
        return;
      }
      for (const EndpointInfo& info : message->endpoints) take(info, sender, true);
      return;
    case MessageKind::ResolveMatches: {
      auto it = std::find_if(devices_.begin(), devices_.end(), [&](const Device& d) {
        return d.state == State::Resolving && !message->relatesTo.empty() && d.resolveId == message->relatesTo;
      });
      if (it == devices_.end()) {
        ++dropped_;
        return;
      }
      for (const EndpointInfo& info : message->endpoints) {
        if (info.endpoint == it->endpoint) take(info, sender, false);
      }
      return;
    }
    case MessageKind::Hello:
      for (const EndpointInfo& info : message->endpoints) take(info, sender, false);
      return;
    case MessageKind::Bye:
      for (const EndpointInfo& info : message->endpoints) {
        for (Device& d : devices_) {
          if (d.endpoint != info.endpoint || d.state == State::Gone || d.sender != sender) continue;
          d.state = State::Gone;  // a request of its still out counts until it ends
        }
      }
      return;
    default:
      return;  // probes and resolves of others, our own looped back
  }
}

void DiscoveryRound::onFetched(std::size_t id, const Result<std::string>& body, Clock::time_point now) {
  expire(now);
  if (id >= devices_.size() || !devices_[id].requestOut) return;
  Device& d = devices_[id];
  d.requestOut = false;
  --inFlight_;
  if (d.state != State::Fetching) return;  // gone or restarted since: the answer is of no use
  d.state = State::Done;
  if (!body) {
    d.failure = describe(body.error());
    return;
  }
  auto metadata = parseMetadata(*body);
  if (!metadata) {
    if (metadata.error().code == ErrorCode::NotFound) {
      d.typesGiven = true;  // it told us what it is: no computer
      d.computer = false;
    }
    d.failure = describe(metadata.error());
    return;
  }
  if (!metadata->relatesTo.empty() && metadata->relatesTo != d.getId) {
    d.failure = "metadata answer to another request";
    return;
  }
  d.metadataComputer = true;
  d.name = metadata->computer.name;
  d.group = metadata->computer.group;
  d.isDomain = metadata->computer.isDomain;
  if (!wantedUntil_ && !options_.wantedName.empty() && compareIgnoringCase(d.name, options_.wantedName) == 0) {
    wantedUntil_ = now + options_.wantedGrace;
  }
}

Clock::time_point DiscoveryRound::wakeAt(Clock::time_point now) const {
  Clock::time_point at = hardEnd_;
  auto consider = [&](Clock::time_point t) {
    if (t > now && t < at) at = t;
  };
  if (!probeSends_.empty()) consider(probeSends_.front());
  consider(probeEnd_);
  if (wantedUntil_) consider(*wantedUntil_);
  for (const Device& d : devices_) {
    if (d.state != State::Resolving) continue;
    if (!d.resolveSends.empty()) consider(d.resolveSends.front());
    consider(d.resolveDeadline);
  }
  return at;
}

bool DiscoveryRound::pending(Clock::time_point now) const {
  return std::any_of(devices_.begin(), devices_.end(), [&](const Device& d) {
    if (d.state == State::Resolving) return d.resolveDeadline > now;
    return d.state == State::NeedResolve || d.state == State::ReadyToFetch || d.state == State::Fetching;
  });
}

bool DiscoveryRound::finished(Clock::time_point now) const {
  if (now >= hardEnd_) return true;
  if (wantedUntil_) return now >= *wantedUntil_ || !pending(now);
  return now >= probeEnd_ && !pending(now);
}

bool DiscoveryRound::included(const Device& d) const {
  if (d.state == State::Gone) return false;
  if (d.metadataComputer) return true;
  return d.typesGiven ? d.computer : d.answeredProbe;
}

std::vector<FoundHost> DiscoveryRound::hosts() const {
  std::vector<FoundHost> out;
  for (const Device& d : devices_) {
    if (!included(d)) continue;
    FoundHost host{d.endpoint, d.name, d.group, d.isDomain, parseIpv4(d.sender) ? d.sender : "", d.failure};
    if (d.url && !d.url->ipv6) host.address = d.url->host;
    // The round may have ended (window, wanted host) before anyone called expire().
    if (d.state == State::NeedResolve || d.state == State::Resolving) host.failure = "no answer to Resolve";
    if (d.state == State::ReadyToFetch || d.state == State::Fetching) host.failure = "out of time";
    out.push_back(std::move(host));
  }
  return out;
}

std::vector<DiscoveredHost> toDiscoveredHosts(const std::vector<FoundHost>& found,
                                              const std::function<std::string(const std::string&)>& nameOf) {
  std::vector<DiscoveredHost> out;
  for (const FoundHost& f : found) {
    DiscoveredHost host{f.name, f.group, f.isDomain, f.address};
    if (host.name.empty()) {
      if (host.address.empty()) continue;
      const std::string reverse = nameOf ? nameOf(host.address) : std::string();
      // A reverse name is as untrusted as anything else from the network.
      auto usable = parseComputer(reverse);
      host.name = usable && usable->group.empty() && !reverse.empty() ? usable->name : host.address;
    }
    if (host.group.empty()) {
      host.group = std::string(kDefaultWorkgroup);
      host.isDomain = false;
    }
    // Two addresses for one name both go on: the address book refuses a name claimed twice.
    auto same = std::find_if(out.begin(), out.end(), [&](const DiscoveredHost& h) {
      return compareIgnoringCase(h.name, host.name) == 0 &&
             (h.address == host.address || h.address.empty() || host.address.empty());
    });
    if (same == out.end()) {
      out.push_back(std::move(host));
    } else if (same->address.empty()) {
      same->address = host.address;
    }
  }
  return out;
}

}  // namespace vuv::wsd
