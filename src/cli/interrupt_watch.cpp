#include "cli/interrupt_watch.h"

#include <chrono>

namespace vuv::cli {

namespace {

// A signal handler may only set a flag; the watching thread looks at it this often.
constexpr auto kWatchInterval = std::chrono::milliseconds(10);

volatile std::sig_atomic_t g_interrupted = 0;
extern "C" void onSigint(int) { g_interrupted = 1; }

}  // namespace

InterruptWatch::InterruptWatch(std::function<void()> onInterrupt)
    : previous_((g_interrupted = 0, std::signal(SIGINT, onSigint))),
      watcher_([callback = std::move(onInterrupt)](std::stop_token stop) {
        while (!stop.stop_requested()) {
          if (g_interrupted) {
            callback();
            return;
          }
          std::this_thread::sleep_for(kWatchInterval);
        }
      }) {}

InterruptWatch::~InterruptWatch() {
  watcher_.request_stop();
  watcher_.join();
  std::signal(SIGINT, previous_);
}

bool InterruptWatch::interrupted() const { return g_interrupted != 0; }

}  // namespace vuv::cli
