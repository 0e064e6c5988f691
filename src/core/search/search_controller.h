// The search session: finds the files and folders whose names match a pattern on every share
// below one node of the network tree. One search at a time; starting another replaces it.
//
// Nodes to shares, by the tree's shape only: a start node without children is itself taken as
// a share. Otherwise every node with children below it (itself included) gets one node worker
// of its own, and each worker walks its childless children as shares (\\<node>\<leaf>), one
// after another in tree order. Node workers run concurrently, at most maxNodeWorkers at once;
// the others queue in the order they were found. Each share is walked by walkShare()
// (share_walk.h), so rows of one share come in its fixed order; rows of different shares
// interleave.
//
// Thread rules: start(), stop(), stats() and waitUntilIdle() may be called from any thread.
// The events run on walk threads, never two at once for one search. Once stop() has returned,
// the search delivers only its closing status and `finished`; once a replacing start() has
// returned, nothing at all. A callback may call start() and stop() (also for its own search),
// but must not call waitUntilIdle() or destroy the controller. The destructor ends the current
// search silently (no `finished`) and waits for every thread; listings still in flight end
// within the lister's own time limits.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/result.h"
#include "browse/directory_lister.h"
#include "results/result_row.h"
#include "search/share_walk.h"
#include "tree/network_tree.h"

namespace vuv {

inline constexpr std::string_view kSearchingInStatus = "Searching in ";
inline constexpr std::string_view kSearchDoneStatus = "Search finished";

struct SearchOptions {
  // Node workers running at once. Each holds up to shareWalk.maxParallelListings listings,
  // and a dead server holds its worker for one timeout per share, so allow several.
  std::size_t maxNodeWorkers = 16;
  ShareWalkLimits shareWalk;
  // A batch of rows is passed on when it is this full, when its first row is this old at the
  // next folder, when the walk waits for the network, and when a share is done.
  std::size_t maxBatchRows = 256;
  std::chrono::milliseconds maxBatchAge{50};
  // "Searching in <folder>" at most this often per search.
  std::chrono::milliseconds statusInterval{100};
};

struct SearchSummary {
  std::uint64_t rows = 0;           // rows delivered
  std::uint64_t failedFolders = 0;  // folders and shares that could not be listed or entered
  bool stopped = false;             // stop() came before the end
};

struct SearchEvents {
  std::function<void(std::vector<ResultRow> rows)> rows;  // in order within each share
  // kSearchingInStatus + folder path while walking; kSearchDoneStatus just before `finished`.
  std::function<void(const std::string& text)> status;
  std::function<void(const SearchSummary& summary)> finished;  // exactly once per search
};

// Counters of one search, for tests and diagnostics.
struct SearchStats {
  std::uint64_t nodeWorkers = 0;       // node workers started
  std::size_t peakNodeWorkers = 0;     // most running at once
  std::uint64_t sharesWalked = 0;
  std::uint64_t foldersListed = 0;
  std::uint64_t failedFolders = 0;
  std::uint64_t loopsCut = 0;
  std::size_t peakBufferedFolders = 0;   // highest of any one share walk
  std::size_t peakBufferedRows = 0;
  std::size_t peakParallelListings = 0;
};

class SearchController {
 public:
  // The tree and the lister must outlive the controller.
  SearchController(const NetworkTree& tree, DirectoryLister& lister, SearchOptions options = {});
  ~SearchController();
  SearchController(const SearchController&) = delete;
  SearchController& operator=(const SearchController&) = delete;

  // Starts searching below `node` for names matching `pattern` (WildcardPattern rules; an empty
  // pattern matches nothing, but every folder is still visited). A search still running is
  // replaced: it delivers nothing more, not even its `finished`. InvalidArgument for kNoNode
  // or a stale node, Other when no thread can be started; then nothing changes.
  Status start(NodeId node, const std::string& pattern, SearchEvents events);

  // Stops the current search at any moment: once this returns, it delivers no row and no
  // "Searching in" any more; its closing status and `finished` (stopped = true) still come
  // once, when its last worker has ended.
  // Does nothing when no search runs.
  void stop();

  // Counters of the search started last (zero before any).
  SearchStats stats() const;

  // Waits until every thread of every search has ended.
  void waitUntilIdle();

 private:
  class Search;
  class Threads;

  const NetworkTree& tree_;
  DirectoryLister& lister_;
  const SearchOptions options_;
  std::unique_ptr<Threads> threads_;

  mutable std::mutex mutex_;         // guards current_
  std::shared_ptr<Search> current_;  // the search started last
};

}  // namespace vuv
