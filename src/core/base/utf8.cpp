#include "base/utf8.h"

#include <cstddef>

namespace vuv {

namespace {

bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

}  // namespace

Utf8Char decodeUtf8(std::string_view text, std::size_t pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char b0 = byte(pos);
  if (b0 < 0x80) return {b0, 1};
  const Utf8Char invalid{kInvalidByteBase + b0, 1};
  const std::size_t left = text.size() - pos;

  // The second byte's allowed range excludes overlongs, surrogates and values above U+10FFFF.
  unsigned char lo = 0x80, hi = 0xBF;
  std::uint8_t length = 0;
  char32_t value = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2; value = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3; value = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4; value = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return invalid;
  }
  if (left < length) return invalid;
  const unsigned char b1 = byte(pos + 1);
  if (b1 < lo || b1 > hi) return invalid;
  value = (value << 6) | (b1 & 0x3F);
  for (std::size_t i = 2; i < length; ++i) {
    const unsigned char b = byte(pos + i);
    if (!isContinuation(b)) return invalid;
    value = (value << 6) | (b & 0x3F);
  }
  return {value, length};
}

bool isValidUtf8(std::string_view bytes) {
  for (std::size_t pos = 0; pos < bytes.size();) {
    const Utf8Char c = decodeUtf8(bytes, pos);
    if (c.value >= kInvalidByteBase) return false;
    pos += c.length;
  }
  return true;
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string_view cutUtf8(std::string_view text, std::size_t bytes) {
  if (text.size() <= bytes) return text;
  std::size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::string latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) appendUtf8(out, static_cast<unsigned char>(c));
  return out;
}

std::string utf8OrLatin1ToUtf8(std::string_view bytes) {
  if (isValidUtf8(bytes)) return std::string(bytes);
  return latin1ToUtf8(bytes);
}

}  // namespace vuv
