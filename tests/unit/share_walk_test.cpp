#include "search/share_walk.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <random>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "base/executor.h"
#include "browse/in_memory_shares.h"
#include "search_test_support.h"

namespace vuv {
namespace {

using testing::Gate;
using testing::holdListings;
using testing::paths;
using testing::referenceWalk;

const std::string kShare = "\\\\srv\\share";

struct RecordingSink final : ShareWalkSink {
  std::vector<ResultRow> rows;
  std::vector<std::string> folders;
  std::vector<std::string> failures;

  void folder(const std::string& path, std::vector<ResultRow>&& matches) override {
    folders.push_back(path);
    for (ResultRow& row : matches) rows.push_back(std::move(row));
  }
  void waiting() override {}
  void failed(ListingFailure failure) override { failures.push_back(failureText(failure)); }
};

ShareWalkStats walk(DirectoryLister& shares, const std::string& pattern, RecordingSink& sink,
                    ShareWalkLimits limits = {}) {
  Executor executor(16);
  std::stop_source running;
  return walkShare(executor, shares, kShare, WildcardPattern(pattern), limits, running.get_token(), sink);
}

std::string at(const std::string& relative) { return kShare + '\\' + relative; }

// A walk on a thread of its own, for tests that hold its listings at a gate meanwhile.
struct BackgroundWalk {
  BackgroundWalk(DirectoryLister& lister, std::string pattern, ShareWalkLimits limits)
      : thread([this, &lister, pattern = std::move(pattern), limits] {
          stats = walk(lister, pattern, sink, limits);
        }) {}
  void join() { thread.join(); }

