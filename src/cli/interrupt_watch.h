// Ctrl+C for one command: while a watch lives, SIGINT no longer ends the program; instead
// `onInterrupt` runs once, on the watch's own thread, within a few milliseconds.
//
// SIGINT is blocked in the thread that makes the watch and so in every thread started after it,
// and taken by the watching thread with sigtimedwait: no signal handler runs, so nothing is
// shared with one.
//
// Thread safety: make the watch before starting the threads it must cover (threads started
// earlier could still take the signal), one watch at a time. interrupted() from any thread.
// The destructor joins the watching thread and restores the signal mask.
#pragma once

#include <signal.h>

#include <atomic>
#include <functional>
#include <thread>

namespace vuv::cli {

class InterruptWatch {
 public:
  explicit InterruptWatch(std::function<void()> onInterrupt);
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  bool interrupted() const { return interrupted_; }

 private:
  sigset_t previousMask_;
  std::atomic<bool> interrupted_ = false;
  std::jthread watcher_;  // last: started once SIGINT is blocked
};

}  // namespace vuv::cli
