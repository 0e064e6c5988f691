// An in-memory network behind the browse service interface, for tests and demos without
// servers. Describe domains, servers and shares, or script a reply (failure, more data) for
// any listing; an optional hook runs before each call so tests can block or count calls, and
// an optional delay per call simulates a slow network. The delay ends early when the call's
// stop token is requested, and a call stopped by the time it would answer fails with
// ECANCELED; a hook that blocks must watch the token it is given.
//
// Thread safety: all members may be called from any thread.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "browse/browse_service.h"

namespace vuv {

class InMemoryNetwork final : public BrowseService {
 public:
  // What a call is about: "domains", "servers" or "shares", and the domain or server name.
  using CallHook = std::function<void(const std::string& what, const std::string& name, std::stop_token stop)>;

  void addDomain(const std::string& domain);
  void addServer(const std::string& domain, const std::string& server,
                 std::vector<std::string> shares = {});

  // Replace what a listing answers. Scripted replies win over the described network.
  void scriptDomains(BrowseReply reply);
  void scriptServers(const std::string& domain, BrowseReply reply);
  void failShares(const std::string& server, int failureCode);
  // Hand out the shares of `server` `batchSize` at a time with MoreData between batches.
  void batchShares(const std::string& server, std::size_t batchSize);

  void setCallHook(CallHook hook);
  void setCallDelay(std::chrono::microseconds delay);

  BrowseReply listDomains(std::stop_token stop) override;
  BrowseReply listServers(std::string_view domain, std::stop_token stop) override;
  BrowseReply listShares(std::string_view server, std::uint32_t& resume,
                         std::stop_token stop) override;

 private:
  struct Server {
    std::vector<std::string> shares;
    int failureCode = 0;
    std::size_t batchSize = 0;  // 0: all at once
  };
  // False when the call was stopped meanwhile.
  bool callHook(const std::string& what, const std::string& name, std::stop_token stop);

  std::mutex mutex_;
  std::vector<std::string> domainOrder_;
  std::map<std::string, std::vector<std::string>> serversOf_;
  std::map<std::string, Server> servers_;
  std::optional<BrowseReply> scriptedDomains_;
  std::map<std::string, BrowseReply> scriptedServers_;
  CallHook hook_;
  std::chrono::microseconds delay_{0};
};

}  // namespace vuv
