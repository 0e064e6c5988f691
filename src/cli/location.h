// Where a command line search looks: a node path of the network tree
// ("MS Windows Network\ALPHA\S1") or a network path (\\SERVER, \\SERVER\SHARE,
// \\SERVER\SHARE\FOLDER).
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"
#include "browse/browse_service.h"
#include "tree/network_tree.h"

namespace vuv::cli {

bool isNetworkPath(std::string_view location);

// Finds the node whose node path is `path`; names are compared exactly, then ignoring case.
// NotFound names the first component that matched nothing.
Result<NodeId> findNodeByPath(const NetworkTree& tree, std::string_view path);

// Builds, in an empty `tree`, the nodes a network path stands for and returns the one to
// search: for \\SERVER a server node with the shares `browse` lists for it; for \\SERVER\SHARE
// and deeper a childless node whose share location is the path itself.
Result<NodeId> placeNetworkPath(NetworkTree& tree, BrowseService& browse, std::string_view location);

}  // namespace vuv::cli
