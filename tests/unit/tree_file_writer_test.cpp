#include "treefile/tree_file_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>

#include "support/temp_folder.h"
#include "tree_file_test_support.h"
#include "treefile/atomic_file.h"
#include "treefile/tree_file_format.h"

namespace vuv {
namespace {

using testing::ExampleTree;
using testing::kExampleFile;

// The reader refuses these lines, so the writer must never produce them.
TEST(TreeFileFormat, RefusesNamesThatWouldNotLoadBack) {
  const std::string longest(kTreeFileMaxLineBytes - 1, 'x');  // code + name fill the line
  struct Case {
    std::string name;
    bool writable;
  };
  const Case cases[] = {{"a\nb", false}, {"a\rb", false},        {"trailing\r", false}, {std::string("a\0b", 3), false},
                        {"", false},     {longest + "x", false}, {longest, true},       {"a\tb", true}};
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

class TreeFileSave : public testing::TempFolder {};

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

TEST_F(TreeFileSave, ReplacesWhollyThroughLinksWithTheUsualMode) {
  writeFile(pathOf("real.brk"), std::string(10000, 'z'));
  std::filesystem::create_symlink("real.brk", pathOf("link.brk"));
  ExampleTree t;
  const mode_t old = ::umask(022);
  const Status saved = saveTreeFile(t.tree, t.root, pathOf("link.brk"));
  const Status fresh = saveTreeFile(t.tree, t.root, pathOf("new.brk"));
  ::umask(old);
  ASSERT_TRUE(saved.ok() && fresh.ok());
  EXPECT_TRUE(std::filesystem::is_symlink(pathOf("link.brk")));
  EXPECT_EQ(readFile(pathOf("real.brk")), kExampleFile);
  EXPECT_EQ(entries(), (std::vector<std::string>{"link.brk", "new.brk", "real.brk"}));
  struct stat info {};
  ASSERT_EQ(::stat(pathOf("new.brk").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
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

class FileReplace : public testing::TempFolder {};

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
