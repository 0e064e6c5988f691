// The one pool of threads that runs the core's background work: discovery's domain workers,
// search node workers and share walk listings all share its fixed budget of threads, so a
// search of a whole network runs on as many threads as there are SMB workers, not on one per
// share and listing.
//
// Tasks run first in, first out within their priority; every queued High task runs before
// any queued Normal one. Threads start when work arrives and an idle one is missing, up to
// the budget, and stay until the executor goes.
//
// Tasks must not block on anything but their own work: a task that waits for a task queued
// behind it can wait for ever once the budget is used up. Long tasks honour their run's stop
// token, so that a stop frees the threads promptly.
//
// Thread safety: every member may be called from any thread, tasks included, but for the
// destructor and waitUntilIdle(), which must not run on one of its threads. The destructor
// drops queued tasks and waits for the running ones; owners end their work first (TaskScope).
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <thread>
#include <vector>

#include "base/mutex.h"

namespace vuv {

class Executor {
 public:
  using Task = std::function<void()>;
  enum class Priority {
    High,    // work another task waits for (listings, a host discovery round)
    Normal,  // work that waits for others (node walks, domain workers)
  };

  explicit Executor(std::size_t budget);
  ~Executor();
  Executor(const Executor&) = delete;
  Executor& operator=(const Executor&) = delete;

  // Queues the task. False, and the task dropped, when no thread runs and none can be started.
  bool post(Task task, Priority priority = Priority::Normal) EXCLUDES(mutex_);

  // Until no task is queued or running.
  void waitUntilIdle() EXCLUDES(mutex_);
  bool idle() const EXCLUDES(mutex_);

  std::size_t budget() const { return budget_; }
  std::size_t threadsStarted() const EXCLUDES(mutex_);

 private:
  void run() EXCLUDES(mutex_);
  bool startThreadLocked() REQUIRES(mutex_);

  const std::size_t budget_;
  mutable Mutex mutex_;
  CondVar work_;     // a task was queued, or the executor is going
  CondVar changed_;  // a task ended
  std::deque<Task> high_ GUARDED_BY(mutex_);
  std::deque<Task> normal_ GUARDED_BY(mutex_);
  std::size_t idleThreads_ GUARDED_BY(mutex_) = 0;
  std::size_t running_ GUARDED_BY(mutex_) = 0;
  bool closing_ GUARDED_BY(mutex_) = false;
  std::vector<std::thread> threads_ GUARDED_BY(mutex_);
};

}  // namespace vuv
