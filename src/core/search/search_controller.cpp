#include "search/search_controller.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <list>
#include <stop_token>
#include <system_error>
#include <thread>
#include <utility>

#include "search/wildcard.h"

namespace vuv {

namespace {

using Clock = std::chrono::steady_clock;

// The search whose event the current thread is running, if any, so that a callback may call
// stop() or start() without taking the delivery lock it already holds.
thread_local const void* tlDelivering = nullptr;

class DeliveringScope {
 public:
  explicit DeliveringScope(const void* search) : saved_(std::exchange(tlDelivering, search)) {}
  ~DeliveringScope() { tlDelivering = saved_; }
  DeliveringScope(const DeliveringScope&) = delete;
  DeliveringScope& operator=(const DeliveringScope&) = delete;

 private:
  const void* saved_;
};

}  // namespace

// Every thread of every search, so that the destructor can join them all. Walk threads start
// threads too; each thread marks itself done as its last step under mutex_, after which it
// touches nothing of ours.
class SearchController::Threads {
 public:
  ~Threads() { joinAll(); }

  // Throws std::system_error when no thread can be started.
  void spawn(std::function<void()> body) {
    std::lock_guard lock(mutex_);
    reapLocked();
    Entry& entry = entries_.emplace_back();
    try {
      entry.thread = std::thread([this, &entry, body = std::move(body)]() mutable {
        body();
        body = nullptr;  // drops the search it holds before anyone may see us idle
        std::lock_guard endLock(mutex_);
        entry.done = true;
        --live_;
        idle_.notify_all();
      });
    } catch (...) {
      entries_.pop_back();
      throw;
    }
    ++live_;
  }

  void waitUntilIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return live_ == 0; });
  }

  void joinAll() {
    std::unique_lock lock(mutex_);
    // Only running threads start new ones, so none can appear once none runs.
    idle_.wait(lock, [this] { return live_ == 0; });
    for (Entry& entry : entries_) entry.thread.join();
    entries_.clear();
  }

 private:
  struct Entry {
    std::thread thread;
    bool done = false;
  };

  void reapLocked() {
    for (auto it = entries_.begin(); it != entries_.end();) {
      if (it->done) {
        it->thread.join();
        it = entries_.erase(it);
      } else {
        ++it;
      }
    }
  }

  std::mutex mutex_;  // guards everything below
  std::condition_variable idle_;
  std::list<Entry> entries_;  // a list, so a running thread's entry never moves
  std::size_t live_ = 0;      // threads whose body has not returned
};

// One search: its node workers, its share walks and its events. Threads hold it by shared_ptr,
// so late threads of a replaced search touch only their own state.
class SearchController::Search : public std::enable_shared_from_this<Search> {
 public:
  Search(const NetworkTree& tree, DirectoryLister& lister, const SearchOptions& options,
         Threads& threads, const std::string& pattern, SearchEvents events)
      : tree_(tree),
        lister_(lister),
        options_(options),
        threads_(threads),
        pattern_(pattern),
        events_(std::move(events)),
        lastStatus_(Clock::now() - options.statusInterval) {}

  // Queues the worker of `node` and starts a thread for it; false when there is no thread.
  bool launch(NodeId node) {
    std::lock_guard lock(queueMutex_);
    queue_.push_back(node);
    ++outstanding_;
    if (startThread()) return true;
    queue_.clear();
    outstanding_ = 0;
    return false;
  }

  // `silence`: the search was replaced or its controller is going; not even `finished` comes.
  void stop(bool silence) {
    const auto apply = [&] {
      stopped_ = true;
      if (silence) silenced_ = true;
    };
    if (tlDelivering == this) {
      apply();  // called from our own event: the delivery lock is ours already
    } else {
      std::lock_guard lock(deliveryMutex_);
      apply();
    }
    stopSource_.request_stop();
  }

  SearchStats stats() const {
    std::lock_guard lock(statsMutex_);
    return stats_;
  }

  void deliverRows(std::vector<ResultRow>&& rows) {
    std::lock_guard lock(deliveryMutex_);
    if (stopped_) return;
    rowsDelivered_ += rows.size();
    DeliveringScope scope(this);
    if (events_.rows) events_.rows(std::move(rows));
  }

  void folderStatus(const std::string& path) {
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(deliveryMutex_);
    if (stopped_ || now - lastStatus_ < options_.statusInterval) return;
    lastStatus_ = now;
    DeliveringScope scope(this);
    if (events_.status) events_.status(std::string(kSearchingInStatus) + path);
  }

 private:
  class RowBatcher;

  bool startThread();
  void enqueue(NodeId node);
  void workerThread();
  void runNodeWorker(NodeId node);
  void walk(const std::string& share);
  void finish();

  const NetworkTree& tree_;
  DirectoryLister& lister_;
  const SearchOptions options_;
  Threads& threads_;  // the controller's; outlives every thread of ours
  const WildcardPattern pattern_;
  const SearchEvents events_;
  std::stop_source stopSource_;

  std::mutex deliveryMutex_;  // held while an event runs; guards the fields below
  bool stopped_ = false;
  bool silenced_ = false;
  std::uint64_t rowsDelivered_ = 0;
  Clock::time_point lastStatus_;

  std::mutex queueMutex_;      // guards the fields below
  std::deque<NodeId> queue_;   // node workers waiting for a thread
  std::size_t outstanding_ = 0;  // node workers queued or running
  std::size_t threadsRunning_ = 0;
  std::size_t busy_ = 0;       // threads running a node worker
  bool finishing_ = false;

