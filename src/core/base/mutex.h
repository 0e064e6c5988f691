// A mutex, its scoped lock and a condition variable that Clang's thread-safety analysis
// understands (std::mutex carries no annotations). Same behaviour as the standard ones.
//
// Waiting: write the condition as a loop around wait(), or pass a predicate lambda that
// carries REQUIRES(mutex) itself, so the analysis sees the guarded reads.
#pragma once

#include <condition_variable>
#include <mutex>
#include <stop_token>

#include "base/thread_annotations.h"

namespace vuv {

class CAPABILITY("mutex") Mutex {
 public:
  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~MutexLock() RELEASE() {
    if (locked_) mutex_.unlock();
  }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  // For work that must run without the lock (a listing, a callback) in the middle of a scope.
  void unlock() RELEASE() {
    mutex_.unlock();
    locked_ = false;
  }
  void lock() ACQUIRE() {
    mutex_.lock();
    locked_ = true;
  }

 private:
  Mutex& mutex_;
  bool locked_ = true;
};

class CondVar {
 public:
  void wait(Mutex& mutex) REQUIRES(mutex) { cv_.wait(mutex); }
  // Returns pred(); false also when `stop` was requested first.
  template <class Predicate>
  bool wait(Mutex& mutex, std::stop_token stop, Predicate pred) REQUIRES(mutex) {
    return cv_.wait(mutex, std::move(stop), std::move(pred));
  }
  template <class Clock, class Duration, class Predicate>
  bool waitUntil(Mutex& mutex, std::stop_token stop, const std::chrono::time_point<Clock, Duration>& deadline,
                 Predicate pred) REQUIRES(mutex) {
    return cv_.wait_until(mutex, std::move(stop), deadline, std::move(pred));
  }
  void notifyOne() { cv_.notify_one(); }
  void notifyAll() { cv_.notify_all(); }

 private:
  std::condition_variable_any cv_;
};

}  // namespace vuv
