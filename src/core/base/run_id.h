// The id of one discovery or search run. Every event carries the id of the run that sent it,
// so that a consumer that has started a new run (or stopped the old one) can drop what the
// old one still sends. Ids are unique within the process, across discoveries and searches.
//
// Thread safety: plain values; nextRunId() may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>

namespace vuv {

enum class RunId : std::uint64_t { None = 0 };

inline RunId nextRunId() {
  static std::atomic<std::uint64_t> last{0};
  return static_cast<RunId>(last.fetch_add(1) + 1);
}

}  // namespace vuv
