#include "browse/host_address_book.h"

#include <algorithm>
#include <cerrno>

#include "base/casefold.h"
#include "base/ipv4.h"

namespace vuv {

bool HostAddressBook::set(std::string_view name, std::string_view address) {
  if (name.empty() || !parseIpv4(address)) return false;
  const std::string key = foldCaseUtf8(name);
  std::lock_guard lock(mutex_);
  auto [it, added] = entries_.try_emplace(key, Entry{std::string(address), true, false});
  if (!added && !it->second.announced) return false;
  it->second.address = std::string(address);
  unknown_.erase(key);
  claimedTwice_.erase(key);
  return true;
}

std::optional<std::string> HostAddressBook::lookup(std::string_view name) const {
  const std::string key = foldCaseUtf8(name);
  std::lock_guard lock(mutex_);
  if (auto it = entries_.find(key); it != entries_.end()) return it->second.address;
  return std::nullopt;
}

std::optional<std::string> HostAddressBook::knownHostFor(std::string_view server) const {
  std::lock_guard lock(mutex_);
  return recordedHost(server);
}

std::optional<std::string> HostAddressBook::recordedHost(std::string_view server) const {
  const auto it = entries_.find(foldCaseUtf8(server));
  if (it == entries_.end()) return std::nullopt;
  return keepDnsNames_ && it->second.byNameService ? std::string(server) : it->second.address;
}

void HostAddressBook::record(const std::string& name, const ResolvedName& found) {
  if (!parseIpv4(found.address)) return;
  const std::string key = foldCaseUtf8(name);
  std::lock_guard lock(mutex_);
  entries_[key] = Entry{found.address, false, found.byNameService};
  unknown_.erase(key);
}

Result<std::string> HostAddressBook::hostFor(std::string_view server, std::stop_token stop) {
  if (server.empty() || parseIpv4(server)) return std::string(server);
  const std::string key = foldCaseUtf8(server);
  auto known = [&]() -> std::optional<Result<std::string>> {
    std::lock_guard lock(mutex_);
    if (std::optional<std::string> host = recordedHost(server)) return *host;
    if (unknown_.contains(key)) {
      return makeError(ErrorCode::UnknownHost, std::string(server), claimedTwice_.contains(key) ? ENOTUNIQ : 0);
    }
    return std::nullopt;
  };
  if (auto answer = known()) return *answer;
  if (resolver_ == nullptr) return std::string(server);  // the worker's library looks it up

  const std::string name(server);
  const auto found = resolver_->resolve({name}, stop);
  if (stop.stop_requested()) return makeError(ErrorCode::Cancelled, "looking up " + name);
  if (auto it = found.find(name); it != found.end()) {
    record(name, it->second);
  } else {
    std::lock_guard lock(mutex_);
    if (!entries_.contains(key)) unknown_.insert(key);
  }
  return known().value_or(makeError(ErrorCode::UnknownHost, name));
}

std::vector<std::string> HostAddressBook::admitAnnounced(std::vector<DiscoveredHost>& hosts,
                                                         std::stop_token stop) {
  std::vector<std::string> notes;
  // Every address each named host was announced at, by folded name.
  std::map<std::string, std::set<std::string>> claims;
  std::vector<std::string> names;
  for (const DiscoveredHost& host : hosts) {
    if (host.address.empty() || host.name == host.address) continue;
    auto& addresses = claims[foldCaseUtf8(host.name)];
    if (addresses.empty()) names.push_back(host.name);
    addresses.insert(host.address);
  }
  {
    // What the resolver could not place this run it is not asked again.
    std::lock_guard lock(mutex_);
    std::erase_if(names, [&](const std::string& name) { return unknown_.contains(foldCaseUtf8(name)); });
  }
  std::map<std::string, ResolvedName> placed;
  if (resolver_ != nullptr && !names.empty()) {
    for (auto& [name, where] : resolver_->resolve(names, stop)) placed[foldCaseUtf8(name)] = where;
  }
  // Names placed earlier count as placed.
  for (const auto& [key, addresses] : claims) {
    std::lock_guard lock(mutex_);
    if (auto it = entries_.find(key); it != entries_.end() && !it->second.announced && !placed.contains(key)) {
      placed[key] = ResolvedName{it->second.address, it->second.byNameService};
    }
  }
  auto refused = [&](const DiscoveredHost& host) {
    if (host.address.empty() || host.name == host.address) return false;
    const std::string key = foldCaseUtf8(host.name);
    const std::set<std::string>& addresses = claims[key];
    if (addresses.size() > 1) {
      {
        std::lock_guard lock(mutex_);
        claimedTwice_.insert(key);
      }
      notes.push_back("WS-Discovery: " + host.name + " is announced from " + host.address +
                      " and from another address; left out");
      return true;
    }
    if (auto it = placed.find(key); it != placed.end() && it->second.address != host.address) {
      notes.push_back("WS-Discovery: " + host.address + " announces itself as " + host.name +
                      ", which is at " + it->second.address + "; left out");
      return true;
    }
    return false;
  };
  std::erase_if(hosts, refused);
  for (const auto& [key, where] : placed) record(key, where);
  for (const DiscoveredHost& host : hosts) {
    if (!placed.contains(foldCaseUtf8(host.name)) && !host.address.empty()) set(host.name, host.address);
  }
  return notes;
}

void HostAddressBook::forgetUnknown() {
  std::lock_guard lock(mutex_);
  unknown_.clear();
}

void HostAddressBook::clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
  unknown_.clear();
  claimedTwice_.clear();
}

std::size_t HostAddressBook::size() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

}  // namespace vuv
