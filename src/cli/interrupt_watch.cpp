#include "cli/interrupt_watch.h"

#include <pthread.h>

#include <ctime>

namespace vuv::cli {

namespace {

// How long one wait for the signal lasts before the thread looks at its stop token.
constexpr long kWaitSliceNs = 10'000'000;

sigset_t interruptSignal() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  return set;
}

sigset_t blockInterrupt() {
  const sigset_t set = interruptSignal();
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &set, &previous);
  return previous;
}

}  // namespace

InterruptWatch::InterruptWatch(std::function<void()> onInterrupt)
    : previousMask_(blockInterrupt()),
      watcher_([this, callback = std::move(onInterrupt)](std::stop_token stop) {
        const sigset_t set = interruptSignal();
        while (!stop.stop_requested()) {
          const timespec slice{0, kWaitSliceNs};
          if (sigtimedwait(&set, nullptr, &slice) == SIGINT) {
            interrupted_ = true;
            callback();
            return;
          }
        }
      }) {}

InterruptWatch::~InterruptWatch() {
  watcher_.request_stop();
  watcher_.join();
  pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

}  // namespace vuv::cli
