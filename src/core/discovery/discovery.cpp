#include "discovery/discovery.h"

#include <system_error>

namespace vuv {

namespace {
constexpr std::string_view kRetrievingTree = "Retriving network tree...";
constexpr std::string_view kRetrievingDomain = "Retriving information about domain... Please wait.";
constexpr std::string_view kReady = "Ready";
}  // namespace

Discovery::Discovery(NetworkTree& tree, BrowseService& browse, DiagnosticSink& diagnostics,
                     DiscoveryEvents events)
    : tree_(tree), browse_(browse), diagnostics_(diagnostics), events_(std::move(events)) {}

Discovery::~Discovery() {
  std::lock_guard lock(threadsMutex_);
  for (Worker& worker : threads_) {
    if (worker.thread.joinable()) worker.thread.join();
  }
}

void Discovery::setStatus(const std::string& text) const {
  if (events_.status) events_.status(text);
}

Result<NodeId> Discovery::discover() {
  // Claim the starter's count first: this both refuses a second discovery and keeps the
  // completion from running before every worker has been started.
  int expected = 0;
  if (!workers_.compare_exchange_strong(expected, 1)) {
    return makeError(ErrorCode::Busy, "discovery is still running");
  }

  tree_.clear();
  const NodeId root = tree_.insert(kNoNode, std::string(kRootText), NodeKind::Root, InsertPosition::Last);
  setStatus(std::string(kRetrievingTree));

  const EnumerationContext context{tree_, browse_, diagnostics_, events_.status};
  enumerateServers(context, /*listDomains=*/true, {}, root);

  for (NodeId domain = tree_.firstChild(root); domain != kNoNode; domain = tree_.nextSibling(domain)) {
    const std::string name = tree_.text(domain);
    startWorker(name, domain);
    setStatus(std::string(kGettingInformation) + name);
  }
  // With no domain at all this is also where the discovery completes.
  workerEnded();
  return root;
}

NodeId Discovery::addDomain(const std::string& name) {
  if (name.empty()) return kNoNode;
  const NodeId node = tree_.insert(tree_.root(), name, NodeKind::Domain, InsertPosition::Last);
  setStatus(std::string(kRetrievingDomain));
  startWorker(name, node);
  return node;
}

void Discovery::startWorker(const std::string& domain, NodeId parent) {
  reapFinishedThreads();
  workers_.fetch_add(1);
  bool started = true;
  {
    std::lock_guard lock(threadsMutex_);
    Worker& worker = threads_.emplace_back();
    try {
      worker.thread = std::thread([this, domain, parent, &worker] {
        const EnumerationContext context{tree_, browse_, diagnostics_, events_.status};
        enumerateServers(context, /*listDomains=*/false, domain, parent);
        workerEnded();
        worker.done.store(true);  // last: from here on the thread may be joined and erased
      });
    } catch (const std::system_error&) {
      threads_.pop_back();
      started = false;
    }
  }
  // No thread: the domain keeps no servers, and the count must not wait for it.
  if (!started) workerEnded();
}

void Discovery::workerEnded() {
  if (workers_.fetch_sub(1) != 1) return;
  setStatus(std::string(kReady));
  if (events_.finished) events_.finished();
  std::lock_guard lock(idleMutex_);
  idle_.notify_all();
}

void Discovery::waitUntilIdle() {
  std::unique_lock lock(idleMutex_);
  idle_.wait(lock, [this] { return workers_.load() == 0; });
}

void Discovery::reapFinishedThreads() {
  std::lock_guard lock(threadsMutex_);
  for (auto it = threads_.begin(); it != threads_.end();) {
    if (it->done.load()) {
      it->thread.join();
      it = threads_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace vuv
