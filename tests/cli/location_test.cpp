#include "cli/location.h"

#include <gtest/gtest.h>

#include "browse/in_memory_network.h"
#include "support/tree_dump.h"

namespace vuv::cli {
namespace {

TEST(Location, NodePathsFindTreeNodes) {
  NetworkTree tree;
  const NodeId root = tree.insertTopLevel(std::string(kRootText), NodeKind::Root, InsertPosition::Last);
  const NodeId alpha = tree.insert(root, "ALPHA", NodeKind::Domain, InsertPosition::Sorted);
  const NodeId s1 = tree.insert(alpha, "S1", NodeKind::Server, InsertPosition::Sorted);

  EXPECT_EQ(*findNodeByPath(tree, "MS Windows Network"), root);
  EXPECT_EQ(*findNodeByPath(tree, "MS Windows Network\\ALPHA\\S1"), s1);
  EXPECT_EQ(*findNodeByPath(tree, "ms windows network\\alpha\\s1\\"), s1);
  auto missing = findNodeByPath(tree, "MS Windows Network\\BETA");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().code, ErrorCode::NotFound);
  EXPECT_NE(missing.error().detail.find("BETA"), std::string::npos);
  EXPECT_FALSE(findNodeByPath(tree, "").ok());
}

TEST(Location, NetworkPathsBecomeSearchableNodes) {
  InMemoryNetwork network;
  network.addServer("W", "S1", {"Public", "IPC$"});

  NetworkTree server;
  auto node = placeNetworkPath(server, network, "\\\\S1");
  ASSERT_TRUE(node.ok());
  EXPECT_EQ(testing::dump(server), "S1\n  Public\n  IPC$\n");
  EXPECT_EQ(*node, server.firstChild(kNoNode));

  NetworkTree folder;
  auto deep = placeNetworkPath(folder, network, "\\\\S1\\Public\\dir\\sub\\");
  ASSERT_TRUE(deep.ok());
  EXPECT_EQ(folder.shareLocation(*deep), "\\\\S1\\Public\\dir\\sub");

  for (const char* bad : {"\\\\", "\\\\S1\\\\x", "\\\\S1\\Public\\..\\x", "\\\\NOSUCH"}) {
    SCOPED_TRACE(bad);
    NetworkTree tree;
    EXPECT_FALSE(placeNetworkPath(tree, network, bad).ok());
  }
}

}  // namespace
}  // namespace vuv::cli
