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
  // One row per rule: range edges, parity switches, odd offsets, near misses, beyond the BMP.
  const Case cases[] = {
      {U'A', U'a'}, {U'Z', U'z'}, {U'@', U'@'}, {U'[', U'['}, {0xC0, 0xE0}, {0xD7, 0xD7}, {0xDE, 0xFE},
      {0xDF, 0xDF}, {0xB5, 0x3BC}, {0x100, 0x101}, {0x130, 0x130}, {0x131, 0x131}, {0x139, 0x13A},
      {0x149, 0x149}, {0x14A, 0x14B}, {0x178, 0xFF}, {0x17F, U's'}, {0x181, 0x253}, {0x1C5, 0x1C6},
      {0x3A2, 0x3A2}, {0x3A3, 0x3C3}, {0x3C2, 0x3C3}, {0x386, 0x3AC}, {0x400, 0x450}, {0x4C0, 0x4CF},
      {0x557, 0x557}, {0x10C6, 0x10C6}, {0x1C90, 0x10D0}, {0x1E9E, 0xDF}, {0x1F88, 0x1F80}, {0x1FBC, 0x1FB3},
      {0x2126, 0x3C9}, {0x212A, U'k'}, {0x2160, 0x2170}, {0x24B6, 0x24D0}, {0xFF3A, 0xFF5A}, {0xFF3B, 0xFF3B},
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
      {"\xDF\xBF", 0x7FF, 2},
      {"\xE0\xA0\x80", 0x800, 3},
      {"\xED\x9F\xBF", 0xD7FF, 3},
      {"\xEE\x80\x80", 0xE000, 3},
      {"\xF0\x90\x80\x80", 0x10000, 4},
      {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4},
      // Each of these is malformed at its first byte, which becomes a character of its own.
      {"\x80", kInvalidByteBase + 0x80, 1},          // lone continuation byte
      {"\xC0\x80", kInvalidByteBase + 0xC0, 1},      // overlong NUL
      {"\xE0\x9F\xBF", kInvalidByteBase + 0xE0, 1},  // overlong
      {"\xED\xA0\x80", kInvalidByteBase + 0xED, 1},  // surrogate
      {"\xF0\x8F\xBF\xBF", kInvalidByteBase + 0xF0, 1},
      {"\xF4\x90\x80\x80", kInvalidByteBase + 0xF4, 1},  // above U+10FFFF
      {"\xFF", kInvalidByteBase + 0xFF, 1},
      {"\xC3", kInvalidByteBase + 0xC3, 1},          // cut off at the end
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

// Cut anywhere, valid text stays valid: the cut never falls inside a character.
TEST(CaseFold, CutsOnlyBetweenCharacters) {
  const std::string text = "a\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80z";  // 1, 2, 3, 4 and 1 bytes
  for (std::size_t bytes = 0; bytes <= text.size() + 1; ++bytes) {
    const std::string_view cut = cutUtf8(text, bytes);
    EXPECT_TRUE(text.starts_with(cut) && cut.size() <= bytes && isValidUtf8(cut)) << bytes;
    EXPECT_GT(cut.size() + 4, std::min(bytes, text.size())) << bytes;  // no more than a character lost
  }
}

// Where a name differs from folding its characters one by one: size changes and bad bytes.
TEST(CaseFold, FoldsWholeNames) {
  EXPECT_EQ(foldCaseUtf8("STRA\xC3\x9F" "E"), "stra\xC3\x9F" "e");  // ß is not expanded
  EXPECT_EQ(foldCaseUtf8("\xE2\x84\xAA" "X"), "kx");                // Kelvin sign shrinks
  EXPECT_EQ(foldCaseUtf8("A\xC3\xFF" "B\xE2\x82"), "a\xC3\xFF" "b\xE2\x82");  // bad bytes kept
}

TEST(CaseFold, ComparesIgnoringCase) {
  EXPECT_EQ(compareIgnoringCase("Readme.TXT", "rEADME.txt"), 0);
  EXPECT_EQ(compareIgnoringCase("\xCE\xA3\xCE\x91", "\xCF\x82\xCE\xB1"), 0);  // ΣΑ vs ςα
  EXPECT_LT(compareIgnoringCase("a", "B"), 0);  // byte order would say otherwise
  EXPECT_LT(compareIgnoringCase("abc", "ABCD"), 0);
  EXPECT_GT(compareIgnoringCase("\xFF", "\xF4\x8F\xBF\xBF"), 0);  // bad byte after U+10FFFF
  EXPECT_NE(compareIgnoringCase("\xC3", "\xC4"), 0);
}

}  // namespace
}  // namespace vuv
