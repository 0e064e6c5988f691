// Name patterns for the search, with the rules users know from Windows directory listings.
// Compile a pattern once, then test any number of names. Thread-safe: a WildcardPattern is
// immutable after construction, so one instance may be shared by threads matching in parallel.
//
// Rules:
//  - '*' matches any run of characters, including none; '?' matches exactly one character.
//    A character is a Unicode code point; an undecodable byte counts as one character that equals
//    only itself.
//  - Every other character matches itself, ignoring case by simple case folding (see
//    base/casefold.h): "Ü" matches "ü", "Σ" matches "σ" and "ς", but "ß" does not match "ss".
//  - Nothing else is special: no classes, no escapes, no trimming of blanks or dots.
//  - A pattern ending in ".*" also matches names that match it without that ".*" (Windows does
//    the same), so "abc.*" matches "abc" and "*.*" matches every name, with or without a dot.
//  - Only the first kMaxPatternChars characters of a pattern count.
//  - An empty pattern matches nothing.
//  - Matching takes at most O(pattern × name) steps, whatever the pattern.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vuv {

class WildcardPattern {
 public:
  static constexpr std::size_t kMaxPatternChars = 254;

  explicit WildcardPattern(std::string_view pattern);

  bool matches(std::string_view name) const;

  // True when the pattern (after the cut to kMaxPatternChars) is empty and so matches nothing.
  bool empty() const { return folded_.empty(); }

 private:
  std::u32string folded_;       // folded characters, runs of '*' merged into one
  std::size_t withoutDotStar_;  // length of folded_ minus a trailing ".*"; npos when there is none
};

}  // namespace vuv
