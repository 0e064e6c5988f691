#include "base/executor.h"

#include <algorithm>
#include <system_error>

namespace vuv {

Executor::Executor(std::size_t budget) : budget_(std::max<std::size_t>(budget, 1)) {}

Executor::~Executor() {
  std::vector<std::thread> threads;
  std::deque<Task> dropped;
  {
    MutexLock lock(mutex_);
    closing_ = true;
    dropped.swap(high_);
    dropped.insert(dropped.end(), std::make_move_iterator(normal_.begin()), std::make_move_iterator(normal_.end()));
    normal_.clear();
    threads.swap(threads_);
  }
  work_.notifyAll();
  for (std::thread& thread : threads) thread.join();
}

bool Executor::startThreadLocked() {
  try {
    threads_.emplace_back([this] { run(); });
  } catch (const std::system_error&) {
    return false;
  }
  ++idleThreads_;
  return true;
}

bool Executor::post(Task task, Priority priority) {
  {
    MutexLock lock(mutex_);
    if (closing_) return false;
    const std::size_t queued = high_.size() + normal_.size();
    if (idleThreads_ <= queued && threads_.size() < budget_) {
      // Without a thread of its own the task waits for a running one, if there is any.
      if (!startThreadLocked() && threads_.empty()) return false;
    }
    (priority == Priority::High ? high_ : normal_).push_back(std::move(task));
  }
  work_.notifyOne();
  return true;
}

void Executor::run() {
  MutexLock lock(mutex_);
  while (true) {
    while (!closing_ && high_.empty() && normal_.empty()) work_.wait(mutex_);
    if (closing_) break;
    std::deque<Task>& queue = high_.empty() ? normal_ : high_;
    Task task = std::move(queue.front());
    queue.pop_front();
    --idleThreads_;
    ++running_;
    lock.unlock();
    task();
    task = nullptr;  // whatever it holds goes before anyone may see us idle
    lock.lock();
    --running_;
    ++idleThreads_;
    changed_.notifyAll();
  }
  --idleThreads_;
}

void Executor::waitUntilIdle() {
  MutexLock lock(mutex_);
  while (running_ != 0 || !high_.empty() || !normal_.empty()) changed_.wait(mutex_);
}

bool Executor::idle() const {
  MutexLock lock(mutex_);
  return running_ == 0 && high_.empty() && normal_.empty();
}

std::size_t Executor::threadsStarted() const {
  MutexLock lock(mutex_);
  return threads_.size();
}

}  // namespace vuv
