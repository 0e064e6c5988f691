// The network tree: a root "MS Windows Network", its domains and workgroups, their servers and
// each server's shares.
//
// Node ids are opaque; kNoNode (0) means "no node". An id stays valid until clear(); after that
// it names no node, and every query on it answers as for kNoNode (no text, no children), so a
// stale id can never reach a node of the new tree.
//
// Thread safety: every member may be called from any thread. Each call is atomic with respect to
// the others (one internal reader/writer lock). A walk made of several calls can see nodes that
// other threads insert meanwhile; that is intended, discovery fills the tree while it is read.
// The observer runs on the changing thread while the tree is locked, so it sees every change
// in order; it must not call back into the tree (hand the change to another thread instead).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vuv {

using NodeId = std::uint64_t;
inline constexpr NodeId kNoNode = 0;

// Also the node's picture index, hence the fixed values.
enum class NodeKind : int { Domain = 0, Server = 1, Share = 2, Root = 3 };

enum class InsertPosition {
  Sorted,  // among its siblings by name (discovered domains and servers)
  Last,    // after all its siblings (the root, shares, domains added by name)
};

inline constexpr std::string_view kRootText = "MS Windows Network";

// One change of the tree, as its observer is told of it.
struct TreeChange {
  enum class Kind {
    Inserted,  // `node` took `row` among the children of `parent` (kNoNode: top level)
    Changed,   // `node`'s state (needsLogon) changed; parent and row as for Inserted
    Cleared,   // every node is gone; node and parent are kNoNode
  };
  Kind kind;
  NodeId node;
  NodeId parent;
  std::size_t row;
};

class NetworkTree {
 public:
  using Observer = std::function<void(const TreeChange& change)>;

  NetworkTree();
  ~NetworkTree();
  NetworkTree(const NetworkTree&) = delete;
  NetworkTree& operator=(const NetworkTree&) = delete;

  // Inserts under `parent`. Returns kNoNode when `parent` is kNoNode or stale (the tree was
  // cleared meanwhile): a caller that gets kNoNode stops inserting below it.
  NodeId insert(NodeId parent, std::string text, NodeKind kind, InsertPosition position);
  // Inserts at the top level. Never implied by a missing parent: only this call does it.
  NodeId insertTopLevel(std::string text, NodeKind kind, InsertPosition position);
  void clear();

  NodeId firstChild(NodeId node) const;  // kNoNode: the first top-level node
  NodeId nextSibling(NodeId node) const;
  NodeId parent(NodeId node) const;
  std::vector<NodeId> children(NodeId node) const;  // kNoNode: the top-level nodes
  bool hasChildren(NodeId node) const;
  bool contains(NodeId node) const;
  // The top-level Root node of the last discovery or load; kNoNode before there is one.
  NodeId root() const;
  std::string text(NodeId node) const;
  NodeKind kind(NodeId node) const;  // for display only; walkers decide by shape

  // Texts from the top-level node down to `node`, joined with single backslashes.
  std::string nodePath(NodeId node) const;
  // For a node without children: \\<parent's text>\<node's text>. Empty for other nodes.
  std::string shareLocation(NodeId node) const;

  // A server that would not list its shares to a guest: the person may log on to it. False for
  // stale ids.
  bool needsLogon(NodeId node) const;
  void setNeedsLogon(NodeId node, bool needs);

  // Replaces the observer. The new one is first told of every node already in the tree, as
  // insertions in display order, under the same lock as later changes: nothing inserted
  // meanwhile is missed or told twice.
  void setObserver(Observer observer);

 private:
  struct Node;
  std::uint32_t indexOf(NodeId id) const;  // requires the lock; UINT32_MAX when stale
  NodeId idOf(std::uint32_t index) const;
  NodeId insertAt(std::uint32_t parentIndex, std::string text, NodeKind kind, InsertPosition position);
  void replay(const std::vector<std::uint32_t>& siblings, std::uint32_t parentIndex) const;

  mutable std::shared_mutex mutex_;        // guards everything below
  std::vector<Node> nodes_;                // index = id's low half - 1
  std::vector<std::uint32_t> topLevel_;    // indexes of top-level nodes in display order
  std::uint32_t generation_ = 1;           // id's high half; a clear starts a new one
  Observer observer_;
};

}  // namespace vuv
