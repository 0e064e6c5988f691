#include "treefile/tree_file_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "base/utf8.h"
#include "tree_file_test_support.h"
#include "treefile/tree_file_format.h"
#include "treefile/tree_file_writer.h"

namespace vuv {
namespace {

using testing::dumpKinds;
using testing::ExampleTree;
using testing::kExampleFile;

// --- The Latin-1 fallback the reader rests on ---

TEST(Utf8, Validity) {
  struct Case {
    std::string bytes;
    bool valid;
  };
  const Case cases[] = {
      {"", true},
      {"plain ASCII", true},
      {"B\xC3\xBCro", true},                 // ü
      {"\xE2\x82\xAC", true},                // €, three bytes
      {"\xF0\x9F\x98\x80", true},            // U+1F600, four bytes
      {"\xF4\x8F\xBF\xBF", true},            // U+10FFFF, the last code point
      {"\xED\x9F\xBF", true},                // U+D7FF, just below the surrogates
      {"B\xFCro", false},                    // Latin-1 ü
      {"\xC3", false},                       // cut off
      {"\xE2\x82", false},                   // cut off
      {"\xC0\xAF", false},                   // overlong '/'
      {"\xC1\xBF", false},                   // overlong
      {"\xE0\x9F\xBF", false},               // overlong three-byte form
      {"\xF0\x8F\xBF\xBF", false},           // overlong four-byte form
      {"\xED\xA0\x80", false},               // surrogate U+D800
      {"\xF4\x90\x80\x80", false},           // above U+10FFFF
      {"\xF5\x80\x80\x80", false},
      {"\x80", false},                       // lone continuation byte
      {"\xE2\x28\xA1", false},               // bad continuation byte
      {"\xFF", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(isValidUtf8(c.bytes), c.valid) << ::testing::PrintToString(c.bytes);
  }
}

TEST(Utf8, Latin1FallbackOnlyForInvalidText) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"Caf\xE9", "Caf\xC3\xA9"},
      {"\x80\x9F\xA0\xFF", "\xC2\x80\xC2\x9F\xC2\xA0\xC3\xBF"},  // each byte is its code point
      {"Caf\xC3\xA9", "Caf\xC3\xA9"},                            // valid UTF-8 stays
      {"ASCII", "ASCII"},
      // One bad byte makes the whole text Latin-1, including bytes that looked like UTF-8.
      {"\xC3\xA9\xE9", "\xC3\x83\xC2\xA9\xC3\xA9"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utf8OrLatin1ToUtf8(c.in), c.out) << ::testing::PrintToString(c.in);
  }
}

// --- Loading ---

Result<std::string> load(std::string_view bytes, NetworkTree& tree) {
  auto root = parseTree(bytes, tree);
  if (!root) return root.error();
  return dumpKinds(tree);
}

