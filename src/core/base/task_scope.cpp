#include "base/task_scope.h"

#include "base/mutex.h"

namespace vuv {

struct TaskScope::State {
  Mutex mutex;
  CondVar changed;
  std::size_t queued GUARDED_BY(mutex) = 0;
  std::size_t running GUARDED_BY(mutex) = 0;
  bool closed GUARDED_BY(mutex) = false;
};

TaskScope::TaskScope(Executor& executor) : executor_(executor), state_(std::make_shared<State>()) {}

TaskScope::~TaskScope() { close(); }

bool TaskScope::post(Executor::Task task, Executor::Priority priority) {
  {
    MutexLock lock(state_->mutex);
    if (state_->closed) return false;
    ++state_->queued;
  }
  const bool posted = executor_.post(
      [state = state_, task = std::move(task)]() mutable {
        {
          MutexLock lock(state->mutex);
          --state->queued;
          if (state->closed) {
            state->changed.notifyAll();
            return;
          }
          ++state->running;
        }
        task();
        task = nullptr;  // released before the owner may see the scope idle
        MutexLock lock(state->mutex);
        --state->running;
        state->changed.notifyAll();
      },
      priority);
  if (!posted) {
    MutexLock lock(state_->mutex);
    --state_->queued;
    state_->changed.notifyAll();
  }
  return posted;
}

void TaskScope::close() {
  MutexLock lock(state_->mutex);
  state_->closed = true;
  while (state_->running != 0) state_->changed.wait(state_->mutex);
}

void TaskScope::waitUntilIdle() {
  MutexLock lock(state_->mutex);
  while (state_->running != 0 || (state_->queued != 0 && !state_->closed)) state_->changed.wait(state_->mutex);
}

std::size_t TaskScope::active() const {
  MutexLock lock(state_->mutex);
  return state_->queued + state_->running;
}

}  // namespace vuv
