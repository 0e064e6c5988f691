// The one UTF-8 decoder of the project, UTF-8 validity, and the Latin-1 fallback for 8-bit text
// from older files. Pure functions on bytes; thread-safe.
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

// True when `bytes` is well-formed UTF-8: shortest forms only, no surrogates, nothing above
// U+10FFFF. The empty string is valid.
bool isValidUtf8(std::string_view bytes);

// At most `bytes` bytes of `text`, not ending inside a UTF-8 character.
std::string_view cutUtf8(std::string_view text, std::size_t bytes);

// Appends code point `c` (at most U+10FFFF, no surrogate) in UTF-8.
void appendUtf8(std::string& out, char32_t c);

// Each byte read as the code point of the same value (ISO 8859-1), encoded as UTF-8.
std::string latin1ToUtf8(std::string_view bytes);

// `bytes` unchanged when it is valid UTF-8, otherwise read as Latin-1. Text that is valid both
// ways (all ASCII, or Latin-1 that happens to form UTF-8 sequences) is taken as UTF-8.
std::string utf8OrLatin1ToUtf8(std::string_view bytes);

}  // namespace vuv
