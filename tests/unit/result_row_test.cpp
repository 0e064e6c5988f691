// The result list's columns: the size text, the icon and the two sort orders, as properties
// over many rows rather than a copy of their tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "results/result_icon.h"
#include "results/result_sort.h"
#include "results/size_text.h"

namespace vuv {
namespace {

// Unit boundaries and their neighbours, sizes above 4 GiB and random ones.
std::vector<std::uint64_t> sampleSizes() {
  std::vector<std::uint64_t> sizes = {0, std::numeric_limits<std::uint64_t>::max()};
  for (const std::uint64_t edge : {1ull << 10, 1ull << 20, 1ull << 32, 5ull << 30}) {
    for (const std::uint64_t near : {edge - 1, edge, edge + 1, 2 * edge - 1}) sizes.push_back(near);
  }
  std::mt19937_64 rng(5);
  for (int i = 0; i < 200; ++i) sizes.push_back(rng() >> (rng() % 64));
  return sizes;
}

// Shown as "N unit", truncated: N times the unit is the displayed value, at most the size and
// less than one unit below it; a unit is used only when the number reaches 1 of it.
TEST(ResultSizeText, TruncatedToTheLargestUnitAndTheDisplayedValueAgrees) {
  for (const std::uint64_t size : sampleSizes()) {
    SCOPED_TRACE(size);
    const std::string text = sizeText(size, false);
    EXPECT_EQ(sizeText(fileRow("\\\\s\\sh\\f", size)), text);
    EXPECT_EQ(sizeText(size, true), "<Folder>");
    const std::size_t space = text.find(' ');
    ASSERT_NE(space, std::string::npos);
    const std::uint64_t number = std::stoull(text.substr(0, space));
    const std::string unit = text.substr(space + 1);
    const std::uint64_t scale = unit == "Mbytes" ? 1ull << 20 : unit == "Kbytes" ? 1ull << 10 : 1;
    EXPECT_EQ(unit, size < 1024 ? "bytes" : size < (1ull << 20) ? "Kbytes" : "Mbytes");
    EXPECT_EQ(displayedSizeValue(size), number * scale);
    EXPECT_LE(number * scale, size);
    EXPECT_LT(size - number * scale, scale);
  }
}

TEST(ResultIcon, ChosenByTheLastExtensionOfThePathIgnoringAsciiCase) {
  const std::pair<std::string, ResultIcon> known[] = {
      {"avi", ResultIcon::Media}, {"zip", ResultIcon::Archive}, {"txt", ResultIcon::Text},
      {"exe", ResultIcon::Program}, {"htm", ResultIcon::WebPage}, {"jpg", ResultIcon::Picture}};
  for (const auto& [extension, icon] : known) {
    SCOPED_TRACE(extension);
    std::string upper = extension;
    for (char& c : upper) c = static_cast<char>(c - 'a' + 'A');
    EXPECT_EQ(iconForPath("\\\\s\\sh\\a." + extension), icon);
    EXPECT_EQ(iconForPath("\\\\s\\sh\\A." + upper), icon);
    EXPECT_EQ(iconForPath("\\\\s\\sh\\a.gz." + extension), icon);
    EXPECT_EQ(iconForPath("\\\\s\\sh\\a." + extension + ".gz"), ResultIcon::Other);
    EXPECT_EQ(iconForPath("\\\\s\\sh\\a." + extension + " "), ResultIcon::Other);
    EXPECT_EQ(iconForPath("\\\\s\\sh\\a." + extension + "\\file"), ResultIcon::Other);  // a folder's dot
    EXPECT_EQ(rowIcon(fileRow("\\\\s\\sh\\a." + extension, 1)), icon);
    EXPECT_EQ(rowIcon(folderRow("\\\\s\\sh\\a." + extension)), ResultIcon::Folder);
  }
  for (const char* path : {"", "\\\\s\\sh\\README", "\\\\s\\sh\\name.", "\\\\s\\sh\\a.\xC3\xBC"}) {
    EXPECT_EQ(iconForPath(path), ResultIcon::Other) << path;
  }
}

// Random rows against a plain stable sort by the documented keys: name in descending byte order
// (bytes unsigned, a prefix the lesser), size with folders first and equal shown sizes equal.
TEST(ResultSort, StableSortByTheDocumentedKeys) {
  std::mt19937 rng(3);
  const std::vector<std::string> parts = {"a", "A", "b", "Zeta", "\xC3\xBC", "a.txt", ""};
  const std::vector<std::uint64_t> sizes = sampleSizes();
  for (int round = 0; round < 50; ++round) {
    std::vector<ResultRow> rows;
    for (int i = 0; i < 30; ++i) {
      const std::string path = "\\\\s\\" + parts[rng() % parts.size()] + parts[rng() % parts.size()];
      rows.push_back(rng() % 4 == 0 ? ResultRow{path, true, rng() % 100} : fileRow(path, sizes[rng() % sizes.size()]));
    }
    std::vector<ResultRow> byName = rows;
    sortRows(byName, SortColumn::Name);
    std::vector<ResultRow> expected = rows;
    std::stable_sort(expected.begin(), expected.end(), [](const ResultRow& a, const ResultRow& b) { return b.path < a.path; });
    EXPECT_EQ(byName, expected);

    std::vector<ResultRow> bySize = rows;
    sortRows(bySize, SortColumn::Size);
    expected = rows;
    const auto key = [](const ResultRow& r) { return r.isFolder ? 0 : displayedSizeValue(r.size) + 1; };
    std::stable_sort(expected.begin(), expected.end(), [&](const ResultRow& a, const ResultRow& b) { return key(a) < key(b); });
    EXPECT_EQ(bySize, expected);
    for (const ResultRow& a : rows) {
      for (const ResultRow& b : rows) {
        EXPECT_FALSE(rowLess(SortColumn::Size, a, b) && rowLess(SortColumn::Size, b, a));
        EXPECT_FALSE(rowLess(SortColumn::Name, a, b) && rowLess(SortColumn::Name, b, a));
      }
    }
  }
}

}  // namespace
}  // namespace vuv
