#include "results/result_sort.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "results/size_text.h"

namespace vuv {
namespace {

constexpr std::uint64_t kGiB = 1024ull * 1024 * 1024;

std::vector<std::string> paths(const std::vector<ResultRow>& rows) {
  std::vector<std::string> out;
  for (const ResultRow& row : rows) out.push_back(row.path);
  return out;
}

std::vector<std::string> sizeTexts(const std::vector<ResultRow>& rows) {
  std::vector<std::string> out;
  for (const ResultRow& row : rows) out.push_back(sizeText(row));
  return out;
}

TEST(ResultSort, ByNameIsDescendingByteOrder) {
  std::vector<ResultRow> rows = {
      fileRow("\\\\s\\a.txt", 1),
      fileRow("\\\\s\\Zeta.txt", 1),
      folderRow("\\\\s\\b.txt"),
      fileRow("\\\\s\\alpha.txt", 1),
      fileRow("\\\\s\\a", 1),
      fileRow("\\\\s\\\xC3\xBC.txt", 1),  // ü: bytes above 0x7F are the largest
      fileRow("\\\\s\\B.txt", 1),
  };
  sortRows(rows, SortColumn::Name);
  EXPECT_EQ(paths(rows), (std::vector<std::string>{
                             "\\\\s\\\xC3\xBC.txt",
                             "\\\\s\\b.txt",
                             "\\\\s\\alpha.txt",
                             "\\\\s\\a.txt",
                             "\\\\s\\a",  // a prefix is the lesser
                             "\\\\s\\Zeta.txt",
                             "\\\\s\\B.txt",
                         }));
}

TEST(ResultSort, ByNameKeepsEqualPathsInOrder) {
  std::vector<ResultRow> rows = {fileRow("\\\\s\\x", 1), folderRow("\\\\s\\x"),
                                 fileRow("\\\\s\\x", 2)};
  sortRows(rows, SortColumn::Name);
  EXPECT_EQ(rows, (std::vector<ResultRow>{fileRow("\\\\s\\x", 1), folderRow("\\\\s\\x"),
                                          fileRow("\\\\s\\x", 2)}));
  EXPECT_FALSE(rowLess(SortColumn::Name, rows[0], rows[1]));
  EXPECT_FALSE(rowLess(SortColumn::Name, rows[1], rows[0]));
}

TEST(ResultSort, BySizeFoldersFirstThenShownSizeAscending) {
  std::vector<ResultRow> rows = {
      fileRow("\\\\s\\k2", 2048),
      folderRow("\\\\s\\dir"),
      fileRow("\\\\s\\m1", 1048576),
      fileRow("\\\\s\\b1023", 1023),
  };
  sortRows(rows, SortColumn::Size);
  const std::vector<std::string> expected = {"<Folder>", "1023 bytes", "2 Kbytes", "1 Mbytes"};
  EXPECT_EQ(sizeTexts(rows), expected);

  const std::vector<ResultRow> once = rows;
  sortRows(rows, SortColumn::Size);
  EXPECT_EQ(rows, once);
}

TEST(ResultSort, BySizeComparesAtThePrecisionShown) {
  std::vector<ResultRow> rows = {
      fileRow("\\\\s\\five-gib", 5 * kGiB),
      fileRow("\\\\s\\k1-b", 2047),
      folderRow("\\\\s\\dir-1"),
      fileRow("\\\\s\\m1", 1048576),
      fileRow("\\\\s\\k1023", 1048575),
      fileRow("\\\\s\\k1-a", 1024),
      fileRow("\\\\s\\max32", 0xFFFFFFFFull),
      folderRow("\\\\s\\dir-2"),
      fileRow("\\\\s\\k1-c", 1500),
      fileRow("\\\\s\\zero", 0),
  };
  sortRows(rows, SortColumn::Size);
  EXPECT_EQ(paths(rows), (std::vector<std::string>{
                             "\\\\s\\dir-1", "\\\\s\\dir-2",  // folders keep their order
                             "\\\\s\\zero",
                             "\\\\s\\k1-b", "\\\\s\\k1-a", "\\\\s\\k1-c",  // all "1 Kbytes"
                             "\\\\s\\k1023", "\\\\s\\m1", "\\\\s\\max32", "\\\\s\\five-gib",
                         }));
}

TEST(ResultSort, BySizeIsAStrictWeakOrdering) {
  const ResultRow folder = folderRow("\\\\s\\d");
  const ResultRow small = fileRow("\\\\s\\a", 1024);
  const ResultRow sameShown = fileRow("\\\\s\\b", 2047);
  const ResultRow big = fileRow("\\\\s\\c", 2048);
  // irreflexive, and never both ways
  for (const ResultRow* r : {&folder, &small, &sameShown, &big}) {
    EXPECT_FALSE(rowLess(SortColumn::Size, *r, *r));
  }
  EXPECT_TRUE(rowLess(SortColumn::Size, folder, small));
  EXPECT_FALSE(rowLess(SortColumn::Size, small, folder));
  EXPECT_FALSE(rowLess(SortColumn::Size, small, sameShown));
  EXPECT_FALSE(rowLess(SortColumn::Size, sameShown, small));
  EXPECT_TRUE(rowLess(SortColumn::Size, small, big));
  EXPECT_FALSE(rowLess(SortColumn::Size, big, small));
  // A folder's size value plays no part.
  EXPECT_FALSE(rowLess(SortColumn::Size, folderRow("\\\\s\\x"),
                       ResultRow{"\\\\s\\y", true, 99}));
  EXPECT_FALSE(rowLess(SortColumn::Size, ResultRow{"\\\\s\\y", true, 99},
                       folderRow("\\\\s\\x")));
}

TEST(ResultSort, EmptyList) {
  std::vector<ResultRow> rows;
  sortRows(rows, SortColumn::Name);
  sortRows(rows, SortColumn::Size);
  EXPECT_TRUE(rows.empty());
}

}  // namespace
}  // namespace vuv
