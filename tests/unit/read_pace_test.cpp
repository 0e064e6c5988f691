#include "protocol/read_pace.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vuv {
namespace {

using namespace std::chrono_literals;

// Reads over links of steady speed, from a slow VPN to a fast LAN: none takes as long as the
// timeout (the worker would be taken for dead), and a fast link soon reads the largest size.
TEST(ReadPace, ReadsKeepWithinTheTimeoutAndGrowOnFastLinks) {
  constexpr auto kTimeout = 5000ms;
  for (const double bitsPerSecond : {120e3, 1e6, 3.4e6, 20e6, 100e6, 1e9, 10e9}) {
    ReadPace pace(kTimeout);
    std::chrono::nanoseconds slowest{0};
    for (int read = 0; read < 50; ++read) {
      const auto took = std::chrono::nanoseconds(static_cast<long long>(pace.size() * 8 / bitsPerSecond * 1e9));
      slowest = std::max(slowest, took);
      pace.took(took);
    }
    EXPECT_LT(slowest, kTimeout) << bitsPerSecond;
    if (bitsPerSecond >= 100e6) {
      EXPECT_EQ(pace.size(), ReadPace::kLargest) << bitsPerSecond;
    }
  }
  // A link that slows down: reads shrink to what it carries in time, and not below the smallest.
  ReadPace pace(kTimeout);
  for (int read = 0; read < 10; ++read) pace.took(1ms);
  EXPECT_EQ(pace.size(), ReadPace::kLargest);
  for (int read = 0; read < 10; ++read) pace.took(kTimeout);
  EXPECT_EQ(pace.size(), ReadPace::kSmallest);
  // Without a timeout there is nothing to keep within.
  EXPECT_EQ(ReadPace(0ms).size(), ReadPace::kLargest);
}

}  // namespace
}  // namespace vuv
