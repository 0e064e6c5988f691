// Shared by the SMB client tests: a pool of fake workers (fake_worker.cpp) and a way to run one
// of the fake's commands.
#pragma once

#include <signal.h>

#include <cerrno>
#include <functional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "list_prompt.h"
#include "smb/client/worker_pool.h"
#include "support/gate.h"

namespace vuv::smb::testing {

inline WorkerPoolOptions fakeOptions(std::chrono::milliseconds timeout = std::chrono::seconds(2),
                                     std::size_t maxWorkers = 4) {
  WorkerPoolOptions options;
  options.workerPath = VUV_FAKE_WORKER_PATH;
  options.progressTimeout = timeout;
  options.maxWorkers = maxWorkers;
  return options;
}

struct Ran {
  Result<RequestOutcome> outcome;
  std::vector<std::string> names;
};

// Runs the fake's `command` (see fake_worker.cpp) as a folder listing; `onBatch` sees each
// batch as it arrives.
inline Ran runFake(WorkerPool& pool, const std::string& command, std::stop_token stop = {},
                   const std::function<void()>& onBatch = {}) {
  std::vector<std::string> names;
  ReplyHandlers handlers;
  handlers.onEntries = [&](std::vector<protocol::Entry>& batch) {
    for (auto& e : batch) names.push_back(e.name);
    if (onBatch) onBatch();
    return true;
  };
  auto outcome = pool.run(protocol::Operation::ListDirectory, "smb://fake/" + command, handlers, std::move(stop));
  return Ran{std::move(outcome), std::move(names)};
}

// Runs "hang" (one batch, then silence) and stops it from another thread once that batch has
// arrived, so the stop finds the request in the worker's hands.
inline Ran runHungAndStop(WorkerPool& pool) {
  std::stop_source stop;
  vuv::testing::Gate answered;
  const std::jthread stopper([&](std::stop_token self) {
    answered.wait(self);
    stop.request_stop();
  });
  return runFake(pool, "hang", stop.get_token(), [&] { answered.open(); });
}

// The pid a "pid" or "hold:MS" command reported.
inline pid_t pidOf(const Ran& ran) {
  return ran.outcome.ok() && ran.names.size() == 1 ? std::stoi(ran.names[0]) : -1;
}

// True once `pid` is neither running nor a zombie: killed and reaped.
inline bool isGone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

}  // namespace vuv::smb::testing
