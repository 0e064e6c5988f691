#include "transfer/transfer_progress.h"

#include <cmath>

namespace vuv {

namespace {

// Samples closer together than this add nothing to the rate but memory.
constexpr auto kSampleSpacing = std::chrono::milliseconds(50);

}  // namespace

RateMeter::RateMeter(TransferClock::duration window, TransferClock::duration minimumSpan)
    : window_(window), minimumSpan_(minimumSpan) {}

void RateMeter::sample(TransferClock::time_point now, std::uint64_t bytesDone) {
  if (!samples_.empty() && now - samples_.back().at < kSampleSpacing) return;
  samples_.push_back(Sample{now, bytesDone});
  // Keep one sample at or beyond the window's start, so the rate spans the whole window.
  while (samples_.size() > 2 && samples_[1].at <= now - window_) samples_.pop_front();
}

double RateMeter::bytesPerSecond() const {
  if (samples_.size() < 2) return 0;
  const Sample& first = samples_.front();
  const Sample& last = samples_.back();
  const auto span = last.at - first.at;
  if (span < minimumSpan_ || last.bytes < first.bytes) return 0;
  return static_cast<double>(last.bytes - first.bytes) / std::chrono::duration<double>(span).count();
}

std::optional<std::chrono::seconds> RateMeter::timeLeft(std::uint64_t bytesDone, std::uint64_t bytesTotal) const {
  const double rate = bytesPerSecond();
  if (rate <= 0) return std::nullopt;
  const std::uint64_t left = bytesTotal > bytesDone ? bytesTotal - bytesDone : 0;
  // A server may announce any size: past a million years the figure says nothing, and past
  // the range of the count it would not even convert.
  constexpr double kLongestEstimate = 3.2e13;
  const double seconds = std::ceil(static_cast<double>(left) / rate);
  if (seconds > kLongestEstimate) return std::nullopt;
  return std::chrono::seconds(static_cast<std::int64_t>(seconds));
}

bool ProgressThrottle::due(TransferClock::time_point now) {
  if (last_ && now - *last_ < interval_) return false;
  last_ = now;
  return true;
}

}  // namespace vuv
