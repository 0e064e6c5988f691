// The session's network side on the in-memory network and shares, for tests of the use cases
// and of what the front ends build on them. `announced` plays WS-Discovery: learnAddresses()
// and learnAddressOf() record its addresses; `asking` (when set) serves the share lists that
// may ask for a password, as a server that takes the person's answer.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <string>

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
  std::function<void(std::stop_token)> learnHook;  // runs first in learnAddresses()
  Executor executorOf{8};

  BrowseService& browse() override { return network; }
  BrowseService& askingBrowse() override { return asking ? *asking : network; }
  DirectoryLister& lister() override { return shares; }
  FileReader& reader() override { return shares; }
  Executor& executor() override { return executorOf; }
  HostAddressBook& addresses() override { return book; }
  void startRun() override { ++runs; }
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

  HostAddressBook book;
};

}  // namespace vuv::testing
