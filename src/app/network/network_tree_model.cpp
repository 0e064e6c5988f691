#include "app/network/network_tree_model.h"

#include <QMetaObject>
#include <QPointer>
#include <algorithm>

#include "app/ui/pictures.h"
#include "app/ui/texts.h"

namespace vuv::app {

NetworkTreeModel::NetworkTreeModel(NetworkTree& tree, QObject* parent)
    : QAbstractItemModel(parent), tree_(tree), inbox_(std::make_shared<Inbox>()) {
  for (int kind = 0; kind < 4; ++kind) icons_[kind] = nodeIcon(static_cast<NodeKind>(kind));
  needsLogonIcon_ = nodeIcon(NodeKind::Server, true);
  entries_[kNoNode] = Entry{};

  // Only the first event of a burst posts a flush; the others join the waiting batch. The
  // tree first tells of the nodes already there, applied at once below.
  QPointer<NetworkTreeModel> self(this);
  tree_.setObserver([inbox = inbox_, self](const TreeChange& change) {
    bool first = false;
    {
      std::lock_guard lock(inbox->mutex);
      first = inbox->events.empty();
      inbox->events.push_back(change);
    }
    if (first) {
      QMetaObject::invokeMethod(
          self.data(), [self] { if (self) self->applyPendingEvents(); }, Qt::QueuedConnection);
    }
  });
  applyPendingEvents();
}

NetworkTreeModel::~NetworkTreeModel() { tree_.setObserver(nullptr); }

void NetworkTreeModel::applyPendingEvents() {
  std::vector<Event> events;
  {
    std::lock_guard lock(inbox_->mutex);
    events.swap(inbox_->events);
  }
  // A clear or a change splits the batch: insertions before it are applied first.
  std::size_t begin = 0;
  for (std::size_t i = 0; i <= events.size(); ++i) {
    const bool isClear = i < events.size() && events[i].kind == TreeChange::Kind::Cleared;
    const bool isChange = i < events.size() && events[i].kind == TreeChange::Kind::Changed;
    if (i == events.size() || isClear || isChange) {
      applyInserts({events.begin() + static_cast<std::ptrdiff_t>(begin),
                    events.begin() + static_cast<std::ptrdiff_t>(i)});
      begin = i + 1;
    }
    if (isChange && entries_.count(events[i].node) != 0) {
      entries_[events[i].node].needsLogon = tree_.needsLogon(events[i].node);
      const QModelIndex changed = indexOf(events[i].node);
      emit dataChanged(changed, changed);
    }
    if (isClear) {
      beginResetModel();
      entries_.clear();
      entries_[kNoNode] = Entry{};
      endResetModel();
    }
  }
}

void NetworkTreeModel::applyInserts(const std::vector<Event>& events) {
  // Group by parent, parents in the order of their first event: a parent's own insertion
  // always comes before its children's, so it is in place when they are applied.
  std::vector<NodeId> order;
  std::unordered_map<NodeId, std::vector<Event>> byParent;
  for (const Event& event : events) {
    // Stale: a clear that follows in the queue removes it anyway.
    if (!tree_.contains(event.node)) continue;
    auto [it, added] = byParent.try_emplace(event.parent);
    if (added) order.push_back(event.parent);
    it->second.push_back(event);
  }
  for (NodeId parentNode : order) insertUnder(parentNode, byParent[parentNode]);
}

void NetworkTreeModel::insertUnder(NodeId parentNode, const std::vector<Event>& inserts) {
  auto parentIt = entries_.find(parentNode);
  if (parentIt == entries_.end()) return;

  // Replay the insertions on a copy to learn where each new node ends up.
  struct Slot {
    NodeId node;
    bool isNew;
  };
  std::vector<Slot> final;
  final.reserve(parentIt->second.children.size() + inserts.size());
  for (NodeId child : parentIt->second.children) final.push_back({child, false});
  for (const Event& event : inserts) {
    const std::size_t row = std::min(event.row, final.size());
    final.insert(final.begin() + static_cast<std::ptrdiff_t>(row), Slot{event.node, true});
  }

  // Runs of adjacent new rows, lowest first: before each run the children equal `final`
  // without the later runs, so the run's final position is also its current one.
  const QModelIndex parentIndex = indexOf(parentNode);
  for (std::size_t first = 0; first < final.size();) {
    if (!final[first].isNew) {
      ++first;
      continue;
    }
    std::size_t last = first;
    while (last + 1 < final.size() && final[last + 1].isNew) ++last;
    beginInsertRows(parentIndex, static_cast<int>(first), static_cast<int>(last));
    auto& children = entries_[parentNode].children;
    for (std::size_t i = first; i <= last; ++i) {
      const NodeId node = final[i].node;
      children.insert(children.begin() + static_cast<std::ptrdiff_t>(i), node);
      entries_[node] = Entry{parentNode, {}, QString::fromStdString(tree_.text(node)), tree_.kind(node),
                             tree_.needsLogon(node)};
    }
    endInsertRows();
    first = last + 1;
  }
}

const NetworkTreeModel::Entry* NetworkTreeModel::entry(NodeId node) const {
  const auto it = entries_.find(node);
  return it == entries_.end() ? nullptr : &it->second;
}

int NetworkTreeModel::rowOf(NodeId node) const {
  const Entry* self = entry(node);
  if (self == nullptr) return -1;
  // Views ask for parents all the time; a domain can hold thousands of servers, so look where
  // the node was last time before searching.
  const auto& siblings = entry(self->parent)->children;
  if (self->rowHint < siblings.size() && siblings[self->rowHint] == node) {
    return static_cast<int>(self->rowHint);
  }
  const auto it = std::find(siblings.begin(), siblings.end(), node);
  if (it == siblings.end()) return -1;
  self->rowHint = static_cast<std::size_t>(it - siblings.begin());
  return static_cast<int>(self->rowHint);
}

bool NetworkTreeModel::needsLogon(const QModelIndex& index) const {
  const Entry* self = index.isValid() ? entry(nodeAt(index)) : nullptr;
  return self != nullptr && self->needsLogon;
}

NodeId NetworkTreeModel::nodeAt(const QModelIndex& index) const {
  return index.isValid() ? static_cast<NodeId>(index.internalId()) : kNoNode;
}

QModelIndex NetworkTreeModel::indexOf(NodeId node) const {
  if (node == kNoNode) return {};
  const int row = rowOf(node);
  return row < 0 ? QModelIndex() : createIndex(row, 0, static_cast<quintptr>(node));
}

QModelIndex NetworkTreeModel::index(int row, int column, const QModelIndex& parentIndex) const {
  if (column != 0 || row < 0) return {};
  const Entry* parentEntry = entry(nodeAt(parentIndex));
  if (parentEntry == nullptr || static_cast<std::size_t>(row) >= parentEntry->children.size()) {
    return {};
  }
  return createIndex(row, 0, static_cast<quintptr>(parentEntry->children[row]));
}

QModelIndex NetworkTreeModel::parent(const QModelIndex& child) const {
  const Entry* self = entry(nodeAt(child));
  return self == nullptr ? QModelIndex() : indexOf(self->parent);
}

int NetworkTreeModel::rowCount(const QModelIndex& parentIndex) const {
  if (parentIndex.column() > 0) return 0;
  const Entry* self = entry(nodeAt(parentIndex));
  return self == nullptr ? 0 : static_cast<int>(self->children.size());
}

int NetworkTreeModel::columnCount(const QModelIndex&) const { return 1; }

QVariant NetworkTreeModel::data(const QModelIndex& index, int role) const {
  const Entry* self = index.isValid() ? entry(nodeAt(index)) : nullptr;
  if (self == nullptr) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
      return self->text;
    case Qt::DecorationRole:
      return self->needsLogon ? needsLogonIcon_ : icons_[static_cast<int>(self->kind)];
    case Qt::ToolTipRole:
    case Qt::AccessibleDescriptionRole:
      return self->needsLogon ? QString(text::kNeedsLogon) : QVariant();
    default:
      return {};
  }
}

}  // namespace vuv::app
