// Shared by the pool and adapter tests: a pool of fake workers (fake_worker.cpp) and a way to
// run one of the fake's commands.
#pragma once

#include <signal.h>

#include <cerrno>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "smb/client/worker_pool.h"

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
  std::size_t batches = 0;
};

// Runs the fake's `command` (see fake_worker.cpp) as a folder listing.
inline Ran runFake(WorkerPool& pool, const std::string& command, std::stop_token stop = {}) {
  std::vector<std::string> names;
  std::size_t batches = 0;
  ReplyHandlers handlers;
  handlers.onEntries = [&](std::vector<protocol::Entry>& batch) {
    ++batches;
    for (auto& e : batch) names.push_back(e.name);
    return true;
  };
  auto outcome = pool.run(protocol::Operation::ListDirectory, "smb://fake/" + command, handlers, std::move(stop));
  return Ran{std::move(outcome), std::move(names), batches};
}

// The pid a "pid" or "hold:MS" command reported.
inline pid_t pidOf(const Ran& ran) {
  return ran.outcome.ok() && ran.names.size() == 1 ? std::stoi(ran.names[0]) : -1;
}

// Stops `stop` a moment later, from another thread; joins when it goes out of scope.
inline std::jthread stopSoon(std::stop_source& stop) {
  return std::jthread([&stop] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop.request_stop();
  });
}

// True once `pid` is neither running nor a zombie: killed and reaped.
inline bool isGone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

}  // namespace vuv::smb::testing
