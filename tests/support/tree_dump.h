// Renders a network tree as indented text ("  " per level), for compact assertions.
#pragma once

#include <string>

#include "tree/network_tree.h"

namespace vuv::testing {

inline void dumpInto(const NetworkTree& tree, NodeId parent, int depth, std::string& out) {
  for (NodeId node : tree.children(parent)) {
    out += std::string(static_cast<std::size_t>(depth) * 2, ' ') + tree.text(node) + '\n';
    dumpInto(tree, node, depth + 1, out);
  }
}

inline std::string dump(const NetworkTree& tree) {
  std::string out;
  dumpInto(tree, kNoNode, 0, out);
  return out;
}

}  // namespace vuv::testing
