#include "tree/network_tree.h"

#include <algorithm>
#include <limits>
#include <mutex>

#include "base/text.h"

namespace vuv {

namespace {
constexpr std::uint32_t kStale = std::numeric_limits<std::uint32_t>::max();
}

struct NetworkTree::Node {
  std::string text;
  NodeKind kind;
  std::uint32_t parent;                 // kStale for top-level nodes
  std::vector<std::uint32_t> children;  // display order
  bool needsLogon = false;
};

NetworkTree::NetworkTree() = default;
NetworkTree::~NetworkTree() = default;

std::uint32_t NetworkTree::indexOf(NodeId id) const {
  if (id == kNoNode || static_cast<std::uint32_t>(id >> 32) != generation_) return kStale;
  const auto low = static_cast<std::uint32_t>(id);
  if (low == 0 || low > nodes_.size()) return kStale;
  return low - 1;
}

NodeId NetworkTree::idOf(std::uint32_t index) const {
  return (static_cast<NodeId>(generation_) << 32) | (static_cast<NodeId>(index) + 1);
}

NodeId NetworkTree::insert(NodeId parent, std::string text, NodeKind kind, InsertPosition position) {
  std::unique_lock lock(mutex_);
  const std::uint32_t parentIndex = indexOf(parent);
  if (parentIndex == kStale) return kNoNode;
  return insertAt(parentIndex, std::move(text), kind, position);
}

NodeId NetworkTree::insertTopLevel(std::string text, NodeKind kind, InsertPosition position) {
  std::unique_lock lock(mutex_);
  return insertAt(kStale, std::move(text), kind, position);
}

// parentIndex kStale: top level. Requires the lock, held exclusively.
NodeId NetworkTree::insertAt(std::uint32_t parentIndex, std::string text, NodeKind kind,
                             InsertPosition position) {
  if (nodes_.size() >= kStale - 1) return kNoNode;
  const auto index = static_cast<std::uint32_t>(nodes_.size());
  auto& siblings = parentIndex == kStale ? topLevel_ : nodes_[parentIndex].children;
  auto where = siblings.end();
  if (position == InsertPosition::Sorted) {
    // After every sibling that does not sort behind the new one, so equal names keep
    // their arrival order.
    where = std::upper_bound(siblings.begin(), siblings.end(), text,
                             [this](const std::string& newText, std::uint32_t sibling) {
                               return lessForDisplay(newText, nodes_[sibling].text);
                             });
  }
  const auto row = static_cast<std::size_t>(where - siblings.begin());
  siblings.insert(where, index);
  // Growing nodes_ may move Node objects, but siblings refers into a Node only until here.
  nodes_.push_back(Node{std::move(text), kind, parentIndex, {}});
  const NodeId id = idOf(index);
  if (observer_) observer_({TreeChange::Kind::Inserted, id, parentIndex == kStale ? kNoNode : idOf(parentIndex), row});
  return id;
}

void NetworkTree::clear() {
  {
    std::unique_lock lock(mutex_);
    nodes_.clear();
    topLevel_.clear();
    ++generation_;
    if (generation_ == 0) generation_ = 1;  // 0 would make a valid id look like kNoNode
    if (observer_) observer_({TreeChange::Kind::Cleared, kNoNode, kNoNode, 0});
  }
}

NodeId NetworkTree::firstChild(NodeId node) const {
  std::shared_lock lock(mutex_);
  const std::vector<std::uint32_t>* list = &topLevel_;
  if (node != kNoNode) {
    const auto index = indexOf(node);
    if (index == kStale) return kNoNode;
    list = &nodes_[index].children;
  }
  return list->empty() ? kNoNode : idOf(list->front());
}

NodeId NetworkTree::nextSibling(NodeId node) const {
  std::shared_lock lock(mutex_);
  const auto index = indexOf(node);
  if (index == kStale) return kNoNode;
  const auto parentIndex = nodes_[index].parent;
  const auto& siblings = parentIndex == kStale ? topLevel_ : nodes_[parentIndex].children;
  auto it = std::find(siblings.begin(), siblings.end(), index);
  if (it == siblings.end() || ++it == siblings.end()) return kNoNode;
  return idOf(*it);
}

NodeId NetworkTree::parent(NodeId node) const {
  std::shared_lock lock(mutex_);
  const auto index = indexOf(node);
  if (index == kStale || nodes_[index].parent == kStale) return kNoNode;
  return idOf(nodes_[index].parent);
}

std::vector<NodeId> NetworkTree::children(NodeId node) const {
  std::shared_lock lock(mutex_);
  const std::vector<std::uint32_t>* list = &topLevel_;
  if (node != kNoNode) {
    const auto index = indexOf(node);
    if (index == kStale) return {};
    list = &nodes_[index].children;
  }
  std::vector<NodeId> ids;
  ids.reserve(list->size());
  for (auto child : *list) ids.push_back(idOf(child));
  return ids;
}

bool NetworkTree::hasChildren(NodeId node) const {
  std::shared_lock lock(mutex_);
  const auto index = indexOf(node);
  return index != kStale && !nodes_[index].children.empty();
}

bool NetworkTree::contains(NodeId node) const {
  std::shared_lock lock(mutex_);
  return indexOf(node) != kStale;
}

NodeId NetworkTree::root() const {
  std::shared_lock lock(mutex_);
  for (auto index : topLevel_) {
    if (nodes_[index].kind == NodeKind::Root) return idOf(index);
  }
  return kNoNode;
}

std::string NetworkTree::text(NodeId node) const {
  std::shared_lock lock(mutex_);
  const auto index = indexOf(node);
  return index == kStale ? std::string() : nodes_[index].text;
}

NodeKind NetworkTree::kind(NodeId node) const {
  std::shared_lock lock(mutex_);
  const auto index = indexOf(node);
  return index == kStale ? NodeKind::Domain : nodes_[index].kind;
}

std::string NetworkTree::nodePath(NodeId node) const {
  std::shared_lock lock(mutex_);
  auto index = indexOf(node);
  if (index == kStale) return {};
  std::string path = nodes_[index].text;
  for (index = nodes_[index].parent; index != kStale; index = nodes_[index].parent) {
    path.insert(0, nodes_[index].text + '\\');
  }
  return path;
}

std::string NetworkTree::shareLocation(NodeId node) const {
  std::shared_lock lock(mutex_);
  const auto index = indexOf(node);
  if (index == kStale || !nodes_[index].children.empty()) return {};
  const auto parentIndex = nodes_[index].parent;
  const std::string parentText = parentIndex == kStale ? std::string() : nodes_[parentIndex].text;
  return "\\\\" + parentText + '\\' + nodes_[index].text;
}

bool NetworkTree::needsLogon(NodeId node) const {
  std::shared_lock lock(mutex_);
  const auto index = indexOf(node);
  return index != kStale && nodes_[index].needsLogon;
}

void NetworkTree::setNeedsLogon(NodeId node, bool needs) {
  std::unique_lock lock(mutex_);
  const auto index = indexOf(node);
  if (index == kStale || nodes_[index].needsLogon == needs) return;
  nodes_[index].needsLogon = needs;
  if (!observer_) return;
  const auto parentIndex = nodes_[index].parent;
  const auto& siblings = parentIndex == kStale ? topLevel_ : nodes_[parentIndex].children;
  const auto row = static_cast<std::size_t>(std::find(siblings.begin(), siblings.end(), index) - siblings.begin());
  observer_({TreeChange::Kind::Changed, node, parentIndex == kStale ? kNoNode : idOf(parentIndex), row});
}

// Requires the lock; parents before their children, each list in display order.
void NetworkTree::replay(const std::vector<std::uint32_t>& siblings, std::uint32_t parentIndex) const {
  for (std::size_t row = 0; row < siblings.size(); ++row) {
    const auto index = siblings[row];
    observer_({TreeChange::Kind::Inserted, idOf(index), parentIndex == kStale ? kNoNode : idOf(parentIndex), row});
    if (nodes_[index].needsLogon) {
      observer_({TreeChange::Kind::Changed, idOf(index), parentIndex == kStale ? kNoNode : idOf(parentIndex), row});
    }
    replay(nodes_[index].children, index);
  }
}

void NetworkTree::setObserver(Observer observer) {
  std::unique_lock lock(mutex_);
  observer_ = std::move(observer);
  if (observer_) replay(topLevel_, kStale);
}

}  // namespace vuv
