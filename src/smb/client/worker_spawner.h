// Starts SMB workers by having a spawn server fork them (spawn_server.h): one worker process
// started the usual way, which has loaded libsmbclient once, forks every later worker in well
// under a millisecond of processor time instead of the ~50 ms a fresh start costs.
//
// The server starts with the first worker, and forked workers get the environment it got
// then (the program changes none of its own). If it cannot start, fails or stays silent for
// kSpawnReplyTimeout, it is ended and every later worker starts afresh: a fast start is a
// saving, never a condition.
//
// Thread safety: start() may be called from any number of threads; forks are made one at a
// time. Destroying the spawner ends the server (it leaves when its socket closes); workers it
// forked are ours and live on.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "smb/client/worker_process.h"

namespace vuv::smb {

inline constexpr std::chrono::milliseconds kSpawnReplyTimeout{5000};

class WorkerSpawner {
 public:
  WorkerSpawner(std::string executable, std::vector<std::string> arguments);

  // A new worker of the executable with the arguments: forked when the server works, else
  // started afresh.
  Result<std::unique_ptr<WorkerProcess>> start();

  // The server's process while it is up (for tests).
  std::optional<pid_t> serverPid() const;

 private:
  // The forked worker, or nothing when the server failed (it is then ended). Needs mutex_.
  std::unique_ptr<WorkerProcess> forkFromServer();

  const std::string executable_;
  const std::vector<std::string> arguments_;

  mutable std::mutex mutex_;
  std::unique_ptr<WorkerProcess> server_;  // protected by mutex_
  bool given_up_ = false;                  // protected by mutex_; the server failed once
};

}  // namespace vuv::smb