TEST(TreeFileLoad, GoodFiles) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string tree;  // dumpKinds() below the root line
  };
  const Case cases[] = {
      // S2 and ZETA were a server and a domain; the file cannot say so.
      {"example", kExampleFile,
       "  Domain ALPHA\n    Server S1\n      Share C$\n      Share Public\n      Share S2\n      Share ZETA\n"},
      {"root only", "0MS Windows Network\n", ""},
      {"root only, no final LF", "0MS Windows Network", ""},
      {"root only, CRLF", "0MS Windows Network\r\n", ""},
      {"root's name differing in case is a domain", "0MS WINDOWS NETWORK\n",
       "  Domain MS WINDOWS NETWORK\n"},
      {"root's name among others is a domain", "0MS Windows Network\n0B\n",
       "  Domain MS Windows Network\n  Domain B\n"},
      {"childless domains keep file order", "0ZETA\n0ALPHA\n",
       "  Domain ZETA\n  Domain ALPHA\n"},
      {"0 after a 2 line is a server", "2D\n0S\n0T\n",
       "  Domain D\n    Server S\n    Server T\n"},
      {"a 2 line closes the server before it", "2A\n1S\n0C\n2B\n0T\n",
       "  Domain A\n    Server S\n      Share C\n  Domain B\n    Server T\n"},
      {"a 2 line without children is a childless domain", "2A\n2B\n",
       "  Domain A\n  Domain B\n"},
      {"childless domains before the first 2 line", "0X\n2A\n1S\n0C\n",
       "  Domain X\n  Domain A\n    Server S\n      Share C\n"},
      {"CRLF line ends", "2A\r\n1S\r\n0C\r\n", "  Domain A\n    Server S\n      Share C\n"},
      {"no final LF", "2A\n1S\n0C", "  Domain A\n    Server S\n      Share C\n"},
      {"blank lines are skipped", "\n2A\n\n\r\n1S\n0C\n\n\n",
       "  Domain A\n    Server S\n      Share C\n"},
      {"byte order mark", "\xEF\xBB\xBF" "2A\n0S\n", "  Domain A\n    Server S\n"},
      {"the name is everything after the code", "222\n1 S \n00\n",
       "  Domain 22\n    Server  S \n      Share 0\n"},
      {"Latin-1 line becomes UTF-8", "2Caf\xE9\n0S\n", "  Domain Caf\xC3\xA9\n    Server S\n"},
      {"decided line by line", "2Caf\xC3\xA9\n0B\xFCro\n",
       "  Domain Caf\xC3\xA9\n    Server B\xC3\xBCro\n"},
      {"longest line", "0" + std::string(kTreeFileMaxLineBytes - 1, 'x') + "\n",
       "  Domain " + std::string(kTreeFileMaxLineBytes - 1, 'x') + "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NetworkTree tree;
    auto loaded = load(c.bytes, tree);
    ASSERT_TRUE(loaded.ok()) << describe(loaded.error());
    EXPECT_EQ(*loaded, "Root MS Windows Network\n" + c.tree);
  }
}

