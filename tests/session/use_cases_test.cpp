// The use cases both front ends call, on the in-memory network: discovery asks no one and
// marks a refusing server, log-on fills it in, locations, a loaded tree's addresses reaching
// the desktop's URL, and copies.
#include "session/use_cases.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "support/in_memory_access.h"
#include "support/recording_diagnostics.h"
#include "support/tree_dump.h"

namespace vuv::session {
namespace {

struct UseCasesTest : ::testing::Test {
  testing::InMemoryAccess access;
  UseCases uses{access};
  NetworkTree tree;
  std::filesystem::path folder;

  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "vuv-usecases-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(folder); }

  NodeId nodeAt(std::string_view path) {
    auto node = uses.locate(tree, path, {});
    EXPECT_TRUE(node.ok()) << path;
    return node.ok() ? *node : kNoNode;
  }
  // By exact names, without the use case.
  NodeId child(NodeId parent, std::string_view name) const {
    for (NodeId node : tree.children(parent)) {
      if (tree.text(node) == name) return node;
    }
    return kNoNode;
  }
};

TEST_F(UseCasesTest, DiscoveryAsksNoOneAndLogOnFillsInTheRefusingServer) {
  access.network.addServer("ALPHA", "S1", {"a"});
  access.network.addServer("ALPHA", "S2", {});
  access.network.failShares("S2", EACCES);
  InMemoryNetwork answered;  // S2 once the person has answered
  answered.addServer("ALPHA", "S2", {"private", "public"});

  testing::RecordingDiagnostics diagnostics;
  std::vector<std::string> failed;
  DiscoveryEvents events;
  events.failed = [&](RunId, const ListingFailure& failure) { failed.push_back(failure.path); };
  ASSERT_TRUE(uses.discover(tree, {"ADDED"}, diagnostics, events, {}).ok());
  EXPECT_EQ(testing::dump(tree), "MS Windows Network\n  ALPHA\n    S1\n      a\n    S2\n  ADDED\n");
  EXPECT_EQ(failed, std::vector<std::string>{"\\\\S2"});
  const NodeId alpha = child(child(kNoNode, kRootText), "ALPHA");
  const NodeId s2 = child(alpha, "S2");
  EXPECT_TRUE(tree.needsLogon(s2));
  EXPECT_FALSE(tree.needsLogon(child(alpha, "S1")));

  // Refused again: the mark stays and the error names the server.
  const Status refused = uses.logOn(tree, s2, {});
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().code, ErrorCode::AccessDenied);
  EXPECT_NE(describe(refused.error()).find("\\\\S2"), std::string::npos);
  EXPECT_TRUE(tree.needsLogon(s2));

  access.asking = &answered;
  ASSERT_TRUE(uses.logOn(tree, s2, {}).ok());
  EXPECT_FALSE(tree.needsLogon(s2));
  ASSERT_TRUE(uses.logOn(tree, s2, {}).ok());  // a second time adds nothing
  // Each listing log-on asks again about S2, even if the person declined earlier in the run.
  EXPECT_EQ(access.askedAgain, (std::vector<std::string>{"S2", "S2"}));
  EXPECT_EQ(testing::dump(tree), "MS Windows Network\n  ALPHA\n    S1\n      a\n    S2\n      private\n      public\n  ADDED\n");
  EXPECT_FALSE(uses.logOn(tree, alpha, {}).ok());  // not a server
}

TEST_F(UseCasesTest, StoppedDiscoveryEndsCancelled) {
  access.network.addServer("ALPHA", "S1", {"a"});
  std::stop_source stop;
  stop.request_stop();
  testing::RecordingDiagnostics diagnostics;
  const Status stopped = uses.discover(tree, {"ADDED"}, diagnostics, {}, stop.get_token());
  ASSERT_FALSE(stopped.ok());
  EXPECT_EQ(stopped.error().code, ErrorCode::Cancelled);
}

TEST_F(UseCasesTest, NodePathsFindTreeNodes) {
  const NodeId root = tree.insertTopLevel(std::string(kRootText), NodeKind::Root, InsertPosition::Last);
  const NodeId alpha = tree.insert(root, "ALPHA", NodeKind::Domain, InsertPosition::Sorted);
  const NodeId s1 = tree.insert(alpha, "S1", NodeKind::Server, InsertPosition::Sorted);
  EXPECT_EQ(nodeAt("MS Windows Network"), root);
  EXPECT_EQ(nodeAt("MS Windows Network\\ALPHA\\S1"), s1);
  EXPECT_EQ(nodeAt("ms windows network\\alpha\\s1\\"), s1);
  auto missing = uses.locate(tree, "MS Windows Network\\BETA", {});
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().code, ErrorCode::NotFound);
  EXPECT_NE(missing.error().detail.find("BETA"), std::string::npos);
  EXPECT_FALSE(uses.locate(tree, "", {}).ok());

