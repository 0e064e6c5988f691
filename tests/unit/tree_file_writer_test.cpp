#include "treefile/tree_file_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>

#include "tree_file_test_support.h"
#include "treefile/atomic_file.h"
#include "treefile/tree_file_format.h"

namespace vuv {
namespace {

using testing::ExampleTree;
using testing::kExampleFile;

NodeId newRoot(NetworkTree& tree) {
  return tree.insertTopLevel(std::string(kRootText), NodeKind::Root, InsertPosition::Last);
}

TEST(TreeFileFormat, LinesFollowTheTree) {
  struct Case {
    const char* name;
    std::function<NodeId(NetworkTree&)> build;  // returns the root to save
    std::string expected;
  };
  const Case cases[] = {
      {"discovery found nothing",
       [](NetworkTree& t) { return newRoot(t); },
       "0MS Windows Network\n"},
      {"domain without servers",
       [](NetworkTree& t) {
         const NodeId root = newRoot(t);
         t.insert(root, "WORKGROUP", NodeKind::Domain, InsertPosition::Sorted);
         return root;
       },
       "0WORKGROUP\n"},
      {"server without shares is a 0 line under its domain's 2 line",
       [](NetworkTree& t) {
         const NodeId root = newRoot(t);
         const NodeId d = t.insert(root, "D", NodeKind::Domain, InsertPosition::Sorted);
         t.insert(d, "S", NodeKind::Server, InsertPosition::Sorted);
         return root;
       },
       "2D\n0S\n"},
      {"domain added by name comes last although it sorts first",
       [](NetworkTree& t) {
         const NodeId root = newRoot(t);
         const NodeId alpha = t.insert(root, "ALPHA", NodeKind::Domain, InsertPosition::Sorted);
         const NodeId s1 = t.insert(alpha, "S1", NodeKind::Server, InsertPosition::Sorted);
         t.insert(s1, "C$", NodeKind::Share, InsertPosition::Last);
         const NodeId added = t.insert(root, "ADDED", NodeKind::Domain, InsertPosition::Last);
         t.insert(added, "S9", NodeKind::Server, InsertPosition::Sorted);
         return root;
       },
       "2ALPHA\n1S1\n0C$\n2ADDED\n0S9\n"},
      {"deeper than a network: every inner level below the top is code 1",
       [](NetworkTree& t) {
         const NodeId root = newRoot(t);
         const NodeId a = t.insert(root, "A", NodeKind::Domain, InsertPosition::Last);
         const NodeId b = t.insert(a, "B", NodeKind::Server, InsertPosition::Last);
         const NodeId c = t.insert(b, "C", NodeKind::Share, InsertPosition::Last);
         t.insert(c, "D", NodeKind::Share, InsertPosition::Last);
         t.insert(root, "E", NodeKind::Domain, InsertPosition::Last);
         return root;
       },
       "2A\n1B\n1C\n0D\n0E\n"},
      {"names are written as they are: UTF-8, spaces, leading digits",
       [](NetworkTree& t) {
         const NodeId root = newRoot(t);
         const NodeId d = t.insert(root, "Büro ", NodeKind::Domain, InsertPosition::Last);
         const NodeId s = t.insert(d, "2nd floor", NodeKind::Server, InsertPosition::Last);
         t.insert(s, "0", NodeKind::Share, InsertPosition::Last);
         return root;
       },
       "2Büro \n12nd floor\n00\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NetworkTree tree;
    const NodeId root = c.build(tree);
    auto bytes = formatTree(tree, root);
    ASSERT_TRUE(bytes.ok()) << describe(bytes.error());
    EXPECT_EQ(*bytes, c.expected);
  }
}

// The reader refuses these lines, so the writer must never produce them.
TEST(TreeFileFormat, RefusesNamesThatWouldNotLoadBack) {
  const std::string longest(kTreeFileMaxLineBytes - 1, 'x');  // code + name fill the line
  struct Case {
    std::string name;
    bool writable;
  };
  const Case cases[] = {
      {"a\nb", false},
      {"a\rb", false},
      {"trailing\r", false},
      {std::string("a\0b", 3), false},
      {"", false},
      {longest + "x", false},
      {longest, true},
      {"a\tb", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.name.substr(0, 20)));
    ExampleTree t;
    t.tree.insert(t.s2, c.name, NodeKind::Share, InsertPosition::Last);
    auto bytes = formatTree(t.tree, t.root);
    EXPECT_EQ(bytes.ok(), c.writable);
    if (!bytes.ok()) {
      EXPECT_EQ(bytes.error().code, ErrorCode::InvalidArgument);
      EXPECT_NE(bytes.error().detail.find("MS Windows Network\\ALPHA\\S2\\"), std::string::npos)
          << bytes.error().detail;
      EXPECT_FALSE(isNothingToSave(bytes.error()));
    }
  }
}

TEST(TreeFileFormat, RefusesARootNameWithALineBreak) {
  NetworkTree tree;
  const NodeId root = tree.insertTopLevel("MS\nWindows", NodeKind::Root, InsertPosition::Last);
  auto bytes = formatTree(tree, root);
  ASSERT_FALSE(bytes.ok());
  EXPECT_NE(bytes.error().detail.find("MS\\nWindows"), std::string::npos) << bytes.error().detail;
}

class TreeFileSave : public testing::ScratchFolder {};

TEST_F(TreeFileSave, NothingToSaveWithoutARoot) {
  ExampleTree t;
  const NodeId stale = t.root;
  NetworkTree empty;
  t.tree.clear();
  struct Case {
    const char* name;
    const NetworkTree& tree;
    NodeId root;
  };
  const Case cases[] = {{"no root yet", empty, kNoNode}, {"root of a cleared tree", t.tree, stale}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Status saved = saveTreeFile(c.tree, c.root, pathOf("tree.brk"));
    ASSERT_FALSE(saved.ok());
    EXPECT_TRUE(isNothingToSave(saved.error()));
    EXPECT_TRUE(entries().empty());
  }
}

TEST_F(TreeFileSave, ReplacesAnExistingFileWholly) {
  writeFile(pathOf("tree.brk"), std::string(10000, 'z'));
  ExampleTree t;
  ASSERT_TRUE(saveTreeFile(t.tree, t.root, pathOf("tree.brk")).ok());
  EXPECT_EQ(readFile(pathOf("tree.brk")), kExampleFile);
  EXPECT_EQ(entries(), std::vector<std::string>{"tree.brk"});
}

TEST_F(TreeFileSave, NewFileGetsTheUsualMode) {
  const mode_t old = ::umask(022);
  ExampleTree t;
  const Status saved = saveTreeFile(t.tree, t.root, pathOf("tree.brk"));
  ::umask(old);
  ASSERT_TRUE(saved.ok());
  struct stat info {};
  ASSERT_EQ(::stat(pathOf("tree.brk").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
}

TEST_F(TreeFileSave, ThroughASymbolicLinkUpdatesTheLinkedFile) {
  writeFile(pathOf("real.brk"), "old");
  std::filesystem::create_symlink("real.brk", pathOf("link.brk"));
  ExampleTree t;
  ASSERT_TRUE(saveTreeFile(t.tree, t.root, pathOf("link.brk")).ok());
  EXPECT_TRUE(std::filesystem::is_symlink(pathOf("link.brk")));
  EXPECT_EQ(readFile(pathOf("real.brk")), kExampleFile);
}

// Tests run as root, so permission bits stop nothing: these paths fail for every user.
TEST_F(TreeFileSave, UncreatableFileIsAnIoErrorAndChangesNothing) {
  writeFile(pathOf("plain"), "not a folder");
  std::filesystem::create_directory(pathOf("folder.brk"));
  struct Case {
    const char* name;
    std::string path;
    int errnoValue;
  };
  const Case cases[] = {
      {"folder does not exist", pathOf("missing/tree.brk"), ENOENT},
      {"a path component is a regular file", pathOf("plain/tree.brk"), ENOTDIR},
      {"target is a folder", pathOf("folder.brk"), EISDIR},
  };
  ExampleTree t;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Status saved = saveTreeFile(t.tree, t.root, c.path);
    ASSERT_FALSE(saved.ok());
    EXPECT_EQ(saved.error().code, ErrorCode::Io);
    EXPECT_EQ(saved.error().systemCode, c.errnoValue);
    EXPECT_NE(saved.error().detail.find(c.path), std::string::npos);
    EXPECT_EQ(entries(), (std::vector<std::string>{"folder.brk", "plain"}));
    EXPECT_EQ(readFile(pathOf("plain")), "not a folder");
    EXPECT_TRUE(std::filesystem::is_empty(pathOf("folder.brk")));
  }
}

class FileReplace : public testing::ScratchFolder {};

// Guards against the old fault: a failed write went unnoticed and left a truncated file.
TEST_F(FileReplace, AnyFailingStepKeepsTheOldFileAndLeavesNoTemporary) {
  const std::string old = "2OLD\n0KEEP\n";
  const std::string replacement(100000, 'n');
  struct Case {
    const char* name;
    std::function<void(FileReplaceCalls&)> breakOne;
    int errnoValue;
  };
  const auto failWith = [](int err) {
    return [err](auto&&...) {
      errno = err;
      return -1;
    };
  };
  const Case cases[] = {
      {"create", [&](FileReplaceCalls& c) { c.open = failWith(EACCES); }, EACCES},
      {"first write", [&](FileReplaceCalls& c) { c.write = failWith(ENOSPC); }, ENOSPC},
      {"write after a partial one",
       [](FileReplaceCalls& c) {
         c.write = [calls = 0](int fd, const void* data, size_t size) mutable -> ssize_t {
           if (++calls == 2) {
             errno = EIO;
             return -1;
           }
           return ::write(fd, data, size / 2);
         };
       },
       EIO},
      {"write that accepts nothing",
       [](FileReplaceCalls& c) { c.write = [](auto&&...) -> ssize_t { return 0; }; }, EIO},
      {"fsync", [&](FileReplaceCalls& c) { c.fsync = failWith(EIO); }, EIO},
      {"close",
       [](FileReplaceCalls& c) {
         c.close = [](int fd) {
           ::close(fd);
           errno = EDQUOT;
           return -1;
         };
       },
       EDQUOT},
      {"rename", [&](FileReplaceCalls& c) { c.rename = failWith(EXDEV); }, EXDEV},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(pathOf("tree.brk"), old);
    FileReplaceCalls calls = FileReplaceCalls::system();
    c.breakOne(calls);
    const Status replaced = replaceFileContents(pathOf("tree.brk"), replacement, calls);
    ASSERT_FALSE(replaced.ok());
    EXPECT_EQ(replaced.error().code, ErrorCode::Io);
    EXPECT_EQ(replaced.error().systemCode, c.errnoValue);
    EXPECT_EQ(readFile(pathOf("tree.brk")), old);
    EXPECT_EQ(entries(), std::vector<std::string>{"tree.brk"});
  }
}

TEST_F(FileReplace, ShortAndInterruptedWritesStillWriteEverything) {
  FileReplaceCalls calls = FileReplaceCalls::system();
  calls.write = [n = 0](int fd, const void* data, size_t size) mutable -> ssize_t {
    if (++n % 3 == 0) {
      errno = EINTR;
      return -1;
    }
    return ::write(fd, data, std::min<size_t>(size, 7));
  };
  const std::string bytes = kExampleFile;
  ASSERT_TRUE(replaceFileContents(pathOf("tree.brk"), bytes, calls).ok());
  EXPECT_EQ(readFile(pathOf("tree.brk")), bytes);
}

}  // namespace
}  // namespace vuv