  RecordingSink sink;
  ShareWalkStats stats;
  std::thread thread;  // last: runs once the rest is made
};

// A random share: files and folders mixed in each folder, some folder names matching
// "*.txt", some dot folders (reported, never entered), "." and ".." entries (never reported),
// up to five levels, and some folders that cannot be listed, which it returns.
std::vector<std::string> buildRandomShare(InMemoryShares& shares, unsigned seed, int folderBudget) {
  std::vector<std::string> failing;
  std::mt19937 rng(seed);
  shares.addFolder(kShare);
  std::vector<std::pair<std::string, int>> open{{kShare, 0}};
  int made = 0;
  for (std::size_t i = 0; i < open.size(); ++i) {
    const auto [folder, depth] = open[i];
    const int entries = depth == 0 ? 12 : static_cast<int>(rng() % 12);
    if (i % 2 == 0) {
      shares.addEntry(folder, DirectoryEntry{".", true, 0, 0, 0});
      shares.addEntry(folder, DirectoryEntry{"..", true, 0, 0, 0});
    }
    for (int k = 0; k < entries; ++k) {
      const std::string n = std::to_string(k);
      switch (rng() % 5) {
        case 0:
        case 1:
          if (depth < 5 && made < folderBudget) {
            const unsigned kind = rng() % 6;
            const std::string name = (kind == 0 ? "." : "") + std::string("D") + std::to_string(made++) +
                                     (kind == 1 ? ".txt" : "");
            shares.addFolder(folder + '\\' + name);
            open.emplace_back(folder + '\\' + name, depth + 1);
            if (made % 19 == 7) {
              failing.push_back(folder + '\\' + name);
              shares.fail(failing.back(), makeError(ErrorCode::AccessDenied, "denied"));
            }
          }
          break;
        case 2: shares.addFile(folder + "\\f" + n + ".txt", rng() % 100000); break;
        case 3: shares.addFile(folder + "\\F" + n + ".TXT", rng() % 100000); break;
        default: shares.addFile(folder + "\\g" + n + ".dat", rng() % 100000); break;
      }
    }
  }
  return failing;
}

// Guards against rows following completion order instead of tree order, and against entering
// or losing anything around a folder that could not be listed.
TEST(ShareWalk, OrderDoesNotDependOnWhenListingsComplete) {
  struct Case {
    std::size_t parallel;
    std::size_t bufferedFolders;
  };
  for (const Case c : {Case{1, 512}, Case{2, 512}, Case{8, 512}, Case{64, 512}, Case{8, 3}, Case{8, 0}}) {
    SCOPED_TRACE("parallel " + std::to_string(c.parallel) + " buffered " + std::to_string(c.bufferedFolders));
    InMemoryShares reference;
    InMemoryShares shares;
    buildRandomShare(reference, 7, 250);
    const std::vector<std::string> failing = buildRandomShare(shares, 7, 250);
    // Uneven latency, so listings complete out of order; no test waits on it.
    shares.setListHook([](const std::string& path, std::stop_token) {
      std::this_thread::sleep_for(std::chrono::microseconds(std::hash<std::string>{}(path) % 300));
    });

    RecordingSink sink;
    ShareWalkLimits limits;
    limits.maxParallelListings = c.parallel;
    limits.lanParallelListings = c.parallel;
    limits.maxBufferedFolders = c.bufferedFolders;
    const ShareWalkStats stats = walk(shares, "*.txt", sink, limits);

    const auto expected = referenceWalk(reference, kShare, "*.txt");
    ASSERT_GT(expected.size(), 200u);
    ASSERT_GT(stats.foldersListed, 100u);
    EXPECT_EQ(paths(sink.rows), paths(expected));
    EXPECT_EQ(sink.rows, expected);
    EXPECT_LE(stats.peakParallelListings, c.parallel);
    EXPECT_LE(stats.peakBufferedFolders, 2 * c.bufferedFolders + 1);
    std::size_t failedEntered = 0;
    for (const std::string& folder : failing) failedEntered += reference.listCount(folder) > 0 ? 1 : 0;
    ASSERT_GT(failedEntered, 0u);
    EXPECT_EQ(stats.failedFolders, failedEntered);
    EXPECT_EQ(sink.failures.size(), failedEntered);
    // Every folder the reference entered, each exactly once, and nothing else.
    const auto counts = shares.listCounts();
    const auto referenceCounts = reference.listCounts();
    EXPECT_EQ(counts.size(), referenceCounts.size());
    for (const auto& [path, count] : counts) {
      EXPECT_EQ(count, 1u) << path;
      EXPECT_TRUE(referenceCounts.count(path)) << path;
    }
  }
}

TEST(ShareWalk, ReversedCompletionOfParallelSiblings) {
  InMemoryShares shares;
  std::vector<std::string> siblings;
  for (int i = 0; i < 8; ++i) {
    siblings.push_back(at("S" + std::to_string(i)));
    shares.addFile(siblings.back() + "\\hit" + std::to_string(i) + ".txt", 10);
    shares.addFile(siblings.back() + "\\S" + std::to_string(i) + "\\deep.txt", 20);
  }
  Gate gate;
  holdListings(shares, gate, [&](const std::string& path) {
    return std::find(siblings.begin(), siblings.end(), path) != siblings.end();
  });

  ShareWalkLimits limits;
  limits.maxParallelListings = 8;
  limits.lanParallelListings = 8;
  BackgroundWalk walker(shares, "*.txt", limits);
  gate.waitForWaiters(8);  // all siblings in flight at once
  for (std::size_t i = 0; i < siblings.size(); ++i) {
    gate.release(siblings[siblings.size() - 1 - i]);
    gate.waitForPassed(i + 1);
  }
  walker.join();

  std::vector<std::string> expected;
  for (int i = 0; i < 8; ++i) {
    expected.push_back(at("S" + std::to_string(i) + "\\hit" + std::to_string(i) + ".txt"));
    expected.push_back(at("S" + std::to_string(i) + "\\S" + std::to_string(i) + "\\deep.txt"));
  }
  EXPECT_EQ(paths(walker.sink.rows), expected);
  EXPECT_EQ(gate.mostHeldAtOnce(), 8u);
  EXPECT_EQ(walker.stats.peakParallelListings, 8u);
}

// Guards against full buffers letting only the emitter's next folder be listed: behind one
// slow listing, the subtree of the folder it listed was then walked one folder at a time.
TEST(ShareWalk, FoldersAheadOfFullBuffersAreListedInParallel) {
  InMemoryShares shares;
  std::vector<std::string> expected;
  for (const char* top : {"A", "B"}) {
    for (int i = 0; i < 4; ++i) {
      expected.push_back(at(std::string(top) + "\\f" + std::to_string(i) + "\\hit.txt"));
      shares.addFile(expected.back(), 1);
    }
  }
  Gate gate;
  holdListings(shares, gate, [](const std::string& path) { return path != kShare; });
  ShareWalkLimits limits;
  limits.maxParallelListings = 8;
  limits.lanParallelListings = 8;
  limits.maxBufferedFolders = 3;
  BackgroundWalk walker(shares, "*.txt", limits);
  // B and its first folder are listed while A is not: with A in flight, the buffers are full.
  gate.waitForWaiters(2);
  gate.release(at("B"));
  gate.waitForWaiters(3);
  gate.release(at("B\\f0"));
  gate.waitForPassed(2);
  gate.release(at("A"));
  // A's four folders come before everything buffered, and twice the bounds hold them.
  const bool allAtOnce = gate.waitForWaiters(3 + 4, std::chrono::seconds(20));
  const std::size_t began = gate.arrived().size();
  gate.open();
  walker.join();
  EXPECT_TRUE(allAtOnce) << began << " listings began";
  EXPECT_EQ(gate.mostHeldAtOnce(), 4u);
  EXPECT_EQ(paths(walker.sink.rows), expected);
}

// Marks every listing after the first `warm` as a cold start: one that also started its worker.
class ColdStarts final : public DirectoryLister {
 public:
  ColdStarts(DirectoryLister& inner, std::size_t warm) : inner_(inner), warm_(warm) {}
  Result<ListingEnd> stream(std::string_view uncFolder, const EntryBatchSink& sink, std::stop_token stop) override {
    Result<ListingEnd> end = inner_.stream(uncFolder, sink, std::move(stop));
    if (end) end->coldStart = listed_++ >= warm_;
    return end;
  }

