// Discovery: builds the network tree from nothing (discover) or adds one domain or workgroup
// by name (addDomain). The domains are listed on the calling thread; then each domain gets a
// worker thread of its own that lists its servers and, server by server, their shares.
//
// Completion: workers are counted; when the count returns to zero the events' `finished` runs
// exactly once, on the thread of the worker that ended last (or on the calling thread when
// there was nothing to start), after the status text "Ready".
//
// Thread safety: discover(), addDomain(), waitUntilIdle() and runningWorkers() may be called
// from any thread. The event callbacks are called from worker threads and must be thread-safe.
// The destructor waits for running workers; their browse calls are bounded by the service's
// own time limits.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>

#include "base/result.h"
#include "browse/browse_service.h"
#include "discovery/diagnostics.h"
#include "discovery/enumeration.h"
#include "tree/network_tree.h"

namespace vuv {

struct DiscoveryEvents {
  StatusCallback status;           // status line texts
  std::function<void()> finished;  // once per quiet period, after the last worker ended
};

class Discovery {
 public:
  Discovery(NetworkTree& tree, BrowseService& browse, DiagnosticSink& diagnostics,
            DiscoveryEvents events);
  ~Discovery();
  Discovery(const Discovery&) = delete;
  Discovery& operator=(const Discovery&) = delete;

  // Clears the tree, inserts the root, lists the domains and starts one worker per domain.
  // Returns the new root. Refused with ErrorCode::Busy while workers of an earlier discovery or
  // addDomain still insert into the tree, because clearing it under them would lose their work.
  Result<NodeId> discover();

  // Appends `name` as a domain under the root (at the top level when there is no root yet) and
  // starts its worker. The name is used exactly as given. Returns the new node, or kNoNode for
  // an empty name, which does nothing.
  NodeId addDomain(const std::string& name);

  int runningWorkers() const { return workers_.load(); }
  void waitUntilIdle();

 private:
  struct Worker {
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void startWorker(const std::string& domain, NodeId parent);
  void workerEnded();
  void setStatus(const std::string& text) const;
  void reapFinishedThreads();

  NetworkTree& tree_;
  BrowseService& browse_;
  DiagnosticSink& diagnostics_;
  DiscoveryEvents events_;

  // Raised before a worker can run, lowered as its last step; also held at 1 while discover()
  // starts its workers, so an early finisher cannot complete the discovery half way.
  std::atomic<int> workers_{0};
  std::mutex idleMutex_;
  std::condition_variable idle_;

  std::mutex threadsMutex_;
  std::list<Worker> threads_;  // guarded by threadsMutex_; a list, so elements never move
};

}  // namespace vuv