TEST(TreeFileLoad, BadFilesAreRefusedAndTheTreeKept) {
  const std::string longLine = "0" + std::string(kTreeFileMaxLineBytes, 'x');
  struct Case {
    const char* name;
    std::string bytes;
    std::string detail;
  };
  const Case cases[] = {
      {"empty", "", "the file is empty"},
      {"blank lines only", "\n\r\n\n", "the file holds only blank lines"},
      {"byte order mark only", "\xEF\xBB\xBF", "the file holds only blank lines"},
      {"unknown digit", "2A\n3B\n", "line 2: unknown line code '3'"},
      {"letter", "2A\n0S\nxB\n", "line 3: unknown line code 'x'"},
      {"leading space", " 2A\n", "line 1: unknown line code ' '"},
      {"tab", "\t2A\n", "line 1: unknown line code byte 0x09"},
      {"8-bit byte", "\xE9t\xE9\n", "line 1: unknown line code byte 0xE9"},
      {"blank lines count", "2A\n\n\n\n\n\n9B\n", "line 7: unknown line code '9'"},
      {"code without a name", "2A\n\n1S\n0\n", "line 4: no name after the line code"},
      {"code without a name before CRLF", "2\r\n", "line 1: no name after the line code"},
      {"server line first", "1S\n0C\n", "line 1: server line (code 1) before any domain line"},
      {"server line after childless domains", "0D\n0E\n1S\n",
       "line 3: server line (code 1) before any domain line"},
      {"NUL", std::string("2A\n0B\0\n", 7), "not a network tree file: NUL byte on line 2"},
      {"NUL after a good line", std::string("2A\n\0", 4),
       "not a network tree file: NUL byte on line 2"},
      {"CR inside a name", "2A\n0B\rC\n", "line 2: carriage return inside the line"},
      {"two CRs", "2A\r\r\n", "line 1: carriage return inside the line"},
      {"line too long", "2A\n" + longLine + "\n", "line 2: longer than 4096 bytes"},
      {"line too long without LF", "2A\n" + longLine, "line 2: longer than 4096 bytes"},
      {"Latin-1 too long once converted", "0" + std::string(kTreeFileMaxLineBytes / 2, '\xE9'),
       "line 1: longer than 4096 bytes as UTF-8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExampleTree t;
    const std::string before = dumpKinds(t.tree);
    auto root = parseTree(c.bytes, t.tree);
    ASSERT_FALSE(root.ok());
    EXPECT_EQ(root.error().code, ErrorCode::BadFormat);
    EXPECT_EQ(root.error().detail.substr(0, c.detail.size()), c.detail) << root.error().detail;
    EXPECT_TRUE(t.tree.contains(t.root));
    EXPECT_EQ(dumpKinds(t.tree), before);
  }
}

TEST(TreeFileLoad, FileAndLineCountBounds) {
  // Exactly at the bound: whole lines of the longest size.
  const std::string line = "0" + std::string(kTreeFileMaxLineBytes - 2, 'x') + "\n";
  std::string atBound;
  atBound.reserve(kTreeFileMaxBytes + 1);
  while (atBound.size() + line.size() <= kTreeFileMaxBytes) atBound += line;
  atBound.append(kTreeFileMaxBytes - atBound.size(), '\n');
  ASSERT_EQ(atBound.size(), kTreeFileMaxBytes);
  {
    NetworkTree tree;
    EXPECT_TRUE(parseTree(atBound, tree).ok());
  }
  atBound.push_back('\n');
  NetworkTree tree;
  auto tooBig = parseTree(atBound, tree);
  ASSERT_FALSE(tooBig.ok());
  EXPECT_EQ(tooBig.error().detail, "the file is larger than 64 MiB");

  std::string manyLines;
  for (std::size_t i = 0; i <= kTreeFileMaxLines; ++i) manyLines += "0a\n";
  auto tooMany = parseTree(manyLines, tree);
  ASSERT_FALSE(tooMany.ok());
  EXPECT_EQ(tooMany.error().detail, "more than 2000000 lines");
}

// Save, load, save: the second file equals the first, also where the load guessed kinds.
TEST(TreeFileLoad, RoundTrip) {
  const char* const files[] = {
      kExampleFile,
      "0MS Windows Network\n",
      "0ZETA\n0ALPHA\n",
      "2ALPHA\n1S1\n0C$\n2ADDED\n0S9\n",
      "2B\xC3\xBCro\n1S\n0\xE2\x82\xAC\n",
  };
  for (const char* file : files) {
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
  auto root = parseTree("0NEW\n", t.tree);
  ASSERT_TRUE(root.ok());
  EXPECT_FALSE(t.tree.contains(t.root));
  EXPECT_EQ(dumpKinds(t.tree), "Root MS Windows Network\n  Domain NEW\n");
}

class TreeFileLoadFromDisk : public testing::ScratchFolder {};

TEST_F(TreeFileLoadFromDisk, LoadsWhatWasSaved) {
  ExampleTree t;
  ASSERT_TRUE(saveTreeFile(t.tree, t.root, pathOf("tree.brk")).ok());
  NetworkTree tree;
  auto root = loadTreeFile(pathOf("tree.brk"), tree);
  ASSERT_TRUE(root.ok()) << describe(root.error());
  auto again = formatTree(tree, *root);
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(*again, kExampleFile);
}

TEST_F(TreeFileLoadFromDisk, UnreadableFilesAreRefusedAndTheTreeKept) {
  std::filesystem::create_directory(pathOf("folder.brk"));
  ASSERT_EQ(::mkfifo(pathOf("fifo.brk").c_str(), 0600), 0);  // no writer: must not block
  writeFile(pathOf("plain"), kExampleFile);
  writeFile(pathOf("bad.brk"), "2A\n7B\n");
  {
    std::ofstream big(pathOf("big.brk"), std::ios::binary);
    big << kExampleFile;
  }
  std::filesystem::resize_file(pathOf("big.brk"), kTreeFileMaxBytes + 1);  // sparse
  struct Case {
    const char* name;
    std::string path;
    ErrorCode code;
    int errnoValue;
  };
  const Case cases[] = {
      {"missing", pathOf("missing.brk"), ErrorCode::Io, ENOENT},
      {"below a regular file", pathOf("plain/tree.brk"), ErrorCode::Io, ENOTDIR},
      {"folder", pathOf("folder.brk"), ErrorCode::Io, EISDIR},
      {"FIFO", pathOf("fifo.brk"), ErrorCode::BadFormat, 0},
      {"bad contents", pathOf("bad.brk"), ErrorCode::BadFormat, 0},
      {"too large", pathOf("big.brk"), ErrorCode::BadFormat, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
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
