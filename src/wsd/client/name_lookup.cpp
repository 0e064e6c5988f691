#include "wsd/client/name_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace vuv::wsd {

namespace {

// Shared with the lookup threads, which may outlive the caller's wait.
struct Lookups {
  std::mutex mutex;
  std::condition_variable changed;
  std::map<std::string, std::string> names;
  std::size_t running = 0;
};

std::string nameOf(const std::string& address) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  if (::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) return {};
  char host[NI_MAXHOST] = {};
  if (::getnameinfo(reinterpret_cast<sockaddr*>(&a), sizeof a, host, sizeof host, nullptr, 0, NI_NAMEREQD) != 0) {
    return {};
  }
  std::string name = host;
  if (!name.empty() && name.back() == '.') name.pop_back();
  return name;
}

bool hasAddress(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return false;
  ::freeaddrinfo(found);
  return true;
}

}  // namespace

std::map<std::string, std::string> reverseLookup(const std::vector<std::string>& addresses,
                                                 std::chrono::milliseconds timeout) {
  auto shared = std::make_shared<Lookups>();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (const std::string& address : addresses) {
    {
      std::lock_guard lock(shared->mutex);
      ++shared->running;
    }
    try {
      std::thread([shared, address] {
        std::string name = nameOf(address);
        std::lock_guard lock(shared->mutex);
        if (!name.empty()) shared->names[address] = std::move(name);
        --shared->running;
        shared->changed.notify_all();
      }).detach();
    } catch (const std::system_error&) {
      std::lock_guard lock(shared->mutex);
      --shared->running;  // no thread: this one stays nameless
    }
  }
  std::unique_lock lock(shared->mutex);
  shared->changed.wait_until(lock, deadline, [&] { return shared->running == 0; });
  return shared->names;
}

}  // namespace vuv::wsd

namespace vuv::wsd {

bool resolvesByName(const std::string& name, std::chrono::milliseconds timeout) {
  struct Shared {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool found = false;
  };
  auto shared = std::make_shared<Shared>();
  try {
    std::thread([shared, name] {
      const bool found = hasAddress(name);
      std::lock_guard lock(shared->mutex);
      shared->found = found;
      shared->finished = true;
      shared->done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return false;
  }
  std::unique_lock lock(shared->mutex);
  shared->done.wait_for(lock, timeout, [&] { return shared->finished; });
  return shared->found;
}

}  // namespace vuv::wsd
