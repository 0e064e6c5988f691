#include "search/search_controller.h"

#include <algorithm>
#include <deque>
#include <stop_token>
#include <utility>

#include "base/casefold.h"
#include "base/delivery_scope.h"
#include "search/wildcard.h"

namespace vuv {

namespace {

using Clock = std::chrono::steady_clock;

// IPC$, the share every SMB server lists for its named pipes, holds no files: walking it
// would only report a failure. Searched when chosen on its own, like any share.
bool isIpcShare(std::string_view share) { return foldCaseUtf8(share) == foldCaseUtf8("IPC$"); }

}  // namespace

// One search: its node workers, its share walks and its events. Tasks hold it by shared_ptr,
// so late tasks of a replaced search touch only their own state.
class SearchController::Search : public std::enable_shared_from_this<Search> {
 public:
  Search(const NetworkTree& tree, DirectoryLister& lister, Executor& executor, TaskScope& nodeWorkers,
         const SearchOptions& options, const std::string& pattern, SearchEvents events)
      : run_(nextRunId()),
        tree_(tree),
        lister_(lister),
        executor_(executor),
        nodeWorkers_(nodeWorkers),
        options_(options),
        pattern_(pattern),
        events_(std::move(events)),
        lastStatus_(Clock::now() - options.statusInterval) {}

  RunId run() const { return run_; }

  // Queues the worker of `node` and posts a task for it; false when nothing can run.
  bool launch(NodeId node) EXCLUDES(queueMutex_) {
    MutexLock lock(queueMutex_);
    queue_.push_back(node);
    ++outstanding_;
    if (postWorker()) return true;
    queue_.clear();
    outstanding_ = 0;
    return false;
  }

  // `silence`: the search was replaced or its controller is going; not even `finished` comes.
  // Called from one of our own events the delivery lock is held already, which the analysis
  // cannot follow.
  void stop(bool silence) NO_THREAD_SAFETY_ANALYSIS {
    if (DeliveryScope::delivering(this)) {
      markStopped(silence);
    } else {
      MutexLock lock(deliveryMutex_);
      markStopped(silence);
    }
    stopSource_.request_stop();
  }

  SearchStats stats() const EXCLUDES(statsMutex_) {
    MutexLock lock(statsMutex_);
    return stats_;
  }

  void deliverRows(std::vector<ResultRow>&& rows) EXCLUDES(deliveryMutex_) {
    MutexLock lock(deliveryMutex_);
    if (stopped_) return;
    rowsDelivered_ += rows.size();
    DeliveryScope scope(this);
    if (events_.rows) events_.rows(run_, std::move(rows));
  }

  void deliverFailure(const ListingFailure& failure) EXCLUDES(deliveryMutex_) {
    MutexLock lock(deliveryMutex_);
    if (stopped_) return;
    DeliveryScope scope(this);
    if (events_.failed) events_.failed(run_, failure);
  }

  void folderStatus(const std::string& path) EXCLUDES(deliveryMutex_) {
    const Clock::time_point now = Clock::now();
    MutexLock lock(deliveryMutex_);
    if (stopped_ || now - lastStatus_ < options_.statusInterval) return;
    lastStatus_ = now;
    DeliveryScope scope(this);
    if (events_.status) events_.status(run_, SearchingIn{path});
  }

 private:
  class RowBatcher;

  void markStopped(bool silence) REQUIRES(deliveryMutex_) {
    stopped_ = true;
    if (silence) silenced_ = true;
  }
  bool postWorker() REQUIRES(queueMutex_);
  void enqueue(NodeId node) REQUIRES(queueMutex_);
  void workerTask() EXCLUDES(queueMutex_);
  void runNodeWorker(NodeId node);
  void walk(const std::string& share);
  void refusedGuests(NodeId server);
  void finish() EXCLUDES(deliveryMutex_);

  const RunId run_;
  const NetworkTree& tree_;
  DirectoryLister& lister_;
  Executor& executor_;       // the listings of our share walks
  TaskScope& nodeWorkers_;   // the controller's; outlives every task of ours that runs
  const SearchOptions options_;
  const WildcardPattern pattern_;
  const SearchEvents events_;
  std::stop_source stopSource_;

