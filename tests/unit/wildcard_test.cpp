#include "search/wildcard.h"

#include <gtest/gtest.h>

#include <string>

namespace vuv {
namespace {

TEST(Wildcard, Matches) {
  struct Case {
    std::string pattern;
    std::string name;
    bool matches;
  };
  const Case cases[] = {
      // An empty pattern matches nothing, not even an empty name
      {"", "", false}, {"", "a", false},
      // Star and extension
      {"*.txt", "a.txt", true}, {"*.txt", "a.TXT", true}, {"*.txt", ".txt", true}, {"*.txt", "a.txt.bak", false},
      {"*.txt", "txt", false}, {"*.txt", "a.tx", false}, {"*.txt", "a.txtx", false}, {"*.txt", "a.b.txt", true},
      {"*", "anything at all", true}, {"a*", "a", true}, {"a*", "ba", false}, {"*a", "ba", true}, {"*a", "ab", false},
      {"a*b*c", "aXXbYYc", true}, {"a*b*c", "aXXbYYcZ", false}, {"a*b*c", "abcbc", true}, {"**a", "xa", true},
      {"report", "REPORT", true}, {"report", "report1", false}, {"report", "repor", false},
      // A question mark is one code point
      {"?", "", false}, {"?", "a", true}, {"?", "ab", false}, {"??", "ab", true}, {"??", "a", false},
      {"?.doc", "\xC3\xA4.doc", true},           // ä: two bytes, one character
      {"??.doc", "\xC3\xA4.doc", false},
      {"?.doc", "\xE2\x82\xAC.doc", true},       // €: three bytes
      {"?.doc", "\xF0\x9F\x98\x80.doc", true},   // emoji: four bytes
      {"a?c", "a\xD0\x96" "c", true}, {"a?c", "ac", false},
      // A final ".*" also matches names without a dot
      {"*.*", "README", true}, {"*.*", ".profile", true}, {"*.*", "a.b.c", true}, {"abc.*", "abc", true},
      {"abc.*", "ABC.txt", true}, {"abc.*", "abc.", true}, {"abc.*", "abcd", false}, {"abc.*", "ab", false},
      {"abc.*", "xabc", false}, {"a*.*", "abc", true}, {"abc.**", "abc", true},
      {"abc.?", "abc", false},  // only a final ".*" gets the rule
      {"abc.", "abc", false},   // dots are never trimmed
      {"abc*.", "abc", false},
      // Nothing else is special
      {"[ab].txt", "a.txt", false}, {"[ab].txt", "[AB].txt", true},
      {"a\\*", "a\\b", true},  // backslash escapes nothing
      {"a\\*", "ab", false},
      {" a", "a", false},     // blanks are not trimmed
      {"a ", "a", false}, {"a ", "A ", true}, {"<.txt", "a.txt", false}, {">", "a", false}, {"\"a\"", "\"a\"", true},
      {"a.txt", "a.txt ", false},
      {"\xEF\xBC\x8A", "abc", false},  // a full-width asterisk is just a character
      // Case is ignored beyond ASCII
      {"\xC3\x9C" "BERSICHT.TXT", "\xC3\xBC" "bersicht.txt", true},  // ÜBERSICHT / übersicht
      {"\xC3\xBC" "*", "\xC3\x9C" "nchen", true},
      {"u*", "\xC3\xBC" "ber", false},                               // ü is not u
      {"\xD0\x9E\xD0\xA2\xD0\xA7\xD0\x81\xD0\xA2*",                 // ОТЧЁТ*
       "\xD0\xBE\xD1\x82\xD1\x87\xD1\x91\xD1\x82 2024.doc", true},  // отчёт 2024.doc
      {"\xD0\x95*", "\xD0\x81", false},                             // Е is not Ё
      {"\xCE\xA3\xCE\x9F\xCE\xA6\xCE\x9F\xCE\xA3",                  // ΣΟΦΟΣ
       "\xCF\x83\xCE\xBF\xCF\x86\xCE\xBF\xCF\x82", true},           // σοφος, final sigma
      {"*\xCF\x82", "\xCE\xA3", true},                               // ς matches Σ
      {"STRASSE", "Stra\xC3\x9F" "e", false},                       // no ß -> ss expansion
      {"stra\xC3\x9F" "e", "STRA\xE1\xBA\x9E" "E", true},           // ß and capital ẞ
      {"\xD4\xB1*", "\xD5\xA1\xD5\xA2", true},                       // Armenian Ա / ա
      {"\xEF\xBC\xA1*", "\xEF\xBD\x81", true},                       // full-width Ａ / ａ
      {"\xEF\xBC\xA1", "A", false},                                   // full-width is not ASCII
      {"i", "\xC4\xB0", false},                                       // İ does not fold to i
      // Invalid UTF-8 is one character per byte
      {"?", "\xFF", true}, {"??", "\xC3", false},
      {"?", "\xE2\x82", false},  // a cut-off sequence is two characters
      {"??", "\xE2\x82", true}, {"\xFF", "\xFF", true}, {"\xFF", "\xFE", false},
      {"\xC3", "\xC3\xA4", false},  // a stray lead byte does not match the valid character
      {"*\xC3", "abc\xC3", true}, {"*.txt", "\xC0\xAF.txt", true}, {"a*", "a\xF0\x9F\x98", true},
      {"*\xE2\x82", "x\xE2\x82\xAC", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WildcardPattern(c.pattern).matches(c.name), c.matches)
        << "pattern " << testing::PrintToString(c.pattern) << " name " << testing::PrintToString(c.name);
  }
}

TEST(Wildcard, UsesOnlyFirst254Characters) {
  // 254 'a' then 46 'b': the cut leaves a pattern that demands exactly 254 'a'.
  const std::string pattern = std::string(254, 'a') + std::string(46, 'b');
  const WildcardPattern cut(pattern);
  EXPECT_TRUE(cut.matches(std::string(254, 'a')));
  EXPECT_FALSE(cut.matches(pattern));
  EXPECT_FALSE(cut.matches(std::string(253, 'a')));

  // Characters are code points: 254 two-byte "ä" fit, the 255th does not count.
  std::string umlauts;
  for (int i = 0; i < 300; ++i) umlauts += "\xC3\xA4";
  const WildcardPattern cutUmlauts(umlauts);
  EXPECT_TRUE(cutUmlauts.matches(umlauts.substr(0, 254 * 2)));
  EXPECT_FALSE(cutUmlauts.matches(umlauts));

  // A star just past the cut is gone.
  const WildcardPattern starCut(std::string(254, 'x') + "*");
  EXPECT_FALSE(starCut.matches(std::string(254, 'x') + "y"));
  EXPECT_TRUE(starCut.matches(std::string(254, 'x')));
}

TEST(Wildcard, PathologicalPatternsFinish) {
  const std::string longName(10000, 'a');
  EXPECT_FALSE(WildcardPattern("*a*a*a*a*a*b").matches(longName));
  EXPECT_TRUE(WildcardPattern("*a*a*a*a*a*a").matches(longName));
  EXPECT_FALSE(WildcardPattern("*a?a*a?a*a?a*b*").matches(longName));
  EXPECT_TRUE(WildcardPattern("*a*a*a*a*a*b").matches(longName + "b"));
  std::string manyStars;
  for (int i = 0; i < 120; ++i) manyStars += "*a";
  manyStars += "*b";
  EXPECT_FALSE(WildcardPattern(manyStars).matches(longName));
}

}  // namespace
}  // namespace vuv
