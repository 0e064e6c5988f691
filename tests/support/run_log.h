// Records the events of discovery and search runs from any thread: the runs they came from,
// the status texts and failures, the finishes, and every event that came too late (anything
// after its run's finish; anything but the closing status after the test closed the run, i.e.
// after stop() returned).
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "base/run_id.h"

namespace vuv::testing {

struct RunLog {
  std::mutex mutex;
  std::condition_variable changed;
  std::set<RunId> runs;
  std::vector<std::string> statuses;
  std::vector<std::string> failures;
  std::set<RunId> finished;
  std::atomic<int> finishes{0};
  int lateEvents = 0;
  std::function<void(const std::string& status)> duringStatus;  // runs inside the status event, unlocked

  // `keep` runs under the lock.
  void event(RunId run, bool closing, const std::function<void()>& keep) {
    std::lock_guard lock(mutex);
    runs.insert(run);
    if (finished.count(run) > 0 || (!closing && (closedAll_ || closed_.count(run) > 0))) ++lateEvents;
    keep();
    changed.notify_all();
  }
  void status(RunId run, const std::string& text, bool closing) {
    event(run, closing, [&] { statuses.push_back(text); });
    if (duringStatus) duringStatus(text);
  }
  void failure(RunId run, const std::string& text) {
    event(run, false, [&] { failures.push_back(text); });
  }
  // `keep` runs under the same lock: a test woken by the finish may end at once.
  void finish(RunId run, const std::function<void()>& keep = {}) {
    std::lock_guard lock(mutex);
    runs.insert(run);
    if (!finished.insert(run).second) ++lateEvents;
    if (keep) keep();
    ++finishes;
    changed.notify_all();
  }
  // RunId::None: every run.
  void close(RunId run = RunId::None) {
    std::lock_guard lock(mutex);
    if (run == RunId::None) closedAll_ = true;
    closed_.insert(run);
  }
  void waitFor(const std::function<bool()>& done) {
    std::unique_lock lock(mutex);
    changed.wait(lock, done);
  }

 private:
  std::set<RunId> closed_;
  bool closedAll_ = false;
};

}  // namespace vuv::testing
