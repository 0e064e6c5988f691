// Holds the threads that wait on it until opened, so a test can act while they are held; a
// stopped wait leaves at once, as a real listing would.
#pragma once

#include <condition_variable>
#include <mutex>
#include <stop_token>

namespace vuv::testing {

class Gate {
 public:
  void wait(std::stop_token stop = {}) {
    std::unique_lock lock(mutex_);
    ++waiting_;
    changed_.notify_all();
    changed_.wait(lock, stop, [this] { return open_; });
  }
  void waitForWaiters(int count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return waiting_ >= count; });
  }
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable_any changed_;
  int waiting_ = 0;
  bool open_ = false;
};

}  // namespace vuv::testing
