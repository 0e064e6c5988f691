// The tree model follows the network tree through its observer events, batched on the GUI
// thread, under QAbstractItemModelTester.
#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>
#include <thread>

#include "app/network/network_tree_model.h"

namespace vuv::app::test {

class NetworkTreeModelTest : public QObject {
  Q_OBJECT

  // The model's shape and texts, as "text(child,child)" down from `index`, against the tree's.
  static QString shapeOf(const QAbstractItemModel& model, const QModelIndex& index) {
    QString out = index.isValid() ? index.data().toString() : QString("*");
    if (model.rowCount(index) == 0) return out;
    QStringList children;
    for (int row = 0; row < model.rowCount(index); ++row) {
      children << shapeOf(model, model.index(row, 0, index));
    }
    return out + "(" + children.join(",") + ")";
  }
  static QString shapeOf(const NetworkTree& tree, NodeId node) {
    QString out = node == kNoNode ? QString("*") : QString::fromStdString(tree.text(node));
    const std::vector<NodeId> children = tree.children(node);
    if (children.empty()) return out;
    QStringList parts;
    for (NodeId child : children) parts << shapeOf(tree, child);
    return out + "(" + parts.join(",") + ")";
  }

 private slots:
  void aBurstUnderOneParentIsOneInsertion() {
    NetworkTree tree;
    NetworkTreeModel model(tree);
    const NodeId domain = tree.insertTopLevel("ALPHA", NodeKind::Domain, InsertPosition::Last);
    model.applyPendingEvents();
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    const NodeId server = tree.insert(domain, "S1", NodeKind::Server, InsertPosition::Sorted);
    for (int i = 0; i < 50; ++i) {
      tree.insert(server, "share" + std::to_string(i), NodeKind::Share, InsertPosition::Last);
    }
    for (int i = 50; i > 0; --i) {  // sorted into an empty parent: still one run
      tree.insert(domain, "T" + std::to_string(i), NodeKind::Server, InsertPosition::Sorted);
    }
    model.applyPendingEvents();
    // One for the domain's servers (S1 and the T's form one run), one for S1's shares.
    QCOMPARE(inserted.size(), 2);
    QCOMPARE(model.rowCount(model.indexOf(server)), 50);
    QCOMPARE(model.rowCount(model.indexOf(domain)), 51);
  }

  void eventsFromWorkerThreadsArriveOnTheEventLoop() {
    NetworkTree tree;
    NetworkTreeModel model(tree);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const NodeId root = tree.insertTopLevel(std::string(kRootText), NodeKind::Root, InsertPosition::Last);
    tree.insert(root, "D2", NodeKind::Domain, InsertPosition::Sorted);
    model.applyPendingEvents();  // later batches interleave with rows already shown
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w) {
      workers.emplace_back([&tree, root, w] {
        const NodeId domain = tree.insert(root, "D" + std::to_string(w * 2 + 1), NodeKind::Domain,
                                          w % 2 != 0 ? InsertPosition::Last : InsertPosition::Sorted);
        for (int s = 0; s < 100; ++s) {
          const NodeId server = tree.insert(domain, "S" + std::to_string(s), NodeKind::Server, InsertPosition::Sorted);
          tree.insert(server, "Public", NodeKind::Share, InsertPosition::Last);
        }
      });
    }
    for (std::thread& worker : workers) worker.join();
    QCOMPARE(model.rowCount(model.index(0, 0)), 1);  // nothing changes behind the views' back
    QTRY_COMPARE(shapeOf(model, {}), shapeOf(tree, kNoNode));
    const QModelIndex first = model.index(0, 0, model.index(0, 0));
    QCOMPARE(model.indexOf(model.nodeAt(first)), first);
  }

  // Takes over a tree that is already filled, with its marks; a mark that changes is one
  // dataChanged; a clear drops what came before it.
  void takesOverAFilledTreeFollowsMarksAndAClearDropsWhatCameBefore() {
    NetworkTree tree;
    const NodeId domain = tree.insertTopLevel("ALPHA", NodeKind::Domain, InsertPosition::Last);
    const NodeId s1 = tree.insert(domain, "S1", NodeKind::Server, InsertPosition::Sorted);
    tree.setNeedsLogon(s1, true);
    NetworkTreeModel model(tree);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(shapeOf(model, {}), QString("*(ALPHA(S1))"));
    QVERIFY(model.needsLogon(model.indexOf(s1)));
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    const NodeId s0 = tree.insert(domain, "S0", NodeKind::Server, InsertPosition::Sorted);
    tree.setNeedsLogon(s1, false);
    tree.setNeedsLogon(s0, true);
    model.applyPendingEvents();
    QCOMPARE(shapeOf(model, {}), QString("*(ALPHA(S0,S1))"));
    QVERIFY(model.needsLogon(model.indexOf(s0)) && !model.needsLogon(model.indexOf(s1)));
    QCOMPARE(changed.size(), 2);
    QCOMPARE(changed[0][0].value<QModelIndex>(), model.indexOf(s1));
    // Inserted and cleared before the model saw it: never shown, no stale text.
    tree.insertTopLevel("GONE", NodeKind::Domain, InsertPosition::Last);
    tree.clear();
    const NodeId root = tree.insertTopLevel(std::string(kRootText), NodeKind::Root,
                                    InsertPosition::Last);
    tree.insert(root, "NEW", NodeKind::Domain, InsertPosition::Sorted);
    model.applyPendingEvents();
    QCOMPARE(shapeOf(model, {}), QString("*(MS Windows Network(NEW))"));
  }
};

}  // namespace vuv::app::test

QTEST_MAIN(vuv::app::test::NetworkTreeModelTest)
#include "network_tree_model_test.moc"
