#include "discovery/discovery.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "base/delivery_scope.h"

namespace vuv {

struct Discovery::Run {
  const RunId id = nextRunId();
  std::stop_source stop;
  bool stopped = false;  // guarded by the discovery's deliveryMutex_: no status after stop()
};

Discovery::Discovery(NetworkTree& tree, BrowseService& browse, DiagnosticSink& diagnostics, Executor& executor,
                     DiscoveryEvents events)
    : tree_(tree), browse_(browse), diagnostics_(diagnostics), events_(std::move(events)), tasks_(executor) {}

Discovery::~Discovery() {
  {
    MutexLock lock(deliveryMutex_);
    silenced_ = true;
  }
  {
    MutexLock lock(mutex_);
    if (current_) current_->stop.request_stop();
  }
  tasks_.close();
}

// Runs one event under the delivery lock, or without taking it when called from inside one of
// our own events (a callback that starts or stops), which the analysis cannot follow.
void Discovery::deliver(const Run& run, bool evenIfStopped, const std::function<void()>& event)
    NO_THREAD_SAFETY_ANALYSIS {
  if (DeliveryScope::delivering(this)) {
    if (!silenced_ && (evenIfStopped || !run.stopped)) event();
    return;
  }
  MutexLock lock(deliveryMutex_);
  if (silenced_ || (!evenIfStopped && run.stopped)) return;
  DeliveryScope scope(this);
  event();
}

void Discovery::setStatus(const Run& run, const StatusUpdate& status) {
  if (events_.status) deliver(run, false, [&] { events_.status(run.id, status); });
}

void Discovery::reportFailure(const Run& run, const ListingFailure& failure) {
  if (events_.failed) deliver(run, false, [&] { events_.failed(run.id, failure); });
}

EnumerationContext Discovery::contextFor(const std::shared_ptr<Run>& run) {
  return EnumerationContext{tree_,
                            browse_,
                            diagnostics_,
                            [this, run](const StatusUpdate& status) { setStatus(*run, status); },
                            run->stop.get_token(),
                            [this, run](const ListingFailure& failure) { reportFailure(*run, failure); }};
}

std::shared_ptr<Discovery::Run> Discovery::joinRun() {
  MutexLock lock(mutex_);
  if (workers_ == 0) current_ = std::make_shared<Run>();
  ++workers_;
  return current_;
}

Result<DiscoveryStarted> Discovery::discover() {
  std::shared_ptr<Run> run;
  {
    // Claim the starter's count first: this both refuses a second discovery and keeps the
    // completion from running before every worker has been started.
    MutexLock lock(mutex_);
    if (workers_ != 0) return makeError(ErrorCode::Busy, "discovery is still running");
    current_ = std::make_shared<Run>();
    workers_ = 1;
    run = current_;
  }
  tree_.clear();
  const NodeId root = tree_.insertTopLevel(std::string(kRootText), NodeKind::Root, InsertPosition::Last);
  setStatus(*run, RetrievingTree{});
  if (!tasks_.post([this, run, root] { listDomains(run, root); })) workerEnded(run);
  return DiscoveryStarted{run->id, root};
}

void Discovery::listDomains(const std::shared_ptr<Run>& run, NodeId root) {
  const EnumerationContext context = contextFor(run);
  const std::vector<NodeId> listed = enumerateServers(context, /*listDomains=*/true, {}, root);
  // In display order, but only the domains this listing inserted: one added by name meanwhile
  // has a worker of its own already, and walking the live tree gave it a second one.
  for (const NodeId domain : tree_.children(root)) {
    if (run->stop.stop_requested()) break;
    if (std::find(listed.begin(), listed.end(), domain) == listed.end()) continue;
    const std::string name = tree_.text(domain);
    joinRun();  // the same run: our own count keeps it active
    startWorker(run, name, domain);
    setStatus(*run, GettingInformation{name});
  }
  // With no domain at all this is also where the run completes.
  workerEnded(run);
}

DiscoveryStarted Discovery::addDomain(const std::string& name) {
  if (name.empty()) return {};
  const std::shared_ptr<Run> run = joinRun();
  const NodeId root = tree_.root();
  const NodeId node = root == kNoNode ? tree_.insertTopLevel(name, NodeKind::Domain, InsertPosition::Last)
                                      : tree_.insert(root, name, NodeKind::Domain, InsertPosition::Last);
  if (node == kNoNode) {
    // The root went away under us (a discovery or a load cleared the tree): nothing to fill.
    workerEnded(run);
    return {run->id, kNoNode};
  }
  setStatus(*run, RetrievingDomain{});
  startWorker(run, name, node);
  return {run->id, node};
}

// The worker is counted already (joinRun).
void Discovery::startWorker(const std::shared_ptr<Run>& run, const std::string& domain, NodeId parent) {
  const bool posted = tasks_.post([this, run, domain, parent] {
    enumerateServers(contextFor(run), /*listDomains=*/false, domain, parent);
    workerEnded(run);
  });
  // No task: the domain keeps no servers, and the count must not wait for it.
  if (!posted) workerEnded(run);
}

void Discovery::workerEnded(const std::shared_ptr<Run>& run) {
  {
    MutexLock lock(mutex_);
    if (--workers_ != 0) return;
    current_.reset();
  }
  deliver(*run, /*evenIfStopped=*/true, [&] {
    if (events_.status) events_.status(run->id, Ready{});
    if (events_.finished) events_.finished(run->id);
  });
}

void Discovery::stop() NO_THREAD_SAFETY_ANALYSIS {
  std::shared_ptr<Run> run;
  {
    MutexLock lock(mutex_);
    run = current_;
  }
  if (!run) return;
  if (DeliveryScope::delivering(this)) {
    run->stopped = true;  // called from our own event: the delivery lock is ours already
  } else {
    MutexLock lock(deliveryMutex_);
    run->stopped = true;
  }
  run->stop.request_stop();
}

int Discovery::runningWorkers() const {
  MutexLock lock(mutex_);
  return workers_;
}

void Discovery::waitUntilIdle() { tasks_.waitUntilIdle(); }

}  // namespace vuv