  // A search aimed at a server that refused guests asks for its shares first.
  tree.setNeedsLogon(s1, true);
  InMemoryNetwork answered;
  answered.addServer("ALPHA", "S1", {"docs"});
  access.asking = &answered;
  EXPECT_EQ(nodeAt("MS Windows Network\\ALPHA\\S1"), s1);
  EXPECT_FALSE(tree.needsLogon(s1));
  EXPECT_TRUE(tree.hasChildren(s1));
}

TEST_F(UseCasesTest, NetworkPathsBecomeSearchableNodes) {
  access.network.addServer("W", "S1", {"Public", "IPC$"});
  access.announced["S1"] = "10.0.0.1";
  std::vector<std::string> notes;
  auto server = uses.locate(tree, "\\\\S1", {}, [&](const Error& e) { notes.push_back(describe(e)); });
  ASSERT_TRUE(server.ok());
  EXPECT_EQ(testing::dump(tree), "S1\n  Public\n  IPC$\n");
  EXPECT_EQ(access.book.lookup("S1"), "10.0.0.1");  // looked up before it was listed
  EXPECT_TRUE(notes.empty());

  NetworkTree deepTree;
  auto deep = uses.locate(deepTree, "\\\\S1\\Public\\dir\\sub\\", {});
  ASSERT_TRUE(deep.ok());
  EXPECT_EQ(deepTree.shareLocation(*deep), "\\\\S1\\Public\\dir\\sub");

  for (const char* bad : {"\\\\", "\\\\S1\\\\x", "\\\\S1\\Public\\..\\x", "\\\\NOSUCH"}) {
    SCOPED_TRACE(bad);
    NetworkTree scratch;
    EXPECT_FALSE(uses.locate(scratch, bad, {}).ok());
  }
}

// The window's road to a server known only by WS-Discovery: its address reaches the desktop.
TEST_F(UseCasesTest, LoadedTreeLearnsAnnouncedAddressesForTheDesktop) {
  const std::string file = (folder / "saved.brk").string();
  std::ofstream(file) << "2WORK\n1W9\n0docs\n";
  access.announced["W9"] = "10.1.2.3";
  ASSERT_TRUE(uses.loadTree(file, tree).ok());
  EXPECT_EQ(testing::dump(tree), "MS Windows Network\n  WORK\n    W9\n      docs\n");
  EXPECT_EQ(*uses.desktopUrl("\\\\W9\\docs\\a b.txt"), "smb://W9/docs/a%20b.txt");
  ASSERT_TRUE(uses.learnAddresses({}).ok());
  EXPECT_EQ(*uses.desktopUrl("\\\\W9\\docs\\a b.txt"), "smb://10.1.2.3/docs/a%20b.txt");
  EXPECT_FALSE(uses.desktopUrl("W9\\docs").ok());

  EXPECT_FALSE(uses.loadTree((folder / "missing.brk").string(), tree).ok());
  EXPECT_EQ(testing::dump(tree), "MS Windows Network\n  WORK\n    W9\n      docs\n");
}

TEST_F(UseCasesTest, CopyTakesTheServersSpellingAndNamesWhatItCouldNotFind) {
  access.shares.addFile("\\\\S1\\docs\\Report.txt", 3 * InMemoryShares::kReadChunk);
  access.shares.addFile("\\\\S1\\docs\\sub\\b.bin", 5);
  std::uint64_t total = 0;
  const auto progress = [&](const TransferProgress& p) { total = p.bytesTotal; };
  auto copied = uses.copy("\\\\S1\\docs\\report.txt", folder.string(), false, {}, progress);
  ASSERT_TRUE(copied.ok()) << describe(copied.error());
  EXPECT_EQ(*copied, (folder / "Report.txt").string());
  EXPECT_EQ(std::filesystem::file_size(*copied), 3 * InMemoryShares::kReadChunk);
  EXPECT_EQ(total, 3 * InMemoryShares::kReadChunk);
  ASSERT_TRUE(uses.copy("\\\\S1\\docs\\sub", folder.string(), false, {}, {}).ok());  // a folder
  EXPECT_EQ(std::filesystem::file_size(folder / "sub" / "b.bin"), 5u);

  auto missing = uses.copy("\\\\S1\\docs\\nope.txt", folder.string(), false, {}, {});
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().detail, "Could not copy \\\\S1\\docs\\nope.txt");
  auto taken = uses.copy("\\\\S1\\docs\\Report.txt", folder.string(), false, {}, {});
  ASSERT_FALSE(taken.ok());
  EXPECT_EQ(taken.error().code, ErrorCode::AlreadyExists);
}

}  // namespace
}  // namespace vuv::session
