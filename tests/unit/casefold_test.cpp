#include "base/casefold.h"

#include <gtest/gtest.h>

#include <string>

#include "base/utf8.h"

namespace vuv {
namespace {

TEST(CaseFold, FoldsTableAndLeavesNearMissesAlone) {
  struct Case {
    char32_t in;
    char32_t out;
  };
  const Case cases[] = {
      // ASCII, with the neighbours of A-Z
      {U'A', U'a'}, {U'Z', U'z'}, {U'@', U'@'}, {U'[', U'['}, {U'a', U'a'}, {U'*', U'*'},
      // Latin-1 Supplement: the multiplication sign sits inside the capitals
      {0xC0, 0xE0}, {0xD6, 0xF6}, {0xD7, 0xD7}, {0xD8, 0xF8}, {0xDE, 0xFE}, {0xDF, 0xDF},
      {0xFF, 0xFF}, {0xB5, 0x3BC},
      // Latin Extended-A: pairs switch parity at U+0139 and U+0179
      {0x100, 0x101}, {0x101, 0x101}, {0x130, 0x130}, {0x131, 0x131}, {0x132, 0x133},
      {0x139, 0x13A}, {0x13A, 0x13A}, {0x147, 0x148}, {0x149, 0x149}, {0x14A, 0x14B},
      {0x176, 0x177}, {0x178, 0xFF}, {0x179, 0x17A}, {0x17D, 0x17E}, {0x17F, U's'},
      // Latin Extended-B
      {0x181, 0x253}, {0x1C4, 0x1C6}, {0x1C5, 0x1C6}, {0x1C6, 0x1C6}, {0x1F1, 0x1F3},
      // Greek
      {0x391, 0x3B1}, {0x3A2, 0x3A2}, {0x3A3, 0x3C3}, {0x3C2, 0x3C3},
      {0x3A9, 0x3C9}, {0x386, 0x3AC}, {0x38F, 0x3CE}, {0x3AA, 0x3CA}, {0x3C3, 0x3C3},
      // Cyrillic
      {0x410, 0x430}, {0x42F, 0x44F}, {0x401, 0x451}, {0x400, 0x450}, {0x460, 0x461},
      {0x4C0, 0x4CF}, {0x4C1, 0x4C2}, {0x430, 0x430},
      // Armenian, Georgian
      {0x531, 0x561}, {0x556, 0x586}, {0x557, 0x557}, {0x10A0, 0x2D00}, {0x10C5, 0x2D25},
      {0x10C6, 0x10C6}, {0x1C90, 0x10D0},
      // Latin Extended Additional, Greek Extended
      {0x1E00, 0x1E01}, {0x1E9E, 0xDF}, {0x1EA0, 0x1EA1}, {0x1EFE, 0x1EFF},
      {0x1F08, 0x1F00}, {0x1F88, 0x1F80}, {0x1FBC, 0x1FB3},
      // Letterlike, number forms, circled, full-width
      {0x2126, 0x3C9}, {0x212A, U'k'}, {0x212B, 0xE5}, {0x2160, 0x2170}, {0x24B6, 0x24D0},
      {0xFF21, 0xFF41}, {0xFF3A, 0xFF5A}, {0xFF3B, 0xFF3B}, {0xFF41, 0xFF41},
      // Beyond the BMP and outside Unicode
      {0x10400, 0x10428}, {0x10FFFF, 0x10FFFF}, {kInvalidByteBase + 0xC3, kInvalidByteBase + 0xC3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(static_cast<std::uint32_t>(foldCase(c.in)), static_cast<std::uint32_t>(c.out))
        << std::hex << "U+" << static_cast<std::uint32_t>(c.in);
  }
}

// A folded character must be its own fold; a range with a wrong offset or parity breaks this.
TEST(CaseFold, FoldingIsIdempotentEverywhere) {
  for (char32_t c = 0; c < 0x110000; ++c) {
    const char32_t f = foldCase(c);
    ASSERT_EQ(static_cast<std::uint32_t>(foldCase(f)), static_cast<std::uint32_t>(f))
        << std::hex << "U+" << static_cast<std::uint32_t>(c);
  }
}

// The decoder and the validity check must agree on what is well formed.
TEST(CaseFold, DecodesOnlyWellFormedUtf8) {
  struct Case {
    std::string bytes;
    char32_t value;
    int length;
  };
  const Case cases[] = {
      {"A", U'A', 1},
      {"\xC2\x80", 0x80, 2},
      {"\xC3\xA4", 0xE4, 2},
      {"\xDF\xBF", 0x7FF, 2},
      {"\xE0\xA0\x80", 0x800, 3},
      {"\xE2\x82\xAC", 0x20AC, 3},
      {"\xED\x9F\xBF", 0xD7FF, 3},
      {"\xEE\x80\x80", 0xE000, 3},
      {"\xEF\xBF\xBF", 0xFFFF, 3},
      {"\xF0\x90\x80\x80", 0x10000, 4},
      {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4},
      // Each of these is malformed at its first byte, which becomes a character of its own.
      {"\x80", kInvalidByteBase + 0x80, 1},          // lone continuation byte
      {"\xC0\x80", kInvalidByteBase + 0xC0, 1},      // overlong NUL
      {"\xC1\xBF", kInvalidByteBase + 0xC1, 1},      // overlong
      {"\xE0\x9F\xBF", kInvalidByteBase + 0xE0, 1},  // overlong
      {"\xED\xA0\x80", kInvalidByteBase + 0xED, 1},  // surrogate
      {"\xF0\x8F\xBF\xBF", kInvalidByteBase + 0xF0, 1},
      {"\xF4\x90\x80\x80", kInvalidByteBase + 0xF4, 1},  // above U+10FFFF
      {"\xF5\x80\x80\x80", kInvalidByteBase + 0xF5, 1},
      {"\xFF", kInvalidByteBase + 0xFF, 1},
      {"\xC3", kInvalidByteBase + 0xC3, 1},          // cut off at the end
      {"\xE2\x82", kInvalidByteBase + 0xE2, 1},
      {"\xE2\x82" "A", kInvalidByteBase + 0xE2, 1},  // bad third byte
      {"\xF0\x9F\x98" "A", kInvalidByteBase + 0xF0, 1},
  };
  for (const Case& c : cases) {
    const Utf8Char ch = decodeUtf8(c.bytes, 0);
    EXPECT_EQ(static_cast<std::uint32_t>(ch.value), static_cast<std::uint32_t>(c.value))
        << testing::PrintToString(c.bytes);
    EXPECT_EQ(ch.length, c.length) << testing::PrintToString(c.bytes);
    EXPECT_EQ(isValidUtf8(c.bytes), c.value < kInvalidByteBase && ch.length == static_cast<int>(c.bytes.size()))
        << testing::PrintToString(c.bytes);
  }
}

TEST(CaseFold, FoldsWholeNames) {
  EXPECT_EQ(foldCaseUtf8("\xC3\x9C" "BERSICHT.TXT"), "\xC3\xBC" "bersicht.txt");  // ÜBERSICHT
  EXPECT_EQ(foldCaseUtf8("\xD0\x9E\xD0\xA2\xD0\xA7\xD0\x81\xD0\xA2"),            // ОТЧЁТ
            "\xD0\xBE\xD1\x82\xD1\x87\xD1\x91\xD1\x82");
  EXPECT_EQ(foldCaseUtf8("STRA\xC3\x9F" "E"), "stra\xC3\x9F" "e");  // ß is not expanded
  EXPECT_EQ(foldCaseUtf8("\xE2\x84\xAA"), "k");                     // Kelvin sign shrinks
  EXPECT_EQ(foldCaseUtf8("A\xC3\xFF" "B\xE2\x82"), "a\xC3\xFF" "b\xE2\x82");  // bad bytes kept
  EXPECT_EQ(foldCaseUtf8(""), "");
}

TEST(CaseFold, ComparesIgnoringCase) {
  EXPECT_EQ(compareIgnoringCase("Readme.TXT", "rEADME.txt"), 0);
  EXPECT_EQ(compareIgnoringCase("\xCE\xA3\xCE\x91", "\xCF\x82\xCE\xB1"), 0);  // ΣΑ vs ςα
  EXPECT_LT(compareIgnoringCase("a", "B"), 0);  // byte order would say otherwise
  EXPECT_GT(compareIgnoringCase("b", "A"), 0);
  EXPECT_LT(compareIgnoringCase("abc", "ABCD"), 0);
  EXPECT_GT(compareIgnoringCase("abcd", "ABC"), 0);
  EXPECT_GT(compareIgnoringCase("\xFF", "\xF4\x8F\xBF\xBF"), 0);  // bad byte after U+10FFFF
  EXPECT_NE(compareIgnoringCase("\xC3", "\xC4"), 0);
  EXPECT_EQ(compareIgnoringCase("", ""), 0);
}

}  // namespace
}  // namespace vuv
