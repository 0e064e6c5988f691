// Case-insensitive comparison of UTF-8 names: simple Unicode case folding (one code point to
// one code point, as SMB servers compare names: "ß" never becomes "ss", "İ" stays itself) and
// the strict UTF-8 decoding it rests on. Names come from the network and may be malformed: a byte that
// does not start a well-formed sequence decodes as a character of its own, so nothing here fails.
// Thread-safe: pure functions over constant tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vuv {

// Characters at or above this value stand for one undecodable byte: kInvalidByteBase + byte.
// They lie outside Unicode, so they equal only the same byte.
inline constexpr char32_t kInvalidByteBase = 0x110000;

struct Utf8Char {
  char32_t value = 0;       // code point, or kInvalidByteBase + byte
  std::uint8_t length = 0;  // bytes consumed: 1 to 4
};

// Decodes the character starting at text[pos]; pos must be < text.size(). Overlong forms,
// surrogates, values above U+10FFFF and cut-off sequences give a one-byte invalid character.
Utf8Char decodeUtf8(std::string_view text, std::size_t pos);

// Simple case folding (Unicode 14 CaseFolding.txt, statuses C and S), complete for all scripts.
// Invalid-byte characters fold to themselves.
char32_t foldCase(char32_t c);

// The name with every character folded, re-encoded as UTF-8; invalid bytes are copied unchanged.
// Equal results mean the names are equal but for case.
std::string foldCaseUtf8(std::string_view text);

// Three-way comparison of two names by folded code points (<0, 0, >0). Invalid bytes order after
// every real character. Not a collation; good enough for a stable, case-blind order.
int compareIgnoringCase(std::string_view a, std::string_view b);

}  // namespace vuv
