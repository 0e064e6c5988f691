// Discovery: builds the network tree from nothing (discover) or adds one domain or workgroup
// by name (addDomain). The domains are listed by a task of the executor; then each domain gets
// a worker task of its own that lists its servers and, server by server, their shares. The
// calling thread never waits for the network.
//
// Runs: a run lasts from the first worker it starts until its last one ends; an addDomain
// while a run is active joins that run. Every event carries the run's id. When the run's
// count of workers returns to zero its `finished` runs exactly once, on the task that ended
// last (or on the calling thread when nothing could be started), after the status Ready.
//
// Stop: stop() requests the run's stop token, which reaches every browse call; the workers end
// promptly and insert nothing more. Once stop() has returned the run sends no status and no
// failure any more; its Ready and `finished` still come once.
//
// Thread rules: discover(), addDomain(), stop(), waitUntilIdle() and runningWorkers() may be
// called from any thread. The callbacks run on executor threads, never two at once, and may
// call stop() and discover()/addDomain(), but not waitUntilIdle() nor the destructor. The
// destructor ends the current run silently (no more events at all), drops the tasks that have
// not started and waits only for those running, which the stop makes prompt. A password
// prompt that a browse call opened on another thread must return once the call's stop token is
// requested (credentials.h): then neither stop() nor the destructor waits for a person.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/executor.h"
#include "base/mutex.h"
#include "base/result.h"
#include "base/run_id.h"
#include "base/task_scope.h"
#include "browse/browse_service.h"
#include "discovery/diagnostics.h"
#include "discovery/enumeration.h"
#include "status/listing_failure.h"
#include "status/status_update.h"
#include "tree/network_tree.h"

namespace vuv {

struct DiscoveryEvents {
  std::function<void(RunId run, const StatusUpdate& status)> status;  // the status line
  std::function<void(RunId run, const ListingFailure& failure)> failed;  // a server's share list
  std::function<void(RunId run)> finished;  // once per run, after the last worker ended
};

struct DiscoveryStarted {
  RunId run = RunId::None;
  NodeId node = kNoNode;  // the new root (discover) or domain node (addDomain)
};

class Discovery {
 public:
  // Everything given must outlive the discovery.
  Discovery(NetworkTree& tree, BrowseService& browse, DiagnosticSink& diagnostics, Executor& executor,
            DiscoveryEvents events);
  ~Discovery();
  Discovery(const Discovery&) = delete;
  Discovery& operator=(const Discovery&) = delete;

  // Clears the tree, inserts the root and starts the run that lists the domains and starts one
  // worker per domain. Refused with ErrorCode::Busy while workers of an earlier run still
  // insert into the tree (after stop() they end promptly).
  Result<DiscoveryStarted> discover();

  // Appends `name` as a domain under the root (at the top level when there is no root yet) and
  // starts its worker. The name is used exactly as given. An empty name does nothing and
  // gives node kNoNode.
  DiscoveryStarted addDomain(const std::string& name);

  // Stops the active run, if any. Never waits.
  void stop();

  int runningWorkers() const;
  // Until no task of ours runs or waits, `finished` included.
  void waitUntilIdle();

 private:
  struct Run;

  std::shared_ptr<Run> joinRun() EXCLUDES(mutex_);
  void startWorker(const std::shared_ptr<Run>& run, const std::string& domain, NodeId parent);
  void listDomains(const std::shared_ptr<Run>& run, NodeId root);
  void workerEnded(const std::shared_ptr<Run>& run) EXCLUDES(mutex_);
  void deliver(const Run& run, bool evenIfStopped, const std::function<void()>& event);
  void setStatus(const Run& run, const StatusUpdate& status);
  void reportFailure(const Run& run, const ListingFailure& failure);
  EnumerationContext contextFor(const std::shared_ptr<Run>& run);

  NetworkTree& tree_;
  BrowseService& browse_;
  DiagnosticSink& diagnostics_;
  const DiscoveryEvents events_;

  mutable Mutex mutex_;
  std::shared_ptr<Run> current_ GUARDED_BY(mutex_);  // the active run; null when idle
  // Workers of the active run. Raised before a worker can run, lowered as its last step; also
  // held at 1 while the domain listing starts its workers, so an early finisher cannot
  // complete the run half way.
  int workers_ GUARDED_BY(mutex_) = 0;

  Mutex deliveryMutex_;  // held while an event runs
  bool silenced_ GUARDED_BY(deliveryMutex_) = false;

  TaskScope tasks_;  // last member: closed first, while everything it uses still exists
};

}  // namespace vuv
