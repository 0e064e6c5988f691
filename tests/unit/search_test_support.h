// Helpers for the search tests: holding chosen listings of an InMemoryShares at a gate until
// the test lets them through, and a straightforward single-threaded walk to compare against.
#pragma once

#include <functional>
#include <stop_token>
#include <string>
#include <vector>

#include "browse/in_memory_shares.h"
#include "results/result_row.h"
#include "search/wildcard.h"
#include "support/gate.h"

namespace vuv::testing {

// Holds every listing of `shares` whose path `hold` accepts at `gate` (keyed by its path) until
// it is let through or, unless `ignoreStop` (a listing slow to notice), its stop is requested.
inline void holdListings(InMemoryShares& shares, Gate& gate, std::function<bool(const std::string&)> hold,
                         bool ignoreStop = false) {
  shares.setListHook([&gate, hold = std::move(hold), ignoreStop](const std::string& path, std::stop_token stop) {
    if (hold(path)) gate.wait(ignoreStop ? std::stop_token{} : stop, path);
  });
}

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
