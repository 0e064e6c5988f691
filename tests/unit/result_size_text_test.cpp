#include "results/size_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace vuv {
namespace {

constexpr std::uint64_t kGiB = 1024ull * 1024 * 1024;

TEST(ResultSizeText, FileSizesAtUnitBoundaries) {
  struct Case {
    std::uint64_t size;
    std::string text;
  };
  const Case cases[] = {
      {0, "0 bytes"},
      {1, "1 bytes"},
      {1023, "1023 bytes"},
      {1024, "1 Kbytes"},
      {2047, "1 Kbytes"},  // truncated, not rounded
      {2048, "2 Kbytes"},
      {1048575, "1023 Kbytes"},
      {1048576, "1 Mbytes"},
      {2097151, "1 Mbytes"},
      {123456789012, "117737 Mbytes"},
      {0xFFFFFFFEull, "4095 Mbytes"},
      {0xFFFFFFFFull, "4095 Mbytes"},  // a file, however much it looks like a marker value
      {0x100000000ull, "4096 Mbytes"},
      {5 * kGiB, "5120 Mbytes"},       // needs the high 32 bits
      {5 * kGiB + 1023, "5120 Mbytes"},
      {std::numeric_limits<std::uint64_t>::max(), "17592186044415 Mbytes"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sizeText(c.size, false), c.text) << c.size;
    EXPECT_EQ(sizeText(fileRow("\\\\s\\sh\\f", c.size)), c.text) << c.size;
  }
}

TEST(ResultSizeText, FolderFlagDecides) {
  EXPECT_EQ(sizeText(0, true), "<Folder>");
  EXPECT_EQ(sizeText(0xFFFFFFFFull, true), "<Folder>");
  EXPECT_EQ(sizeText(4096, true), "<Folder>");
  EXPECT_EQ(sizeText(folderRow("\\\\s\\sh\\dir")), "<Folder>");
}

// The sort relies on this value standing for exactly what the text shows.
TEST(ResultSizeText, DisplayedValueIsTheShownNumberTimesItsUnit) {
  const std::uint64_t sizes[] = {0,       1,          1023,        1024,         2047,
                                 1048575, 1048576,    1048577,     0xFFFFFFFFull, 5 * kGiB + 7,
                                 std::numeric_limits<std::uint64_t>::max()};
  for (const std::uint64_t size : sizes) {
    const std::string text = sizeText(size, false);
    const std::uint64_t number = std::stoull(text.substr(0, text.find(' ')));
    const std::string unit = text.substr(text.find(' ') + 1);
    const std::uint64_t scale = unit == "Mbytes" ? 1048576 : unit == "Kbytes" ? 1024 : 1;
    EXPECT_EQ(displayedSizeValue(size), number * scale) << size;
  }
}

}  // namespace
}  // namespace vuv