  Mutex deliveryMutex_;  // held while an event runs
  bool stopped_ GUARDED_BY(deliveryMutex_) = false;
  bool silenced_ GUARDED_BY(deliveryMutex_) = false;
  std::uint64_t rowsDelivered_ GUARDED_BY(deliveryMutex_) = 0;
  Clock::time_point lastStatus_ GUARDED_BY(deliveryMutex_);

  Mutex queueMutex_;
  std::deque<NodeId> queue_ GUARDED_BY(queueMutex_);       // node workers waiting for a task
  std::size_t outstanding_ GUARDED_BY(queueMutex_) = 0;    // node workers queued or running
  std::size_t tasks_ GUARDED_BY(queueMutex_) = 0;          // tasks posted and not yet ended
  std::size_t busy_ GUARDED_BY(queueMutex_) = 0;           // tasks running a node worker
  bool finishing_ GUARDED_BY(queueMutex_) = false;

  mutable Mutex statsMutex_;
  SearchStats stats_ GUARDED_BY(statsMutex_);
  std::size_t runningWorkers_ GUARDED_BY(statsMutex_) = 0;
};

// Collects one share walk's rows into batches. Used on the walk's calling thread only.
class SearchController::Search::RowBatcher final : public ShareWalkSink {
 public:
  RowBatcher(Search& search, const std::string& share) : search_(search), share_(share) {}

  void folder(const std::string& path, std::vector<ResultRow>&& matches) override {
    // The top comes last, when "Searching in" it would be stale.
    if (path != share_) search_.folderStatus(path);
    for (ResultRow& row : matches) {
      if (batch_.empty()) started_ = Clock::now();
      batch_.push_back(std::move(row));
      if (batch_.size() >= search_.options_.maxBatchRows) flush();
    }
    if (!batch_.empty() && Clock::now() - started_ >= search_.options_.maxBatchAge) flush();
  }

  void waiting() override { flush(); }

  void failed(ListingFailure failure) override {
    flush();  // rows before it in the walk's order go out first
    search_.deliverFailure(failure);
  }

  void flush() {
    if (!batch_.empty()) search_.deliverRows(std::exchange(batch_, {}));
  }