  mutable std::mutex statsMutex_;  // guards the fields below
  SearchStats stats_;
  std::size_t runningWorkers_ = 0;
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

  void flush() {
    if (!batch_.empty()) search_.deliverRows(std::exchange(batch_, {}));
  }

 private:
  Search& search_;
  const std::string& share_;
  std::vector<ResultRow> batch_;
  Clock::time_point started_;
};

// Requires queueMutex_.
bool SearchController::Search::startThread() {
  try {
    threads_.spawn([self = shared_from_this()] { self->workerThread(); });
  } catch (const std::system_error&) {
    return false;
  }
  ++threadsRunning_;
  return true;
}

// Requires queueMutex_.
void SearchController::Search::enqueue(NodeId node) {
  queue_.push_back(node);
  ++outstanding_;
  const std::size_t cap = std::max<std::size_t>(options_.maxNodeWorkers, 1);
  // Without a new thread the queued worker waits for one of the running ones.
  if (queue_.size() > threadsRunning_ - busy_ && threadsRunning_ < cap) startThread();
}

void SearchController::Search::workerThread() {
  std::unique_lock lock(queueMutex_);
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
  --threadsRunning_;
  const bool last = outstanding_ == 0 && !finishing_;
  if (last) finishing_ = true;
  lock.unlock();
  if (last) finish();
}

void SearchController::Search::runNodeWorker(NodeId node) {
  {
    std::lock_guard lock(statsMutex_);
    ++stats_.nodeWorkers;
    ++runningWorkers_;
    stats_.peakNodeWorkers = std::max(stats_.peakNodeWorkers, runningWorkers_);
  }
  // A node without children is a share; otherwise its childless children are.
  if (std::string location = tree_.shareLocation(node); !location.empty()) {
    walk(location);
  } else {
    std::vector<std::string> leaves;
    std::vector<NodeId> nodes;
    for (const NodeId child : tree_.children(node)) {
      if (std::string leaf = tree_.shareLocation(child); !leaf.empty()) {
        leaves.push_back(std::move(leaf));
      } else if (tree_.contains(child)) {
        nodes.push_back(child);
      }
    }
    {
      std::lock_guard lock(queueMutex_);
      for (const NodeId child : nodes) enqueue(child);
    }
    for (const std::string& leaf : leaves) {
      if (stopSource_.stop_requested()) break;
      walk(leaf);
    }
  }
  std::lock_guard lock(statsMutex_);
  --runningWorkers_;
}

void SearchController::Search::walk(const std::string& share) {
  if (stopSource_.stop_requested()) return;
  folderStatus(share);
  RowBatcher batcher(*this, share);
  const ShareWalkStats walked =
      walkShare(lister_, share, pattern_, options_.shareWalk, stopSource_.get_token(), batcher);
  batcher.flush();
  std::lock_guard lock(statsMutex_);
  ++stats_.sharesWalked;
  stats_.foldersListed += walked.foldersListed;
  stats_.failedFolders += walked.failedFolders;
  stats_.loopsCut += walked.loopsCut;
  stats_.peakBufferedFolders = std::max(stats_.peakBufferedFolders, walked.peakBufferedFolders);
  stats_.peakBufferedRows = std::max(stats_.peakBufferedRows, walked.peakBufferedRows);
  stats_.peakParallelListings = std::max(stats_.peakParallelListings, walked.peakParallelListings);
}

void SearchController::Search::finish() {
  SearchSummary summary;
  summary.failedFolders = stats().failedFolders;
  std::lock_guard lock(deliveryMutex_);
  if (silenced_) return;
  summary.rows = rowsDelivered_;
  summary.stopped = stopped_;
  DeliveringScope scope(this);
  if (events_.status) events_.status(std::string(kSearchDoneStatus));
  if (events_.finished) events_.finished(summary);
}

SearchController::SearchController(const NetworkTree& tree, DirectoryLister& lister,
                                   SearchOptions options)
    : tree_(tree), lister_(lister), options_(std::move(options)), threads_(std::make_unique<Threads>()) {}

SearchController::~SearchController() {
  std::shared_ptr<Search> search;
  {
    std::lock_guard lock(mutex_);
    search = std::move(current_);
  }
  // Silently: the owner is going away and must not hear from us while it does.
  if (search) search->stop(/*silence=*/true);
  threads_->joinAll();
}

Status SearchController::start(NodeId node, const std::string& pattern, SearchEvents events) {
  if (node == kNoNode || !tree_.contains(node)) {
    return makeError(ErrorCode::InvalidArgument, "no such node in the network tree");
  }
  auto search = std::make_shared<Search>(tree_, lister_, options_, *threads_, pattern, std::move(events));
  std::shared_ptr<Search> replaced;
  {
    std::lock_guard lock(mutex_);
    if (!search->launch(node)) return makeError(ErrorCode::Other, "cannot start a search thread");
    replaced = std::exchange(current_, search);
  }
  if (replaced) replaced->stop(/*silence=*/true);
  return success();
}

void SearchController::stop() {
  std::shared_ptr<Search> search;
  {
    std::lock_guard lock(mutex_);
    search = current_;
  }
  if (search) search->stop(/*silence=*/false);
}

SearchStats SearchController::stats() const {
  std::lock_guard lock(mutex_);
  return current_ ? current_->stats() : SearchStats{};
}

void SearchController::waitUntilIdle() { threads_->waitUntilIdle(); }

}  // namespace vuv
