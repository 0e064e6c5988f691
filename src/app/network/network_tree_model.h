// The network tree as a Qt item model, for the tree view of the main window.
//
// NetworkTree tells of insertions on the inserting (worker) thread; the model queues those
// events and applies them on its own (GUI) thread in one pass per turn of the event loop, so a
// burst of insertions costs one beginInsertRows per run of adjacent new rows under a parent
// (one per parent when they are appended, as shares are, or fill an empty parent).
//
// The model keeps its own copy of the shape (parent, children, text, kind), changed only when
// an event is applied, so the views never see the tree change behind their back.
//
// Thread rules: construct, use and destroy on the GUI thread. Other threads may insert into the
// tree meanwhile: the nodes already there are taken over at construction, atomically with the
// observer's start. The model replaces the tree's observer and removes it in its destructor.
#pragma once

#include <QAbstractItemModel>
#include <QIcon>
#include <array>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "tree/network_tree.h"

namespace vuv::app {

class NetworkTreeModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  explicit NetworkTreeModel(NetworkTree& tree, QObject* parent = nullptr);
  ~NetworkTreeModel() override;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

  NodeId nodeAt(const QModelIndex& index) const;
  // A server that refused guests: its picture carries a padlock, its tooltip and accessible
  // description say that it needs a log-on.
  bool needsLogon(const QModelIndex& index) const;
  QModelIndex indexOf(NodeId node) const;

  // Applies the queued events now instead of at the next turn of the event loop.
  void applyPendingEvents();

 private:
  using Event = TreeChange;
  // Shared with the observer so that a late event never touches a destroyed model.
  struct Inbox {
    std::mutex mutex;
    std::vector<Event> events;  // guarded by mutex
  };
  struct Entry {
    NodeId parent = kNoNode;
    std::vector<NodeId> children;
    QString text;
    NodeKind kind = NodeKind::Domain;
    bool needsLogon = false;
    mutable std::size_t rowHint = 0;  // where the node was last found among its siblings
  };

  void applyInserts(const std::vector<Event>& events);
  void insertUnder(NodeId parent, const std::vector<Event>& inserts);
  const Entry* entry(NodeId node) const;
  int rowOf(NodeId node) const;

  NetworkTree& tree_;
  std::shared_ptr<Inbox> inbox_;
  std::unordered_map<NodeId, Entry> entries_;  // kNoNode holds the top level
  std::array<QIcon, 4> icons_;                 // by NodeKind
  QIcon needsLogonIcon_;                       // a server's, with the padlock
};

}  // namespace vuv::app
