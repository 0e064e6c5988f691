// Helpers for the search tests: a gate that holds chosen listings of an InMemoryShares until
// the test lets them through, and a straightforward single-threaded walk to compare against.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "browse/in_memory_shares.h"
#include "results/result_row.h"
#include "search/wildcard.h"

namespace vuv::testing {

class ListingGate {
 public:
  using Predicate = std::function<bool(const std::string& path)>;

  // Holds every listing whose path `hold` accepts until it is let through or, unless
  // `ignoreStop` (a listing slow to notice), its stop token is requested; installs itself as
  // the shares' hook.
  ListingGate(InMemoryShares& shares, Predicate hold, bool ignoreStop = false) : hold_(std::move(hold)) {
    shares.setListHook([this, ignoreStop](const std::string& path, std::stop_token stop) {
      arrive(path, ignoreStop ? std::stop_token{} : stop);
    });
  }

  // Until `count` listings in all have arrived at the gate.
  void waitForArrivals(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return arrived_.size() >= count; });
  }
  // Until `count` held listings in all have been let through.
  void waitForPassed(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return passed_ >= count; });
  }
  void release(const std::string& path) {
    std::lock_guard lock(mutex_);
    released_.insert(path);
    changed_.notify_all();
  }
  void openAll() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  std::vector<std::string> arrived() {
    std::lock_guard lock(mutex_);
    return arrived_;
  }
  std::size_t passed() {
    std::lock_guard lock(mutex_);
    return passed_;
  }
  std::size_t mostHeldAtOnce() {
    std::lock_guard lock(mutex_);
    return mostHeld_;
  }

 private:
  void arrive(const std::string& path, std::stop_token stop) {
    if (!hold_(path)) return;
    std::unique_lock lock(mutex_);
    arrived_.push_back(path);
    ++held_;
    mostHeld_ = std::max(mostHeld_, held_);
    changed_.notify_all();
    changed_.wait(lock, stop, [&] { return open_ || released_.count(path) > 0; });
    --held_;
    ++passed_;
    changed_.notify_all();
  }

  Predicate hold_;
  std::mutex mutex_;
  std::condition_variable_any changed_;
  std::vector<std::string> arrived_;
  std::set<std::string> released_;
  std::size_t held_ = 0;
  std::size_t mostHeld_ = 0;
  std::size_t passed_ = 0;
  bool open_ = false;
};

inline bool under(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         path[folder.size()] == '\\';
}

// The walk order written the plain way, listing folders as often as it likes. No loop
// protection and no bounds: for trees without links only.
inline std::vector<ResultRow> referenceWalk(DirectoryLister& lister, const std::string& share,
                                            const std::string& pattern) {
  const WildcardPattern wildcard(pattern);
  std::vector<ResultRow> out;
  const auto emitMatches = [&](const std::string& folder) {
    auto listing = lister.list(folder, {});
    if (!listing.ok()) return false;
    for (const DirectoryEntry& e : listing->entries) {
      if (e.name != "." && e.name != ".." && wildcard.matches(e.name)) {
        out.push_back(ResultRow{folder + '\\' + e.name, e.isFolder, e.isFolder ? 0 : e.size});
      }
    }
    return true;
  };
  const std::function<void(const std::string&)> walk = [&](const std::string& folder) {
    auto listing = lister.list(folder, {});
    if (!listing.ok()) return;
    for (const DirectoryEntry& e : listing->entries) {
      if (!e.isFolder || e.name.empty() || e.name[0] == '.') continue;
      const std::string sub = folder + '\\' + e.name;
      if (emitMatches(sub)) walk(sub);
    }
  };
  walk(share);
  emitMatches(share);
  return out;
}

inline std::vector<std::string> paths(const std::vector<ResultRow>& rows) {
  std::vector<std::string> out;
  for (const ResultRow& row : rows) out.push_back(row.path);
  return out;
}

}  // namespace vuv::testing
