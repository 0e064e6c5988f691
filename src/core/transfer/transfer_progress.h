// How far a transfer has come, and the arithmetic behind the figures people read: the recent
// rate over a sliding window, the time left at that rate, and a throttle that lets progress
// out a few times a second at most. Time comes from the caller, so tests need no clock.
//
// Single-threaded values.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <limits>
#include <optional>
#include <string>

namespace vuv {

using TransferClock = std::chrono::steady_clock;

// a + b, held at the largest value: sizes come from servers, which may announce any number, and
// a total past the largest would wrap to a small one.
constexpr std::uint64_t addBytes(std::uint64_t a, std::uint64_t b) {
  constexpr std::uint64_t kMost = std::numeric_limits<std::uint64_t>::max();
  return b > kMost - a ? kMost : a + b;
}

struct TransferProgress {
  std::uint64_t bytesDone = 0;
  std::uint64_t bytesTotal = 0;
  double bytesPerSecond = 0;  // recent rate; 0 until it can be told
  std::optional<std::chrono::seconds> timeLeft;  // nullopt until it can be told
  std::string currentItem;   // UNC path of what is read now
};

class RateMeter {
 public:
  // Samples older than `window` no longer count; a rate needs samples `minimumSpan` apart.
  explicit RateMeter(TransferClock::duration window = std::chrono::seconds(3),
                     TransferClock::duration minimumSpan = std::chrono::milliseconds(500));

  // `bytesDone` at `now`; times never go back.
  void sample(TransferClock::time_point now, std::uint64_t bytesDone);

  // Bytes per second over the window; 0 while the samples span too little time.
  double bytesPerSecond() const;
  // At the current rate, rounded up; nullopt without a rate.
  std::optional<std::chrono::seconds> timeLeft(std::uint64_t bytesDone, std::uint64_t bytesTotal) const;

 private:
  struct Sample {
    TransferClock::time_point at;
    std::uint64_t bytes = 0;
  };
  TransferClock::duration window_;
  TransferClock::duration minimumSpan_;
  std::deque<Sample> samples_;
};

// Says when the next progress may go out: the first at once, then one per interval at most.
class ProgressThrottle {
 public:
  explicit ProgressThrottle(TransferClock::duration interval) : interval_(interval) {}
  bool due(TransferClock::time_point now);

 private:
  TransferClock::duration interval_;
  std::optional<TransferClock::time_point> last_;
};

}  // namespace vuv
