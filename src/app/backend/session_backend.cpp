#include "app/backend/session_backend.h"

#include <QMetaObject>
#include <algorithm>
#include <iostream>
#include <unordered_set>
#include <utility>

#include "base/error.h"
#include "index/index_store.h"

namespace vuv::app {

namespace {

// The folder holding the item at a UNC path, folded or not (folding keeps the backslashes).
std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Whether a row the walk did not find is gone from the network, by folded paths: when its
// folder was listed completely, or when the walk ran to its end and listed a folder above it
// while nothing on the way down failed (the folders between were gone). Anything else
// (stopped, failed, never reached) keeps the row.
bool goneFromTheNetwork(const std::string& key, bool stopped, const std::unordered_set<std::string>& listed,
                        const std::unordered_set<std::string>& failed) {
  std::string folder = folderOf(key);
  if (listed.contains(folder)) return true;
  if (stopped) return false;
  // Up to the share: \\server\share has three backslashes.
  while (std::count(folder.begin(), folder.end(), '\\') > 3) {
    if (failed.contains(folder)) return false;
    folder = folderOf(folder);
    if (listed.contains(folder)) return true;
  }
  return false;
}

}  // namespace

SessionBackend::SessionBackend(session::UseCases& uses, SearchOptions searchOptions, IndexUse index)
    : uses_(uses),
      indexPath_(std::move(index.path)),
      // The window has no console to speak of: the enumeration's diagnostic lines go to stderr.
      diagnostics_(std::cerr, std::cerr),
      walkRecorder_(index.recorder),
      lister_(uses.lister(), walkRecorder_),
      discovery_(uses.discovery(tree_, diagnostics_, discoveryEvents())),
      search_(uses.search(tree_, searchOptions, &lister_)) {}

SessionBackend::~SessionBackend() { shutdown(); }

template <class Event>
void SessionBackend::post(Event event) {
  // From any thread; runs on the GUI thread unless the backend is shut down first.
  QMetaObject::invokeMethod(
      &receiver_,
      [this, event = std::move(event)]() mutable {
        if (!shutDown_) event();
      },
      Qt::QueuedConnection);
}

void SessionBackend::refuse(const std::string& message) {
  post([this, message] {
    if (events_.error) events_.error(message);
  });
}

DiscoveryEvents SessionBackend::discoveryEvents() {
  DiscoveryEvents events;
  events.status = [this](RunId run, const StatusUpdate& update) {
    post([this, run, update] {
      if (run == discoveryRun_ && events_.status) events_.status(update);
    });
  };
  // A server whose shares could not be listed stays without shares (marked when it refused
  // guests); the diagnostics say why.
  events.failed = [](RunId, const ListingFailure& failure) { std::cerr << failureText(failure) << '\n'; };
  events.finished = [this](RunId run) { post([this, run] { discoveryEnded(run); }); };
  return events;
}

void SessionBackend::discoveryEnded(RunId run) {
  if (run != discoveryRun_) return;
  const bool nothingFound = discoveryRoot_ != kNoNode && !tree_.hasChildren(discoveryRoot_);
  discoveryRun_ = RunId::None;
  discoveryRoot_ = kNoNode;
  if (nothingFound && events_.error) events_.error(kNoDomainMessage);
  if (events_.discoveryFinished) events_.discoveryFinished();
}

SearchEvents SessionBackend::searchEvents() {
  SearchEvents events;
  events.rows = [this](RunId run, std::vector<ResultRow> rows) {
    post([this, run, rows = std::move(rows)]() mutable {
      if (run == searchRun_) walkRows(std::move(rows));
    });
  };
  events.status = [this](RunId run, const StatusUpdate& update) {
    post([this, run, update] {
      if (run != searchRun_ || !events_.status) return;
      // Rows shown from the index keep their status line until the walk ends.
      const bool fromIndex = indexPending_ || !unconfirmed_.empty();
      if (indexPending_ && std::holds_alternative<SearchFinished>(update)) {
        heldFinishedStatus_ = true;
      } else if (!fromIndex || !std::holds_alternative<SearchingIn>(update)) {
        events_.status(update);
      }
    });
  };
  events.failed = [this](RunId run, const ListingFailure& failure) {
    post([this, run, failure] {
      if (run == searchRun_) skipped_.push_back(failure);
    });
  };
  events.finished = [this](RunId run, const SearchSummary& summary) {
    post([this, run, stopped = summary.stopped] {
      if (run != searchRun_) return;
      if (indexPending_) {
        heldEnd_ = stopped;
      } else {
        searchEnded(stopped);
      }
    });
  };
  return events;
}

void SessionBackend::walkRows(std::vector<ResultRow> rows) {
  if (indexPending_) {
    heldRows_.insert(heldRows_.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    return;
  }
  std::vector<RowChange> changes;
  if (!unconfirmed_.empty()) {
    std::erase_if(rows, [&](ResultRow& row) {
      // The row of the same name, else one whose name differs in case only (renamed since).
      const auto [first, last] = unconfirmed_.equal_range(index::locationKey(row.path));
      if (first == last) return false;
      auto shown = std::find_if(first, last, [&](const auto& entry) { return entry.second.path == row.path; });
      if (shown == last) shown = first;
      if (shown->second != row) changes.push_back({std::move(shown->second.path), std::move(row)});
      unconfirmed_.erase(shown);
      return true;
    });
  }
  if (!changes.empty() && events_.changedRows) events_.changedRows(std::move(changes));
  if (!rows.empty() && events_.rows) events_.rows(std::move(rows));
}

void SessionBackend::searchEnded(bool stopped) {
  searchRun_ = RunId::None;
  SearchOutcome outcome;
  const std::unordered_set<std::string> listed = walkRecorder_.takeListed();
  std::unordered_set<std::string> failed;
  for (const ListingFailure& failure : skipped_) failed.insert(index::locationKey(failure.path));
  for (auto& [key, row] : unconfirmed_) {
    if (goneFromTheNetwork(key, stopped, listed, failed)) outcome.stale.push_back(std::move(row.path));
  }
  outcome.skipped = std::exchange(skipped_, {});
  unconfirmed_.clear();
  if (events_.searchFinished) events_.searchFinished(outcome);
}

void SessionBackend::readIndex(RunId run, NodeId node, const std::string& pattern) {
  indexPending_ = true;
  // Assigning stops an earlier search's read, of a million rows perhaps, and joins it: the stop
  // ends the read within milliseconds, also among rows that do not match.
  indexReader_ = std::jthread([this, run, path = indexPath_, locations = session::UseCases::indexLocations(tree_, node),
                               pattern](std::stop_token stop) {
    std::vector<ResultRow> rows;
    Unconfirmed keys;  // folded here, not on the GUI thread
    auto known = session::UseCases::findInIndex(path, locations, pattern, [&](const index::IndexedRow& row) {
      keys.emplace(index::locationKey(row.row.path), row.row);
      rows.push_back(row.row);
      return !stop.stop_requested();
    }, stop);
    if (stop.stop_requested()) return;  // its search was replaced or the window closes
    if (!known) std::cerr << "The index could not be read: " << describe(known.error()) << '\n';
    const std::int64_t listed = known ? *known : 0;
    if (listed == 0) {
      rows.clear();
      keys.clear();
    }
    post([this, run, rows = std::move(rows), keys = std::move(keys), listed]() mutable {
      indexRead(run, std::move(rows), std::move(keys), listed);
    });
  });
}

void SessionBackend::indexRead(RunId run, std::vector<ResultRow> rows, Unconfirmed keys, std::int64_t listed) {
  if (run != searchRun_) return;
  indexPending_ = false;
  if (!rows.empty()) {
    unconfirmed_ = std::move(keys);
    if (events_.indexedRows) events_.indexedRows(std::move(rows), listed);
  }
  walkRows(std::exchange(heldRows_, {}));
  if (std::exchange(heldFinishedStatus_, false) && events_.status) events_.status(SearchFinished{});
  if (const std::optional<bool> stopped = std::exchange(heldEnd_, std::nullopt)) searchEnded(*stopped);
}

bool SessionBackend::startDiscovery() {
  if (shutDown_) return false;
  if (discoveryRun_ != RunId::None || searchRun_ != RunId::None) {
    refuse(kBusyMessage);
    return false;
  }
  startRunUnlessBusy();
  auto started = discovery_->discover();
  if (!started) {
    // Busy: workers of a stopped run still end; the same answer as for a running one.
    refuse(started.error().code == ErrorCode::Busy ? std::string(kBusyMessage) : describe(started.error()));
    return false;
  }
  discoveryRun_ = started->run;
  discoveryRoot_ = started->node;
  return true;
}

bool SessionBackend::loadTree(const std::string& path) {
  if (shutDown_) return false;
  // Workers of a stopped discovery may still insert: they would mix their nodes into the file's.
  if (discoveryRun_ != RunId::None || searchRun_ != RunId::None || discovery_->runningWorkers() > 0) {
    refuse(kBusyMessage);
    return false;
  }
  auto loaded = uses_.loadTree(path, tree_);
  if (!loaded) {
    refuse(kLoadFailedMessage + describe(loaded.error()));
    return false;
  }
  // Servers only WS-Discovery finds are reached at their announced addresses: a search waits
  // for this round.
  if (learn_.joinable()) {
    learn_.request_stop();
    learn_.join();
  }
  const RunId run = nextRunId();
  learnRun_ = run;
  learn_ = std::jthread([this, run](std::stop_token stop) {
    if (Status learned = uses_.learnAddresses(stop); !learned && learned.error().code != ErrorCode::Cancelled) {
      std::cerr << "WS-Discovery failed: " << describe(learned.error()) << '\n';
    }
    post([this, run] { learningEnded(run); });
  });
  return true;
}

// A search, copy or log-on under way keeps the answers given for its run only and the
// questions declined in it: a new run starts only without them.
void SessionBackend::startRunUnlessBusy() {
  if (searchRun_ == RunId::None && copyRun_ == RunId::None && !loggingOn_) uses_.startRun();
}

void SessionBackend::learningEnded(RunId run) {
  if (run != learnRun_) return;  // a round stopped for a newer one
  learnRun_ = RunId::None;
  if (learn_.joinable()) learn_.join();
  if (auto pending = std::exchange(pendingSearch_, std::nullopt)) startSearchNow(pending->first, pending->second);
}

bool SessionBackend::addDomain(const std::string& name) {
  if (shutDown_) return false;
  if (name.empty()) {
    refuse(kEmptyDomainMessage);
    return false;
  }
  if (discoveryRun_ != RunId::None) {
    refuse(kDiscoveryBusyMessage);
    return false;
  }
  // Part of the discovery: it keeps the answers of the work under way.
  const DiscoveryStarted started = discovery_->addDomain(name);
  discoveryRun_ = started.run;
  discoveryRoot_ = kNoNode;  // the name was given: nothing to miss
  return started.run != RunId::None;
}

void SessionBackend::startSearch(NodeId node, const std::string& pattern) {
  if (shutDown_) return;
  if (learnRun_ != RunId::None) {
    pendingSearch_.emplace(node, pattern);
    searchRun_ = nextRunId();  // busy until it has started and ended
    return;
  }
  startSearchNow(node, pattern);
}

void SessionBackend::startSearchNow(NodeId node, const std::string& pattern) {
  skipped_.clear();
  unconfirmed_.clear();
  heldRows_.clear();
  heldEnd_.reset();
  heldFinishedStatus_ = false;
  indexPending_ = false;
  const bool readsIndex = indexOn_ && !indexPath_.empty();
  walkRecorder_.keepListed(readsIndex);
  searchRun_ = RunId::None;  // a search it replaces ends with it
  startRunUnlessBusy();
  auto started = search_->start(node, pattern, searchEvents());
  if (started) {
    searchRun_ = *started;
    if (readsIndex) readIndex(searchRun_, node, pattern);
    return;
  }
  // The window waits for an end to every search it started, also one that could not start.
  const std::string message = describe(started.error());
  post([this, message] {
    if (events_.error) events_.error(message);
    if (shutDown_) return;
    if (events_.status) events_.status(SearchFinished{});
    if (events_.searchFinished) events_.searchFinished({});
  });
}

void SessionBackend::stopSearch() {
  if (shutDown_) return;
  if (pendingSearch_) {  // not started: it ends here
    pendingSearch_.reset();
    searchRun_ = RunId::None;
    post([this] {
      if (events_.status) events_.status(SearchFinished{});
      if (!shutDown_ && events_.searchFinished) events_.searchFinished({});
    });
    return;
  }
  search_->stop();
}

void SessionBackend::useIndex(bool on) {
  indexOn_ = on;
  walkRecorder_.setRecording(on);
}

bool SessionBackend::startCopy(const std::string& item, bool /*isFolder: the copy looks it up*/,
                               const std::string& folder, bool replace) {
  if (shutDown_) return false;
  if (copyRun_ != RunId::None) {
    refuse(kCopyBusyMessage);
    return false;
  }
  if (copy_.joinable()) copy_.join();  // ended: its last event has been delivered
  startRunUnlessBusy();
  const RunId run = nextRunId();
  copyRun_ = run;
  copy_ = std::jthread([this, run, item, folder, replace](std::stop_token stop) {
    const auto progress = [this, run](const TransferProgress& p) {
      CopyProgress shown{p.bytesDone, p.bytesTotal, p.bytesPerSecond, p.timeLeft, p.currentItem};
      post([this, run, shown] {
        if (run == copyRun_ && events_.copyProgress) events_.copyProgress(shown);
      });
    };
    auto copied = uses_.copy(item, folder, replace, stop, progress);
    CopyOutcome outcome;
    if (copied) {
      outcome.destination = *copied;
    } else if (copied.error().code == ErrorCode::Cancelled) {
      outcome.cancelled = true;
    } else {
      outcome.error = describe(copied.error());
    }
    post([this, run, outcome] { copyEnded(run, outcome); });
  });
  return true;
}

void SessionBackend::copyEnded(RunId run, const CopyOutcome& outcome) {
  if (run != copyRun_) return;
  copyRun_ = RunId::None;
  if (copy_.joinable()) copy_.join();  // it has posted its last event: it ends at once
  if (events_.copyFinished) events_.copyFinished(outcome);
}

bool SessionBackend::logOn(NodeId server) {
  if (shutDown_) return false;
  if (loggingOn_) {
    refuse(kLogOnBusyMessage);
    return false;
  }
  if (logOn_.joinable()) logOn_.join();  // ended: its last event has been delivered
  startRunUnlessBusy();
  loggingOn_ = true;
  logOn_ = std::jthread([this, server](std::stop_token stop) {
    const Status done = uses_.logOn(tree_, server, stop);
    const std::optional<std::string> failure =
        done || done.error().code == ErrorCode::Cancelled ? std::nullopt : std::optional(describe(done.error()));
    post([this, failure] {
      loggingOn_ = false;
      if (logOn_.joinable()) logOn_.join();
      if (failure && events_.error) events_.error(*failure);
    });
  });
  return true;
}

Result<std::string> SessionBackend::desktopUrl(const std::string& path) const { return uses_.desktopUrl(path); }

void SessionBackend::stopCopy() {
  if (!shutDown_ && copyRun_ != RunId::None) copy_.request_stop();
}

void SessionBackend::shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  events_ = {};
  // Both stop first, so their tasks wind down together; then each waits for its running ones.
  discovery_->stop();
  search_->stop();
  copy_.request_stop();
  logOn_.request_stop();
  learn_.request_stop();
  search_.reset();
  indexReader_ = {};  // stops and joins
  discovery_.reset();
  // A stopped copy removes what it wrote before it ends; its events are dropped.
  if (copy_.joinable()) copy_.join();
  if (logOn_.joinable()) logOn_.join();
  if (learn_.joinable()) learn_.join();
  copyRun_ = RunId::None;
  pendingSearch_.reset();
}

}  // namespace vuv::app
