// The use cases that answer from the index of names alone.
#include <algorithm>

#include "session/use_cases.h"

namespace vuv::session {

namespace {

void collectShares(const NetworkTree& tree, NodeId node, std::vector<std::string>& shares) {
  if (!tree.hasChildren(node)) {
    if (std::string location = tree.shareLocation(node); !location.empty()) shares.push_back(std::move(location));
    return;
  }
  for (const NodeId child : tree.children(node)) collectShares(tree, child, shares);
}

}  // namespace

std::vector<std::string> UseCases::indexLocations(const NetworkTree& tree, NodeId node) {
  std::vector<std::string> shares;
  collectShares(tree, node, shares);
  return shares;
}

Result<std::int64_t> UseCases::findInIndex(const std::string& indexPath, const std::vector<std::string>& locations,
                                           std::string_view pattern, const IndexedRowSink& each,
                                           std::stop_token stop) {
  auto store = index::IndexStore::open(indexPath);
  if (!store) return store.error();
  std::int64_t listed = 0;
  for (const std::string& location : locations) {
    auto known = store->summary(location, stop);
    if (!known) return known.error();
    listed = std::max(listed, known->newestListing);
    bool stopped = false;
    const Status found = store->find(location, pattern, [&](const index::IndexedRow& row) {
      stopped = !each(row);
      return !stopped;
    }, stop);
    if (!found) return found.error();
    if (stopped) return makeError(ErrorCode::Cancelled, location);
  }
  return listed;
}

}  // namespace vuv::session
