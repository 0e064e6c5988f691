#include "protocol/read_pace.h"

#include <algorithm>

namespace vuv {

void ReadPace::took(std::chrono::steady_clock::duration took) {
  if (timeout_.count() <= 0) return;
  if (took > timeout_ / 4) {
    size_ = std::max(size_ / 2, kSmallest);
  } else if (took < timeout_ / 16) {
    size_ = std::min(size_ * 2, kLargest);
  }
}

}  // namespace vuv
