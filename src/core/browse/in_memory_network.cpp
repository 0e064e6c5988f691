#include "browse/in_memory_network.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>

namespace vuv {

namespace {
BrowseReply failure(int code) {
  BrowseReply reply;
  reply.status = BrowseStatus::Failure;
  reply.failureCode = code;
  return reply;
}
}  // namespace

void InMemoryNetwork::addDomain(const std::string& domain) {
  std::lock_guard lock(mutex_);
  if (serversOf_.emplace(domain, std::vector<std::string>{}).second) domainOrder_.push_back(domain);
}

void InMemoryNetwork::addServer(const std::string& domain, const std::string& server,
                                std::vector<std::string> shares) {
  addDomain(domain);
  std::lock_guard lock(mutex_);
  serversOf_[domain].push_back(server);
  servers_[server].shares = std::move(shares);
}

void InMemoryNetwork::scriptDomains(BrowseReply reply) {
  std::lock_guard lock(mutex_);
  scriptedDomains_ = std::move(reply);
}

void InMemoryNetwork::scriptServers(const std::string& domain, BrowseReply reply) {
  std::lock_guard lock(mutex_);
  scriptedServers_[domain] = std::move(reply);
}

void InMemoryNetwork::failShares(const std::string& server, int failureCode) {
  std::lock_guard lock(mutex_);
  servers_[server].failureCode = failureCode;
}

void InMemoryNetwork::batchShares(const std::string& server, std::size_t batchSize) {
  std::lock_guard lock(mutex_);
  servers_[server].batchSize = batchSize;
}

void InMemoryNetwork::setCallHook(CallHook hook) {
  std::lock_guard lock(mutex_);
  hook_ = std::move(hook);
}

void InMemoryNetwork::setCallDelay(std::chrono::microseconds delay) {
  std::lock_guard lock(mutex_);
  delay_ = delay;
}

bool InMemoryNetwork::callHook(const std::string& what, const std::string& name, std::stop_token stop) {
  CallHook hook;
  std::chrono::microseconds delay{0};
  {
    std::lock_guard lock(mutex_);
    hook = hook_;
    delay = delay_;
  }
  if (hook) hook(what, name, stop);  // outside the lock: a hook may block
  if (delay.count() > 0) {
    std::mutex sleepMutex;
    std::condition_variable_any never;
    std::unique_lock sleepLock(sleepMutex);
    never.wait_for(sleepLock, stop, delay, [] { return false; });
  }
  return !stop.stop_requested();
}

BrowseReply InMemoryNetwork::listDomains(std::stop_token stop) {
  if (!callHook("domains", {}, stop)) return failure(ECANCELED);
  std::lock_guard lock(mutex_);
  if (scriptedDomains_) return *scriptedDomains_;
  BrowseReply reply;
  reply.names = domainOrder_;
  return reply;
}

BrowseReply InMemoryNetwork::listServers(std::string_view domain, std::stop_token stop) {
  const std::string name(domain);
  if (!callHook("servers", name, stop)) return failure(ECANCELED);
  std::lock_guard lock(mutex_);
  if (auto it = scriptedServers_.find(name); it != scriptedServers_.end()) return it->second;
  auto it = serversOf_.find(name);
  if (it == serversOf_.end()) return failure(ENOENT);
  BrowseReply reply;
  reply.names = it->second;
  return reply;
}

BrowseReply InMemoryNetwork::listShares(std::string_view server, std::uint32_t& resume,
                                        std::stop_token stop) {
  const std::string name(server);
  if (!callHook("shares", name, stop)) return failure(ECANCELED);
  std::lock_guard lock(mutex_);
  auto it = servers_.find(name);
  if (it == servers_.end()) return failure(ENOENT);
  const Server& entry = it->second;
  if (entry.failureCode != 0) return failure(entry.failureCode);

  const std::size_t begin = std::min<std::size_t>(resume, entry.shares.size());
  const std::size_t batch = entry.batchSize == 0 ? entry.shares.size() : entry.batchSize;
  const std::size_t end = std::min(entry.shares.size(), begin + batch);
  BrowseReply reply;
  reply.names.assign(entry.shares.begin() + static_cast<std::ptrdiff_t>(begin),
                     entry.shares.begin() + static_cast<std::ptrdiff_t>(end));
  resume = static_cast<std::uint32_t>(end);
  if (end < entry.shares.size()) {
    reply.status = BrowseStatus::MoreData;
    reply.totalEntries = static_cast<std::uint32_t>(entry.shares.size());
  }
  return reply;
}

}  // namespace vuv
