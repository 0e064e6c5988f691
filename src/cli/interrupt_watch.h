// Ctrl+C for one command: while a watch lives, SIGINT no longer ends the program; instead
// `onInterrupt` runs once, on the watch's own thread, within a few milliseconds.
//
// Thread safety: one watch at a time in the process. interrupted() from any thread. The
// destructor restores the previous handler and joins the watching thread.
#pragma once

#include <csignal>
#include <functional>
#include <thread>

namespace vuv::cli {

class InterruptWatch {
 public:
  explicit InterruptWatch(std::function<void()> onInterrupt);
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  bool interrupted() const;

 private:
  using Handler = void (*)(int);
  Handler previous_;
  std::jthread watcher_;  // last: started once the handler is in place
};

}  // namespace vuv::cli
