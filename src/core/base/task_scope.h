// The tasks one owner (a search, a discovery, a share walk) posts to the shared executor, so
// that the owner can end them without waiting for the others': close() drops its tasks that
// have not started and waits only for those running, which end promptly once the owner's
// stop token is requested.
//
// A dropped task is destroyed unrun, possibly later and on an executor thread: what it holds
// must be safe to release there.
//
// Thread safety: post() from any thread, tasks included. close() and waitUntilIdle() must not
// be called from one of this scope's own tasks (they would wait for themselves).
#pragma once

#include <cstddef>
#include <memory>

#include "base/executor.h"

namespace vuv {

class TaskScope {
 public:
  explicit TaskScope(Executor& executor);
  ~TaskScope();  // close()
  TaskScope(const TaskScope&) = delete;
  TaskScope& operator=(const TaskScope&) = delete;

  // False when the scope is closed or the executor has no thread; the task is then dropped.
  bool post(Executor::Task task, Executor::Priority priority = Executor::Priority::Normal);

  // No task starts from now on; returns when none of ours runs any more.
  void close();
  // Until none of ours is queued or running (also after close()).
  void waitUntilIdle();
  // Tasks queued or running.
  std::size_t active() const;

 private:
  struct State;
  Executor& executor_;
  std::shared_ptr<State> state_;  // shared with the queued tasks, which may outlive us
};

}  // namespace vuv