 private:
  Search& search_;
  const std::string& share_;
  std::vector<ResultRow> batch_;
  Clock::time_point started_;
};

bool SearchController::Search::postWorker() {
  if (!nodeWorkers_.post([self = shared_from_this()] { self->workerTask(); })) return false;
  ++tasks_;
  return true;
}

void SearchController::Search::enqueue(NodeId node) {
  queue_.push_back(node);
  ++outstanding_;
  const std::size_t cap = std::max<std::size_t>(options_.maxNodeWorkers, 1);
  // Without a task of its own the queued worker waits for one of the running ones.
  if (queue_.size() > tasks_ - busy_ && tasks_ < cap) postWorker();
}

void SearchController::Search::workerTask() {
  MutexLock lock(queueMutex_);
  while (!queue_.empty()) {
    const NodeId node = queue_.front();
    queue_.pop_front();
    if (!stopSource_.stop_requested()) {
      ++busy_;
      lock.unlock();
      runNodeWorker(node);
      lock.lock();
      --busy_;
    }
    --outstanding_;
  }
  --tasks_;
  const bool last = outstanding_ == 0 && !finishing_;
  if (last) finishing_ = true;
  lock.unlock();
  if (last) finish();
}

void SearchController::Search::runNodeWorker(NodeId node) {
  {
    MutexLock lock(statsMutex_);
    ++stats_.nodeWorkers;
    ++runningWorkers_;
    stats_.peakNodeWorkers = std::max(stats_.peakNodeWorkers, runningWorkers_);
  }
  // A node without children is a share; otherwise its childless children are. A childless
  // server or domain names no share (\\DOMAIN\SERVER): its walk could only fail, so it
  // contributes nothing without a walk, but a failure when it refused guests.
  if (std::string location = tree_.shareLocation(node); !location.empty()) {
    if (tree_.kind(node) == NodeKind::Share) walk(location);
    if (tree_.needsLogon(node)) refusedGuests(node);
  } else {
    std::vector<std::string> leaves;
    std::vector<NodeId> nodes;
    for (const NodeId child : tree_.children(node)) {
      if (std::string leaf = tree_.shareLocation(child); !leaf.empty()) {
        if (tree_.needsLogon(child)) refusedGuests(child);
        if (tree_.kind(child) != NodeKind::Share || isIpcShare(tree_.text(child))) continue;
        leaves.push_back(std::move(leaf));
      } else if (tree_.contains(child)) {
        nodes.push_back(child);
      }
    }
    {
      MutexLock lock(queueMutex_);
      for (const NodeId child : nodes) enqueue(child);
    }
    for (const std::string& leaf : leaves) {
      if (stopSource_.stop_requested()) break;
      walk(leaf);
    }
  }
  MutexLock lock(statsMutex_);
  --runningWorkers_;
}

void SearchController::Search::walk(const std::string& share) {
  if (stopSource_.stop_requested()) return;
  folderStatus(share);
  RowBatcher batcher(*this, share);
  const ShareWalkStats walked = walkShare(executor_, lister_, share, pattern_, options_.shareWalk,
                                          stopSource_.get_token(), batcher);
  batcher.flush();
  MutexLock lock(statsMutex_);
  ++stats_.sharesWalked;
  stats_.foldersListed += walked.foldersListed;
  stats_.failedFolders += walked.failedFolders;
  stats_.loopsCut += walked.loopsCut;
  stats_.peakBufferedFolders = std::max(stats_.peakBufferedFolders, walked.peakBufferedFolders);
  stats_.peakBufferedRows = std::max(stats_.peakBufferedRows, walked.peakBufferedRows);
  stats_.peakParallelListings = std::max(stats_.peakParallelListings, walked.peakParallelListings);
}

// A server that showed a guest no share has nothing to walk; the person still hears of it.
void SearchController::Search::refusedGuests(NodeId server) {
  {
    MutexLock lock(statsMutex_);
    ++stats_.failedFolders;
  }
  deliverFailure(ListingFailure{"\\\\" + tree_.text(server), makeError(ErrorCode::AccessDenied)});
}

void SearchController::Search::finish() {
  SearchSummary summary;
  summary.failedFolders = stats().failedFolders;
  MutexLock lock(deliveryMutex_);
  if (silenced_) return;
  summary.rows = rowsDelivered_;
  summary.stopped = stopped_;
  DeliveryScope scope(this);
  if (events_.status) events_.status(run_, SearchFinished{});
  if (events_.finished) events_.finished(run_, summary);
}

SearchController::SearchController(const NetworkTree& tree, DirectoryLister& lister, Executor& executor,
                                   SearchOptions options)
    : tree_(tree), lister_(lister), executor_(executor), options_(std::move(options)), nodeWorkers_(executor) {}

SearchController::~SearchController() {
  std::shared_ptr<Search> search;
  {
    MutexLock lock(mutex_);
    search = std::move(current_);
  }
  // Silently: the owner is going away and must not hear from us while it does.
  if (search) search->stop(/*silence=*/true);
  nodeWorkers_.close();
}

Result<RunId> SearchController::start(NodeId node, const std::string& pattern, SearchEvents events) {
  if (node == kNoNode || !tree_.contains(node)) {
    return makeError(ErrorCode::InvalidArgument, "no such node in the network tree");
  }
  auto search =
      std::make_shared<Search>(tree_, lister_, executor_, nodeWorkers_, options_, pattern, std::move(events));
  std::shared_ptr<Search> replaced;
  {
    MutexLock lock(mutex_);
    if (!search->launch(node)) return makeError(ErrorCode::Other, "cannot start a search task");
    replaced = std::exchange(current_, search);
  }
  if (replaced) replaced->stop(/*silence=*/true);
  return search->run();
}

void SearchController::stop() {
  std::shared_ptr<Search> search;
  {
    MutexLock lock(mutex_);
    search = current_;
  }
  if (search) search->stop(/*silence=*/false);
}

SearchStats SearchController::stats() const {
  MutexLock lock(mutex_);
  return current_ ? current_->stats() : SearchStats{};
}

void SearchController::waitUntilIdle() { nodeWorkers_.waitUntilIdle(); }

}  // namespace vuv
