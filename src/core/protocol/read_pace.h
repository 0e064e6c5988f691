// How much a file read asks for at once. Each read must come back well within the progress
// timeout: the worker sends nothing while one runs, and the parent takes that long a silence
// for a dead worker (as libsmbclient takes a request that long for a dead server). Large
// reads are quickest on a fast link (libsmbclient keeps a large read's requests in flight
// together), so reads start small, double while they come back quickly, and halve when one
// took a quarter of the timeout: the smallest, 64 KiB, comes through a link of 110 kbit/s
// within 5 s.
//
// Thread rules: a value; one per read.
#pragma once

#include <chrono>
#include <cstddef>

namespace vuv {

class ReadPace {
 public:
  static constexpr std::size_t kSmallest = 64 * 1024;
  // Measured on the test network (100 MB): 64 KiB reads took twice as long as 1 MiB; 2 MiB
  // was quickest; 4 and 8 MiB were slower again (the parent waits longer for each chunk
  // before it can write it).
  static constexpr std::size_t kLargest = 2 * 1024 * 1024;

  // No timeout (zero): reads of kLargest throughout.
  explicit ReadPace(std::chrono::milliseconds timeout)
      : timeout_(timeout), size_(timeout.count() > 0 ? kSmallest : kLargest) {}

  std::size_t size() const { return size_; }
  // The last read, of size(), took `took`.
  void took(std::chrono::steady_clock::duration took);

 private:
  std::chrono::milliseconds timeout_;
  std::size_t size_;
};

}  // namespace vuv
