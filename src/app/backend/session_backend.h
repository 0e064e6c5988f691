// The window's backend on the network, over the session's use cases: discovery and search run
// on the session's executor; a copy, a log-on and learning a loaded tree's addresses each on a
// thread of their own (one of each at a time: they must not hold the executor's threads that
// searches share), with every event handed to the GUI thread. A search started while a loaded
// tree's addresses are being learned starts when that ends.
//
// Busy rules: Discover and loading a tree file are refused while a discovery or a search still runs (clearing the tree
// under running workers is not provided for); Add domain is refused while a discovery runs, so
// that every started addDomain() gets a discoveryFinished of its own. A discovery that finds no
// domain reports `error` (kNoDomainMessage), then discoveryFinished, so the window is not left
// busy.
//
// With the index on, a search reads what the index holds for its location on a thread of its
// own while the walk starts; the walk's events wait until that answer is shown, so its rows
// that the index showed already are dropped, and its end names the shown rows it did not
// confirm in the folders it listed completely (SearchOutcome::stale).
//
// Events of the core come on executor threads; each is queued to a QObject living on the GUI
// thread and checked there against the current run, so a replaced search's rows and finish
// are dropped even when they were queued before the new search started.
//
// Thread rules: construct, call and destroy on the GUI thread (one with an event loop).
// shutdown() stops every run and waits only for the tasks that are running, which the stop
// token ends within milliseconds, and for a running copy to remove what it wrote; nothing is
// delivered after it.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "app/backend/walk_recorder.h"
#include "app/backend/window_backend.h"
#include "base/executor.h"
#include "base/run_id.h"
#include "browse/browse_service.h"
#include "browse/directory_lister.h"
#include "browse/recording_lister.h"
#include "discovery/diagnostics.h"
#include "discovery/discovery.h"
#include "search/search_controller.h"
#include "session/use_cases.h"

namespace vuv::app {

inline constexpr char kBusyMessage[] =
    "The network is being read. Wait until the running discovery or search has ended.";
inline constexpr char kDiscoveryBusyMessage[] =
    "The network is being read. Wait until the running discovery has ended.";
inline constexpr char kNoDomainMessage[] =
    "No domain or workgroup was found on the network.";
inline constexpr char kLoadFailedMessage[] = "The tree file could not be loaded: ";
inline constexpr char kEmptyDomainMessage[] = "Enter the name of a domain or workgroup.";
inline constexpr char kCopyBusyMessage[] = "A copy is running. Wait until it has ended, or stop it.";
inline constexpr char kLogOnBusyMessage[] = "A log-on is running. Wait until it has ended.";

// The index of names the searches read and keep current.
struct IndexUse {
  std::string path;                     // the database; empty: searches read no index
  ListingRecorder* recorder = nullptr;  // what keeps it current; null: nothing is recorded
};

class SessionBackend final : public WindowBackend {
 public:
  // `uses` and `index.recorder` must outlive the backend. The index is on until useIndex().
  explicit SessionBackend(session::UseCases& uses, SearchOptions searchOptions = {}, IndexUse index = {});
  ~SessionBackend() override;
  SessionBackend(const SessionBackend&) = delete;
  SessionBackend& operator=(const SessionBackend&) = delete;

  void setEvents(WindowEvents events) override { events_ = std::move(events); }
  NetworkTree& tree() override { return tree_; }
  bool startDiscovery() override;
  bool addDomain(const std::string& name) override;
  bool logOn(NodeId server) override;
  Result<std::string> desktopUrl(const std::string& path) const override;
  bool loadTree(const std::string& path) override;
  void startSearch(NodeId node, const std::string& pattern) override;
  void stopSearch() override;
  void useIndex(bool on) override;
  bool startCopy(const std::string& item, bool isFolder, const std::string& folder,
                 bool replace) override;
  void stopCopy() override;
  void shutdown() override;

 private:
  template <class Event>
  void post(Event event);
  void refuse(const std::string& message);
  void startRunUnlessBusy();
  DiscoveryEvents discoveryEvents();
  SearchEvents searchEvents();
  void discoveryEnded(RunId run);
  void copyEnded(RunId run, const CopyOutcome& outcome);
  void learningEnded(RunId run);
  void startSearchNow(NodeId node, const std::string& pattern);
  void readIndex(RunId run, NodeId node, const std::string& pattern);
  // Folded path -> the rows shown: a share may hold names that differ only in case.
  using Unconfirmed = std::unordered_multimap<std::string, ResultRow>;
  void indexRead(RunId run, std::vector<ResultRow> rows, Unconfirmed keys, std::int64_t listed);
  void walkRows(std::vector<ResultRow> rows);
  void searchEnded(bool stopped);

  QObject receiver_;  // lives on the GUI thread; queued events die with it
  WindowEvents events_;
  session::UseCases& uses_;
  bool shutDown_ = false;

  // The current runs, on the GUI thread only; RunId::None when none runs.
  RunId discoveryRun_ = RunId::None;
  NodeId discoveryRoot_ = kNoNode;  // where a discovery's domains go
  RunId searchRun_ = RunId::None;
  std::vector<ListingFailure> skipped_;  // of the current search
  // The index's side of the current search.
  const std::string indexPath_;
  bool indexOn_ = true;
  bool indexPending_ = false;  // its answer is being read: the walk's events wait
  std::vector<ResultRow> heldRows_;
  std::optional<bool> heldEnd_;  // the walk ended while the index was read; whether stopped
  bool heldFinishedStatus_ = false;  // and its SearchFinished, which must follow the index's rows
  Unconfirmed unconfirmed_;  // shown from the index, not yet found by the walk
  RunId copyRun_ = RunId::None;
  bool loggingOn_ = false;
  RunId learnRun_ = RunId::None;  // learning a loaded tree's addresses
  std::optional<std::pair<NodeId, std::string>> pendingSearch_;  // waits for the learning

  NetworkTree tree_;
  StreamDiagnostics diagnostics_;
  WalkRecorder walkRecorder_;
  RecordingLister lister_;
  // Last: they are ended first, while the tree and the receiver still exist.
  std::unique_ptr<Discovery> discovery_;
  std::unique_ptr<SearchController> search_;
  std::jthread copy_;  // the running copy, or one that has ended and waits to be joined
  std::jthread logOn_;  // alike
  std::jthread learn_;  // alike
  std::jthread indexReader_;  // alike
};

}  // namespace vuv::app
