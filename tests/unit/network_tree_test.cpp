#include "tree/network_tree.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "support/tree_dump.h"
#include "tree_file_test_support.h"

namespace vuv {
namespace {

using testing::dump;
using SampleTree = testing::ExampleTree;

TEST(NetworkTree, SortedAndLastInsertion) {
  SampleTree t;
  // Added by name after discovery: last, although it sorts first.
  t.tree.insert(t.root, "AAA", NodeKind::Domain, InsertPosition::Last);
  // Shares keep the server's order, not alphabetical.
  t.tree.insert(t.s1, "ADMIN$", NodeKind::Share, InsertPosition::Last);
  // Sorting ignores case.
  t.tree.insert(t.alpha, "s10", NodeKind::Server, InsertPosition::Sorted);
  t.tree.insert(t.alpha, "Beta", NodeKind::Server, InsertPosition::Sorted);
  EXPECT_EQ(dump(t.tree),
            "MS Windows Network\n"
            "  ALPHA\n"
            "    Beta\n"
            "    S1\n"
            "      C$\n"
            "      Public\n"
            "      ADMIN$\n"
            "    s10\n"
            "    S2\n"
            "  ZETA\n"
            "  AAA\n");
}

TEST(NetworkTree, NodePathAndShareLocation) {
  SampleTree t;
  EXPECT_EQ(t.tree.nodePath(t.root), "MS Windows Network");
  EXPECT_EQ(t.tree.nodePath(t.pub), "MS Windows Network\\ALPHA\\S1\\Public");
  EXPECT_EQ(t.tree.shareLocation(t.pub), "\\\\S1\\Public");
  // A childless server is walked like a share: domain's name, then its own.
  EXPECT_EQ(t.tree.shareLocation(t.s2), "\\\\ALPHA\\S2");
  EXPECT_EQ(t.tree.shareLocation(t.zeta), "\\\\MS Windows Network\\ZETA");
  EXPECT_EQ(t.tree.shareLocation(t.s1), "");  // has children: never a share location

  NetworkTree bare;
  const NodeId added = bare.insertTopLevel("WORKGROUP", NodeKind::Domain, InsertPosition::Last);
  EXPECT_EQ(bare.nodePath(added), "WORKGROUP");
  EXPECT_EQ(bare.root(), kNoNode);
}

TEST(NetworkTree, IdsFromBeforeClearNameNothing) {
  SampleTree t;
  t.tree.clear();
  const NodeId fresh = t.tree.insertTopLevel("NEW", NodeKind::Domain, InsertPosition::Last);
  for (NodeId stale : {t.root, t.alpha, t.pub}) {
    EXPECT_FALSE(t.tree.contains(stale));
    EXPECT_EQ(t.tree.text(stale), "");
    EXPECT_EQ(t.tree.firstChild(stale), kNoNode);
    EXPECT_EQ(t.tree.nextSibling(stale), kNoNode);
    EXPECT_EQ(t.tree.nodePath(stale), "");
    EXPECT_EQ(t.tree.insert(stale, "x", NodeKind::Share, InsertPosition::Last), kNoNode);
  }
  // Guards against inserts under a missing parent landing at the top level.
  EXPECT_EQ(t.tree.insert(kNoNode, "x", NodeKind::Server, InsertPosition::Last), kNoNode);
  EXPECT_NE(fresh, t.root);  // same slot, new generation
  EXPECT_EQ(dump(t.tree), "NEW\n");
}

// A late observer is told of the nodes already there first, so a model built while discovery
// inserts loses none of them.
TEST(NetworkTree, ObserverSeesExistingNodesThenChangesInOrder) {
  NetworkTree tree;
  const NodeId root = tree.insertTopLevel("R", NodeKind::Root, InsertPosition::Last);
  const NodeId m = tree.insert(root, "M", NodeKind::Domain, InsertPosition::Sorted);
  tree.setNeedsLogon(m, true);
  std::vector<std::string> seen;
  tree.setObserver([&](const TreeChange& c) {
    const char* kind = c.kind == TreeChange::Kind::Inserted ? "+" : c.kind == TreeChange::Kind::Changed ? "*" : "clear";
    seen.push_back(kind + std::to_string(c.row));
  });
  tree.insert(root, "A", NodeKind::Domain, InsertPosition::Sorted);
  tree.insert(root, "Z", NodeKind::Domain, InsertPosition::Sorted);
  tree.insert(root, "B", NodeKind::Domain, InsertPosition::Last);
  tree.setNeedsLogon(m, true);  // no change, no notice
  tree.setNeedsLogon(m, false);
  tree.clear();
  EXPECT_EQ(seen, (std::vector<std::string>{"+0", "+0", "*0", "+0", "+2", "+3", "*1", "clear0"}));
  EXPECT_FALSE(tree.needsLogon(m));  // stale
}

// Guards against unsynchronised access while discovery inserts and the search reads.
TEST(NetworkTree, ConcurrentInsertAndRead) {
  NetworkTree tree;
  const NodeId root = tree.insertTopLevel("R", NodeKind::Root, InsertPosition::Last);
  constexpr int kWriters = 4;
  constexpr int kPerWriter = 200;
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      const NodeId domain = tree.insert(root, "D" + std::to_string(w), NodeKind::Domain, InsertPosition::Sorted);
      for (int i = 0; i < kPerWriter; ++i) {
        tree.insert(domain, "S" + std::to_string(i), NodeKind::Server, InsertPosition::Sorted);
      }
    });
  }
  threads.emplace_back([&] {
    for (int i = 0; i < 200; ++i) (void)dump(tree);
  });
  for (auto& thread : threads) thread.join();
  std::size_t servers = 0;
  for (NodeId domain : tree.children(root)) servers += tree.children(domain).size();
  EXPECT_EQ(servers, static_cast<std::size_t>(kWriters * kPerWriter));
}

}  // namespace
}  // namespace vuv