 private:
  DirectoryLister& inner_;
  const std::size_t warm_;
  std::atomic<std::size_t> listed_ = 0;
};

// Quick listings keep to the LAN limit, near ones to the next, middling ones to the middle
// one; slow ones open up to the maximum, never beyond, once sixteen listings (the A folders,
// not held) have shown it. Cold starts do not count, however slow, and until eight listings
// that were not have come in, only far ones open the walk.
TEST(ShareWalk, ParallelListingsFollowTheServersPace) {
  using std::chrono::microseconds;
  constexpr auto kNever = std::chrono::hours(1);
  constexpr std::size_t kAllWarm = 1000;
  struct Case {
    microseconds quickListing;
    microseconds nearListing;
    microseconds farListing;
    microseconds slowListing;
    std::size_t warmListings;  // the first ones; the rest are cold starts
    std::size_t expectedPeak;
  };
  const Case cases[] = {
      {kNever, kNever, kNever, kNever, kAllWarm, 1},  // every listing counts as quick
      {microseconds(0), kNever, kNever, kNever, kAllWarm, 2},
      {microseconds(0), microseconds(0), kNever, kNever, kAllWarm, 3},
      {microseconds(0), microseconds(0), microseconds(0), microseconds(0), kAllWarm, 4},  // every one slow
      {microseconds(0), microseconds(0), microseconds(0), microseconds(0), 0, 1},
      {microseconds(0), microseconds(0), kNever, kNever, 7, 1},  // seven middling listings are not enough
      {microseconds(0), microseconds(0), kNever, kNever, 8, 3},
      {microseconds(0), microseconds(0), microseconds(0), kNever, 1, 3},  // one far one is
      {microseconds(0), microseconds(0), microseconds(0), microseconds(0), 1, 3},  // one slow one, no further
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.expectedPeak << " after " << c.warmListings << " warm");
    InMemoryShares shares;
    for (int i = 0; i < 16; ++i) shares.addFolder(at("A" + std::to_string(i)));
    for (int i = 0; i < 12; ++i) shares.addFolder(at("S" + std::to_string(i)));
    Gate gate;
    holdListings(shares, gate, [](const std::string& path) { return path.starts_with(at("S")); });
    ColdStarts cold(shares, c.warmListings);
    ShareWalkLimits limits;
    limits.maxParallelListings = 4;
    limits.lanParallelListings = 1;
    limits.nearParallelListings = 2;
    limits.midParallelListings = 3;
    limits.quickListing = c.quickListing;
    limits.nearListing = c.nearListing;
    limits.farListing = c.farListing;
    limits.slowListing = c.slowListing;
    BackgroundWalk walker(cold, "*", limits);
    gate.waitForWaiters(c.expectedPeak);
    gate.open();
    walker.join();
    EXPECT_EQ(gate.mostHeldAtOnce(), c.expectedPeak);
    EXPECT_EQ(walker.stats.peakParallelListings, c.expectedPeak);
    EXPECT_EQ(walker.sink.rows.size(), 28u);
  }
}

// Guards against a link back to the share's top folder being entered once (the top's id is in
// no parent's listing, only in its own).
TEST(ShareWalk, LinkLoopsEndAlsoAtTheTop) {
  InMemoryShares shares;
  shares.addFile(at("x.txt"), 1);
  shares.addFolder(at("a"));
  shares.addFile(at("a\\y.txt"), 2);
  shares.addLink(at("a\\b\\up"), at("a"));
  shares.addLink(at("a\\b\\top"), kShare);
  shares.addLink(at("loop"), kShare);

  RecordingSink sink;
  const ShareWalkStats stats = walk(shares, "*", sink);
  EXPECT_EQ(paths(sink.rows), (std::vector<std::string>{at("a\\y.txt"), at("a\\b"), at("a\\b\\up"),
                                                       at("a\\b\\top"), at("x.txt"), at("a"), at("loop")}));
  EXPECT_EQ(stats.loopsCut, 3u);
  EXPECT_EQ(stats.failedFolders, 0u);
  for (const auto& [path, count] : shares.listCounts()) EXPECT_EQ(count, 1u) << path;
}

// A server that gives no file ids cannot show a loop; the depth bound ends it instead.
TEST(ShareWalk, LoopWithoutFileIdsEndsAtTheDepthBound) {
  InMemoryShares shares;
  shares.addFolder(kShare, 0);
  shares.addLink(at("again"), kShare);  // carries the top's id: 0
  ShareWalkLimits limits;
  limits.maxDepth = 20;
  RecordingSink sink;
  const ShareWalkStats stats = walk(shares, "*", sink, limits);
  EXPECT_EQ(stats.foldersListed, 21u);  // the top and 20 levels
  EXPECT_EQ(stats.failedFolders, 1u);
  EXPECT_EQ(stats.loopsCut, 0u);
  EXPECT_EQ(sink.rows.size(), 21u);
}

TEST(ShareWalk, DepthAndPathBoundsAreInclusive) {
  struct Case {
    std::size_t maxDepth;
    std::size_t maxPathBytes;
    std::uint64_t listed;  // the top included
  };
  const std::string name(100, 'n');  // every level adds 101 bytes to the path
  const ShareWalkLimits defaults;
  for (const Case c : {Case{3, 32768, 4}, Case{0, 32768, 1}, Case{256, kShare.size() + 9 * 101, 10},
                       Case{256, kShare.size() + 9 * 101 - 1, 9},
                       Case{defaults.maxDepth, defaults.maxPathBytes, 257}}) {  // the top and levels 1..256
    SCOPED_TRACE(std::to_string(c.maxDepth) + " " + std::to_string(c.maxPathBytes));
    InMemoryShares shares;
    std::string folder = kShare;
    for (int level = 1; level <= 300; ++level) shares.addFolder(folder += '\\' + name);
    ShareWalkLimits limits;
    limits.maxDepth = c.maxDepth;
    limits.maxPathBytes = c.maxPathBytes;
    RecordingSink sink;
    const ShareWalkStats stats = walk(shares, "*", sink, limits);
    EXPECT_EQ(stats.foldersListed, c.listed);
    EXPECT_EQ(stats.failedFolders, 1u);
    EXPECT_EQ(sink.rows.size(), c.listed);  // each listed folder shows the next one
  }
}

TEST(ShareWalk, BufferedRowsBoundHoldsListingBack) {
  InMemoryShares shares;
  for (int i = 0; i < 200; ++i) {
    for (int k = 0; k < 10; ++k) shares.addFile(at("d" + std::to_string(i) + "\\f" + std::to_string(k)), 1);
  }
  ShareWalkLimits limits;
  limits.maxParallelListings = 4;
  limits.maxBufferedRows = 50;
  RecordingSink sink;
  const ShareWalkStats stats = walk(shares, "*", sink, limits);
  EXPECT_EQ(sink.rows.size(), 2200u);
  // Soft bound: the four listings in flight and the one the emitter waits for may add theirs.
  EXPECT_LE(stats.peakBufferedRows, 50u + 5 * 10);
}

// A hostile server's folder of `count` files f0, f1, ..., made up a batch at a time.
class EndlessFolder final : public DirectoryLister {
 public:
  explicit EndlessFolder(std::size_t count) : count_(count) {}
  Result<ListingEnd> stream(std::string_view, const EntryBatchSink& sink, std::stop_token) override {
    std::vector<DirectoryEntry> batch;
    for (std::size_t next = 0; next < count_;) {
      batch.resize(std::min<std::size_t>(1000, count_ - next));
      for (DirectoryEntry& entry : batch) entry = DirectoryEntry{"f" + std::to_string(next++), false, 1, 0, 0};
      if (!sink(batch)) return makeError(ErrorCode::Cancelled);
    }
    return ListingEnd{};
  }

