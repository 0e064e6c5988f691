#include "smb/client/worker_spawner.h"

#include <poll.h>

#include <cerrno>
#include <cstdint>
#include <utility>

#include "smb/spawn/spawn_protocol.h"

namespace vuv::smb {

WorkerSpawner::WorkerSpawner(std::string executable, std::vector<std::string> arguments)
    : executable_(std::move(executable)), arguments_(std::move(arguments)) {}

Result<std::unique_ptr<WorkerProcess>> WorkerSpawner::start() {
  {
    std::lock_guard lock(mutex_);
    if (!given_up_ && !server_) {
      std::vector<std::string> serverArguments{std::string(kSpawnServerFlag)};
      serverArguments.insert(serverArguments.end(), arguments_.begin(), arguments_.end());
      auto server = WorkerProcess::start(executable_, serverArguments);
      if (server) {
        server_ = std::move(*server);
      } else {
        given_up_ = true;
      }
    }
    if (server_) {
      if (auto forked = forkFromServer()) return forked;
    }
  }
  return WorkerProcess::start(executable_, arguments_);
}

std::unique_ptr<WorkerProcess> WorkerSpawner::forkFromServer() {
  auto pair = WorkerProcess::makeSocketPair();
  if (!pair) return nullptr;
  std::int32_t reply = 0;
  pollfd answered{server_->socket(), POLLIN, 0};
  int ready = 0;
  if (sendSpawnRequest(server_->socket(), pair->theirs.get())) {
    do {
      ready = ::poll(&answered, 1, static_cast<int>(kSpawnReplyTimeout.count()));
    } while (ready < 0 && errno == EINTR);
  }
  if (ready == 1 && receiveSpawnReply(server_->socket(), reply) && reply > 0) {
    return WorkerProcess::adopt(reply, std::move(pair->ours));
  }
  // Gone, confused or hung: end it (our child; reaped here) and start workers afresh.
  server_->kill();
  server_.reset();
  given_up_ = true;
  return nullptr;
}

std::optional<pid_t> WorkerSpawner::serverPid() const {
  std::lock_guard lock(mutex_);
  if (!server_) return std::nullopt;
  return server_->pid();
}

}  // namespace vuv::smb
