#include "base/text.h"

#include <algorithm>

namespace vuv {

namespace {
unsigned char asciiLower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }
}  // namespace

bool lessForDisplay(std::string_view a, std::string_view b) {
  const auto folded = [](char x, char y) {
    return asciiLower(static_cast<unsigned char>(x)) < asciiLower(static_cast<unsigned char>(y));
  };
  if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), folded)) return true;
  if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), folded)) return false;
  return a < b;
}

}  // namespace vuv
