// The search session: finds the files and folders whose names match a pattern on every share
// below one node of the network tree. One search at a time; starting another replaces it.
//
// Nodes to shares, by the tree's shape only: a start node without children is itself taken as
// a share. Otherwise every node with children below it (itself included) gets one node worker
// of its own, and each worker walks its childless children as shares (\\<node>\<leaf>), one
// after another in tree order. A childless server or domain names no share and IPC$ holds no
// files: these are not walked (the first also not as a start node); a server that discovery
// saw refuse guests (NetworkTree::needsLogon) comes as a `failed` event, access denied. Each
// share is walked by walkShare() (share_walk.h), so rows of one share come in its fixed order;
// rows of different shares interleave.
//
// Threads: node workers and listings are tasks of the executor given to the constructor
// (base/executor.h), which bounds the threads of every search and discovery together. Node
// workers of one search run at most maxNodeWorkers at once; the others queue in the order
// they were found.
//
// Events carry the RunId that start() returned, so a consumer drops what a replaced search
// still had on its way. Folders that could not be listed come as `failed` events.
//
// Thread rules: start(), stop(), stats() and waitUntilIdle() may be called from any thread.
// The events run on executor threads, never two at once for one search. Once stop() has
// returned, the search delivers only its closing status and `finished`; once a replacing
// start() has returned, nothing at all. A callback may call start() and stop() (also for its
// own search), but must not call waitUntilIdle() or destroy the controller. stop() never
// waits: the listings in flight end promptly because every listing takes the search's stop
// token. The destructor ends the current search silently (no `finished`), drops queued work
// and waits only for tasks running; it must not run on an executor thread. A password prompt
// that a listing opened must return once the listing's stop token is requested
// (credentials.h), or the destructor would wait for a person.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/executor.h"
#include "base/mutex.h"
#include "base/result.h"
#include "base/run_id.h"
#include "base/task_scope.h"
#include "browse/directory_lister.h"
#include "results/result_row.h"
#include "search/share_walk.h"
#include "status/listing_failure.h"
#include "status/status_update.h"
#include "tree/network_tree.h"

namespace vuv {

struct SearchOptions {
  // Node workers running at once. A dead server holds its worker for one timeout per share,
  // so allow several; the executor's budget bounds them and their listings together.
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
  std::function<void(RunId run, std::vector<ResultRow> rows)> rows;  // in order within each share
  // SearchingIn{folder} while walking; SearchFinished just before `finished`.
  std::function<void(RunId run, const StatusUpdate& status)> status;
  // A folder, share or leaf node that could not be listed (or was too deep to enter).
  std::function<void(RunId run, const ListingFailure& failure)> failed;
  std::function<void(RunId run, const SearchSummary& summary)> finished;  // exactly once per search
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
  // The tree, the lister and the executor must outlive the controller.
  SearchController(const NetworkTree& tree, DirectoryLister& lister, Executor& executor,
                   SearchOptions options = {});
  ~SearchController();
  SearchController(const SearchController&) = delete;
  SearchController& operator=(const SearchController&) = delete;

  // Starts searching below `node` for names matching `pattern` (WildcardPattern rules; an empty
  // pattern matches nothing, but every folder is still visited). A search still running is
  // replaced: it delivers nothing more, not even its `finished`. Returns the id every event of
  // the new search carries. InvalidArgument for kNoNode or a stale node, Other when the
  // executor cannot run anything; then nothing changes.
  Result<RunId> start(NodeId node, const std::string& pattern, SearchEvents events);

  // Stops the current search at any moment: once this returns, it delivers no row and no
  // "Searching in" any more; its closing status and `finished` (stopped = true) still come
  // once, when its last worker has ended.
  // Does nothing when no search runs.
  void stop();

  // Counters of the search started last (zero before any).
  SearchStats stats() const;

  // Waits until every task of every search has ended.
  void waitUntilIdle();

 private:
  class Search;

  const NetworkTree& tree_;
  DirectoryLister& lister_;
  Executor& executor_;
  const SearchOptions options_;
  TaskScope nodeWorkers_;  // every search's node workers

  mutable Mutex mutex_;
  std::shared_ptr<Search> current_ GUARDED_BY(mutex_);  // the search started last
};

}  // namespace vuv
