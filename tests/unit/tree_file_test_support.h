// Shared by the tree and tree file tests: trees built by hand.
#pragma once

#include <string>

#include "tree/network_tree.h"

namespace vuv::testing {

// The example network: ALPHA with S1 (shares C$, Public) and S2 (none), ZETA with no servers.
// Discovered nodes are inserted sorted, so insertion order differs from display order.
struct ExampleTree {
  NetworkTree tree;
  NodeId root = tree.insertTopLevel(std::string(kRootText), NodeKind::Root, InsertPosition::Last);
  NodeId zeta = tree.insert(root, "ZETA", NodeKind::Domain, InsertPosition::Sorted);
  NodeId alpha = tree.insert(root, "ALPHA", NodeKind::Domain, InsertPosition::Sorted);
  NodeId s2 = tree.insert(alpha, "S2", NodeKind::Server, InsertPosition::Sorted);
  NodeId s1 = tree.insert(alpha, "S1", NodeKind::Server, InsertPosition::Sorted);
  NodeId cDollar = tree.insert(s1, "C$", NodeKind::Share, InsertPosition::Last);
  NodeId pub = tree.insert(s1, "Public", NodeKind::Share, InsertPosition::Last);
};

inline constexpr const char* kExampleFile = "2ALPHA\n1S1\n0C$\n0Public\n0S2\n0ZETA\n";

// Every node with its kind, indented by depth: the shape a load must rebuild.
inline void dumpKindsInto(const NetworkTree& tree, NodeId parent, int depth, std::string& out) {
  static constexpr const char* kNames[] = {"Domain", "Server", "Share", "Root"};
  for (NodeId node : tree.children(parent)) {
    out += std::string(static_cast<std::size_t>(depth) * 2, ' ');
    out += kNames[static_cast<int>(tree.kind(node))];
    out += ' ' + tree.text(node) + '\n';
    dumpKindsInto(tree, node, depth + 1, out);
  }
}

inline std::string dumpKinds(const NetworkTree& tree) {
  std::string out;
  dumpKindsInto(tree, kNoNode, 0, out);
  return out;
}

}  // namespace vuv::testing