 private:
  std::size_t count_;
};

std::size_t residentBytes() {
  std::ifstream statm("/proc/self/statm");
  std::size_t size = 0;
  std::size_t resident = 0;
  statm >> size >> resident;
  return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

// Ten million entries stream through the walk, which keeps only what matches; past the cap
// the folder is walked that far and reported, never cut silently.
TEST(ShareWalk, TenMillionEntriesStreamThroughInBoundedMemory) {
  struct Case {
    std::size_t cap;
    std::size_t rows;  // f99999, f199999, ... below the cap
    std::vector<std::string> failures;
  };
  for (const Case& c : {Case{20'000'000, 100, {}},
                        Case{1'000'000, 10, {"Could not list " + kShare + ": too many entries: listed only in part"}}}) {
    EndlessFolder folder(10'000'000);
    ShareWalkLimits limits;
    limits.maxFolderEntries = c.cap;
    Executor executor(2);
    RecordingSink sink;
    const std::size_t before = residentBytes();
    const ShareWalkStats stats = walkShare(executor, folder, kShare, WildcardPattern("f*99999"), limits, {}, sink);
    EXPECT_LT(residentBytes(), before + (64u << 20));
    EXPECT_EQ(sink.rows.size(), c.rows);
    EXPECT_EQ(sink.failures, c.failures);
    EXPECT_EQ(stats.failedFolders, c.failures.size());
  }
}

// A hostile server's tree: folders with names of 750 bytes nested 20 deep, and in the deepest
// one `wide` empty subfolders. The walk holds that long path once, not once per subfolder
// (300 MB). The bound leaves room for ThreadSanitizer's shadow of what the walk touches.
class LongPathFolders final : public DirectoryLister {
 public:
  explicit LongPathFolders(std::size_t wide) : wide_(wide) {}
  Result<ListingEnd> stream(std::string_view folder, const EntryBatchSink& sink, std::stop_token) override {
    const auto depth = static_cast<std::size_t>(std::count(folder.begin(), folder.end(), '\\')) - 3;
    std::vector<DirectoryEntry> batch;
    if (depth < kDepth) {
      batch.push_back(DirectoryEntry{std::string(750, 'd'), true, 0, 0, 0});
    } else if (depth == kDepth) {
      for (std::size_t i = 0; i < wide_; ++i) batch.push_back(DirectoryEntry{"s" + std::to_string(i), true, 0, 0, 0});
    } else if (folder.ends_with("\\s0")) {
      peakWhileListing = residentBytes();  // every subfolder of the wide one is known now
    }
    if (!batch.empty() && !sink(batch)) return makeError(ErrorCode::Cancelled);
    return ListingEnd{};
  }
  static constexpr std::size_t kDepth = 20;
  std::atomic<std::size_t> peakWhileListing{0};

 private:
  std::size_t wide_;
};

TEST(ShareWalk, LongPathsAreHeldOnceNotOncePerSubfolder) {
  LongPathFolders folders(20'000);
  Executor executor(4);
  RecordingSink sink;
  const std::size_t before = residentBytes();
  const ShareWalkStats stats = walkShare(executor, folders, kShare, WildcardPattern("nothing"), {}, {}, sink);
  EXPECT_EQ(stats.foldersListed, 1 + LongPathFolders::kDepth + 20'000);
  EXPECT_EQ(stats.failedFolders, 0u);
  EXPECT_GT(folders.peakWhileListing.load(), 0u);
  EXPECT_LT(folders.peakWhileListing.load(), before + (128u << 20));
}

// Guards against a walk waiting for listing tasks that cannot start: with every thread of the
// executor taken (here by the walk itself) the walk lists alone and still ends.
TEST(ShareWalk, EndsWhenTheExecutorHasNoThreadToSpare) {
  InMemoryShares shares;
  buildRandomShare(shares, 3, 100);
  Executor executor(1);
  RecordingSink sink;
  ShareWalkStats stats;
  ASSERT_TRUE(executor.post([&] {
    stats = walkShare(executor, shares, kShare, WildcardPattern("*.txt"), {}, {}, sink);
  }));
  executor.waitUntilIdle();
  EXPECT_EQ(paths(sink.rows), paths(referenceWalk(shares, kShare, "*.txt")));
  EXPECT_EQ(stats.peakParallelListings, 1u);
  EXPECT_EQ(executor.threadsStarted(), 1u);
}

}  // namespace
}  // namespace vuv
