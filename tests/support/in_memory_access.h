// The session's network side on the in-memory network and shares, for tests of the use cases
// and of what the front ends build on them. `announced` plays WS-Discovery: learnAddresses()
// and learnAddressOf() record its addresses; `asking` (when set) serves the share lists that
// may ask for a password, as a server that takes the person's answer. The address book's
// resolver places every name it is asked about at 192.0.2.1, so a lookup shows.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "browse/in_memory_network.h"
#include "browse/in_memory_shares.h"
#include "session/network_access.h"

namespace vuv::testing {

class InMemoryAccess final : public session::NetworkAccess {
 public:
  InMemoryNetwork network;
  InMemoryShares shares;
  BrowseService* asking = nullptr;
  std::map<std::string, std::string> announced;  // server -> address
  std::atomic<int> runs = 0;                      // startRun() calls
  std::vector<std::string> askedAgain;            // askAgain() calls
  std::function<void(std::stop_token)> learnHook;  // runs first in learnAddresses()
  Executor executorOf{8};

  BrowseService& browse() override { return network; }
  BrowseService& askingBrowse() override { return asking ? *asking : network; }
  DirectoryLister& lister() override { return shares; }
  FileReader& reader() override { return shares; }
  Executor& executor() override { return executorOf; }
  HostAddressBook& addresses() override { return book; }
  void startRun() override { ++runs; }
  void askAgain(std::string_view server) override { askedAgain.emplace_back(server); }
  Status learnAddressOf(std::string_view server, std::stop_token) override {
    if (auto it = announced.find(std::string(server)); it != announced.end()) book.set(it->first, it->second);
    return success();
  }
  Status learnAddresses(std::stop_token stop) override {
    if (learnHook) learnHook(stop);
    if (stop.stop_requested()) return makeError(ErrorCode::Cancelled, "WS-Discovery");
    for (const auto& [name, address] : announced) book.set(name, address);
    return success();
  }

  struct : NameResolver {
    std::map<std::string, ResolvedName> resolve(const std::vector<std::string>& names, std::stop_token) override {
      std::map<std::string, ResolvedName> placed;
      for (const std::string& name : names) placed[name] = {"192.0.2.1"};
      return placed;
    }
  } resolver;
  HostAddressBook book{&resolver};
};

}  // namespace vuv::testing
