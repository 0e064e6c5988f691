// Holds the threads that wait on it until opened, or until their key is let through, so a test
// can act while they are held; a stopped wait leaves at once, as a real listing would.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

namespace vuv::testing {

class Gate {
 public:
  // A test that ends early (a failed check) must not free the gate under threads it holds.
  ~Gate() {
    std::unique_lock lock(mutex_);
    open_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return held_ == 0; });
  }
  void wait(std::stop_token stop = {}, const std::string& key = {}) {
    std::unique_lock lock(mutex_);
    arrived_.push_back(key);
    mostHeld_ = std::max(mostHeld_, ++held_);
    changed_.notify_all();
    changed_.wait(lock, stop, [&] { return open_ || released_.count(key) > 0; });
    --held_;
    ++passed_;
    changed_.notify_all();
  }
  // Until `count` waits in all have begun.
  void waitForWaiters(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return arrived_.size() >= count; });
  }
  // Until `count` waits in all have begun, or false after `patience`: for a test that must
  // not hang when the code under test never gets there.
  bool waitForWaiters(std::size_t count, std::chrono::milliseconds patience) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, patience, [&] { return arrived_.size() >= count; });
  }
  // Until `count` waits in all have ended.
  void waitForPassed(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return passed_ >= count; });
  }
  void release(const std::string& key) {
    std::lock_guard lock(mutex_);
    released_.insert(key);
    changed_.notify_all();
  }
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  std::vector<std::string> arrived() {
    std::lock_guard lock(mutex_);
    return arrived_;
  }
  std::size_t passed() {
    std::lock_guard lock(mutex_);
    return passed_;
  }
  std::size_t mostHeldAtOnce() {
    std::lock_guard lock(mutex_);
    return mostHeld_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable_any changed_;
  std::vector<std::string> arrived_;  // the keys, in order
  std::set<std::string> released_;
  std::size_t held_ = 0;
  std::size_t mostHeld_ = 0;
  std::size_t passed_ = 0;
  bool open_ = false;
};

}  // namespace vuv::testing
