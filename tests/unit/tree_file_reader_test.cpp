#include "treefile/tree_file_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "base/utf8.h"
#include "support/temp_folder.h"
#include "tree_file_test_support.h"
#include "treefile/tree_file_format.h"
#include "treefile/tree_file_writer.h"

namespace vuv {
namespace {

using testing::dumpKinds;
using testing::ExampleTree;
using testing::kExampleFile;

TEST(Utf8, Latin1FallbackOnlyForInvalidText) {
  const std::pair<std::string, std::string> cases[] = {
      {"Caf\xE9", "Caf\xC3\xA9"},
      {"\x80\x9F\xA0\xFF", "\xC2\x80\xC2\x9F\xC2\xA0\xC3\xBF"},  // each byte is its code point
      {"Caf\xC3\xA9", "Caf\xC3\xA9"},                            // valid UTF-8 stays
      // One bad byte makes the whole text Latin-1, including bytes that looked like UTF-8.
      {"\xC3\xA9\xE9", "\xC3\x83\xC2\xA9\xC3\xA9"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(utf8OrLatin1ToUtf8(in), out) << ::testing::PrintToString(in);
}

TEST(TreeFileLoad, GoodFiles) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string tree;  // dumpKinds() below the root line
  };
  const std::string longest(kTreeFileMaxLineBytes - 1, 'x');
  const Case cases[] = {
      // S2 and ZETA were a server and a domain; the file cannot say so.
      {"example", kExampleFile,
       "  Domain ALPHA\n    Server S1\n      Share C$\n      Share Public\n      Share S2\n      Share ZETA\n"},
      {"root's name differing in case is a domain", "0MS WINDOWS NETWORK\n", "  Domain MS WINDOWS NETWORK\n"},
      {"root's name among others is a domain", "0MS Windows Network\n0B\n", "  Domain MS Windows Network\n  Domain B\n"},
      {"childless domains keep file order", "0ZETA\n0ALPHA\n", "  Domain ZETA\n  Domain ALPHA\n"},
      {"0 after a 2 line is a server", "2D\n0S\n0T\n", "  Domain D\n    Server S\n    Server T\n"},
      {"a 2 line closes the server before it", "2A\n1S\n0C\n2B\n0T\n",
       "  Domain A\n    Server S\n      Share C\n  Domain B\n    Server T\n"},
      {"a 2 line without children is a childless domain", "2A\n2B\n", "  Domain A\n  Domain B\n"},
      {"childless domains before the first 2 line", "0X\n2A\n1S\n0C\n",
       "  Domain X\n  Domain A\n    Server S\n      Share C\n"},
      {"CRLF, no final LF", "2A\r\n1S\r\n0C", "  Domain A\n    Server S\n      Share C\n"},
      {"blank lines are skipped", "\n2A\n\n\r\n1S\n0C\n\n\n", "  Domain A\n    Server S\n      Share C\n"},
      {"byte order mark", "\xEF\xBB\xBF" "2A\n0S\n", "  Domain A\n    Server S\n"},
      {"the name is everything after the code", "222\n1 S \n00\n", "  Domain 22\n    Server  S \n      Share 0\n"},
      {"Latin-1 decided line by line", "2Caf\xC3\xA9\n0B\xFCro\n", "  Domain Caf\xC3\xA9\n    Server B\xC3\xBCro\n"},
      {"longest line", "0" + longest + "\n", "  Domain " + longest + "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NetworkTree tree;
    auto root = parseTree(c.bytes, tree);
    ASSERT_TRUE(root.ok()) << describe(root.error());
    EXPECT_EQ(dumpKinds(tree), "Root MS Windows Network\n" + c.tree);
  }
}

// The detail names the line (0: the file as a whole); its words are the reader's own.
TEST(TreeFileLoad, BadFilesAreRefusedAndTheTreeKept) {
  const std::string longLine = "0" + std::string(kTreeFileMaxLineBytes, 'x');
  std::string manyLines;
  for (std::size_t i = 0; i <= kTreeFileMaxLines; ++i) manyLines += "0a\n";
  struct Case {
    const char* name;
    std::string bytes;
    int line;
  };
  const Case cases[] = {
      {"empty", "", 0}, {"blank lines only", "\n\r\n\n", 0}, {"byte order mark only", "\xEF\xBB\xBF", 0},
      {"unknown digit", "2A\n3B\n", 2}, {"leading space", " 2A\n", 1}, {"8-bit byte", "\xE9t\xE9\n", 1},
      {"blank lines count", "2A\n\n\n\n\n\n9B\n", 7}, {"code without a name", "2A\n\n1S\n0\n", 4},
      {"code without a name before CRLF", "2\r\n", 1}, {"server line first", "1S\n0C\n", 1},
      {"server line after childless domains", "0D\n0E\n1S\n", 3}, {"NUL", std::string("2A\n0B\0\n", 7), 0},
      {"CR inside a name", "2A\n0B\rC\n", 2}, {"line too long", "2A\n" + longLine + "\n", 2},
      {"line too long without LF", "2A\n" + longLine, 2},
      {"Latin-1 too long once converted", "0" + std::string(kTreeFileMaxLineBytes / 2, '\xE9'), 1},
      {"too many lines", manyLines, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExampleTree t;
    const std::string before = dumpKinds(t.tree);
    auto root = parseTree(c.bytes, t.tree);
    ASSERT_FALSE(root.ok());
    EXPECT_EQ(root.error().code, ErrorCode::BadFormat);
    EXPECT_EQ(root.error().detail.starts_with("line "), c.line > 0) << root.error().detail;
    if (c.line > 0) {
      EXPECT_TRUE(root.error().detail.starts_with("line " + std::to_string(c.line) + ":")) << root.error().detail;
    }
    EXPECT_EQ(dumpKinds(t.tree), before);
  }
}

TEST(TreeFileLoad, FileSizeBoundIsExact) {
  const std::string line = "0" + std::string(kTreeFileMaxLineBytes - 2, 'x') + "\n";
  std::string atBound;
  while (atBound.size() + line.size() <= kTreeFileMaxBytes) atBound += line;
  atBound.append(kTreeFileMaxBytes - atBound.size(), '\n');
  NetworkTree tree;
  EXPECT_TRUE(parseTree(atBound, tree).ok());
  atBound.push_back('\n');
  EXPECT_FALSE(parseTree(atBound, tree).ok());
}

// Save, load, save: the second file equals the first, also where the load guessed kinds; so
// the writer puts out every shape the reader builds.
TEST(TreeFileLoad, RoundTrip) {
  for (const char* file : {kExampleFile, "0MS Windows Network\n", "0ZETA\n0ALPHA\n", "2D\n0S\n",
                           "2ALPHA\n1S1\n0C$\n2ADDED\n0S9\n", "2B\xC3\xBCro \n12nd floor\n0\xE2\x82\xAC\n"}) {
    SCOPED_TRACE(file);
    NetworkTree tree;
    auto root = parseTree(file, tree);
    ASSERT_TRUE(root.ok()) << describe(root.error());
    EXPECT_EQ(tree.root(), *root);
    auto saved = formatTree(tree, *root);
    ASSERT_TRUE(saved.ok()) << describe(saved.error());
    EXPECT_EQ(*saved, file);
  }
}

TEST(TreeFileLoad, ReplacesTheWholeTree) {
  ExampleTree t;
  t.tree.insertTopLevel("STRAY", NodeKind::Domain, InsertPosition::Last);
  ASSERT_TRUE(parseTree("0NEW\n", t.tree).ok());
  EXPECT_FALSE(t.tree.contains(t.root));
  EXPECT_EQ(dumpKinds(t.tree), "Root MS Windows Network\n  Domain NEW\n");
}

class TreeFileLoadFromDisk : public testing::TempFolder {};

TEST_F(TreeFileLoadFromDisk, UnreadableFilesAreRefusedAndTheTreeKept) {
  std::filesystem::create_directory(pathOf("folder.brk"));
  ASSERT_EQ(::mkfifo(pathOf("fifo.brk").c_str(), 0600), 0);  // no writer: must not block
  writeFile(pathOf("plain"), kExampleFile);
  writeFile(pathOf("bad.brk"), "2A\n7B\n");
  writeFile(pathOf("big.brk"), kExampleFile);
  std::filesystem::resize_file(pathOf("big.brk"), kTreeFileMaxBytes + 1);  // sparse
  struct Case {
    std::string path;
    ErrorCode code;
    int errnoValue;
  };
  const Case cases[] = {
      {pathOf("missing.brk"), ErrorCode::Io, ENOENT}, {pathOf("plain/tree.brk"), ErrorCode::Io, ENOTDIR},
      {pathOf("folder.brk"), ErrorCode::Io, EISDIR},  {pathOf("fifo.brk"), ErrorCode::BadFormat, 0},
      {pathOf("bad.brk"), ErrorCode::BadFormat, 0},   {pathOf("big.brk"), ErrorCode::BadFormat, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    ExampleTree t;
    const std::string before = dumpKinds(t.tree);
    auto root = loadTreeFile(c.path, t.tree);
    ASSERT_FALSE(root.ok());
    EXPECT_EQ(root.error().code, c.code) << describe(root.error());
    EXPECT_EQ(root.error().systemCode, c.errnoValue);
    if (c.code == ErrorCode::Io) {
      EXPECT_NE(root.error().detail.find(c.path), std::string::npos) << root.error().detail;
    }
    EXPECT_EQ(dumpKinds(t.tree), before);
  }
}

}  // namespace
}  // namespace vuv
