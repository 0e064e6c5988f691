#include "search/wildcard.h"

#include "base/casefold.h"

namespace vuv {

namespace {

constexpr char32_t kStar = U'*';
constexpr char32_t kAnyOne = U'?';

// Greedy matching that, on a mismatch, retries from the most recent '*' only: earlier stars
// never need to take more, so the work stays O(pattern × name) instead of exponential.
bool matchFolded(const char32_t* p, const char32_t* pEnd, const char32_t* n, const char32_t* nEnd) {
  const char32_t* afterStar = nullptr;  // pattern position just after the last '*' seen
  const char32_t* starStop = nullptr;   // name position that '*' currently stops at
  while (n != nEnd) {
    if (p != pEnd && *p == kStar) {
      afterStar = ++p;
      if (p == pEnd) return true;  // a final '*' takes the rest
      starStop = n;
      continue;
    }
    if (p != pEnd && (*p == kAnyOne || *p == *n)) {
      ++p;
      ++n;
      continue;
    }
    if (afterStar == nullptr) return false;
    // Let the last '*' take one more character and try again from there.
    p = afterStar;
    n = ++starStop;
  }
  while (p != pEnd && *p == kStar) ++p;
  return p == pEnd;
}

}  // namespace

WildcardPattern::WildcardPattern(std::string_view pattern) : withoutDotStar_(std::u32string::npos) {
  std::size_t count = 0;
  for (std::size_t pos = 0; pos < pattern.size() && count < kMaxPatternChars; ++count) {
    const Utf8Char ch = decodeUtf8(pattern, pos);
    pos += ch.length;
    const char32_t c = foldCase(ch.value);
    // "**" means the same as "*"; merging keeps the ".*" test below simple.
    if (c == kStar && !folded_.empty() && folded_.back() == kStar) continue;
    folded_ += c;
  }
  const std::size_t size = folded_.size();
  if (size >= 2 && folded_[size - 2] == U'.' && folded_[size - 1] == kStar) {
    withoutDotStar_ = size - 2;
  }
}

bool WildcardPattern::matches(std::string_view name) const {
  if (folded_.empty()) return false;

  // Decode and fold the name once; the matcher may look at a character many times. Names from
  // a share are short, so the stack buffer nearly always suffices (bytes >= characters).
  constexpr std::size_t kStackChars = 1024;
  char32_t stackChars[kStackChars];
  std::u32string heapChars;
  char32_t* chars = stackChars;
  if (name.size() > kStackChars) {
    heapChars.resize(name.size());
    chars = heapChars.data();
  }
  std::size_t count = 0;
  for (std::size_t pos = 0; pos < name.size();) {
    const auto byte = static_cast<unsigned char>(name[pos]);
    if (byte < 0x80) {
      chars[count++] = (byte >= 'A' && byte <= 'Z') ? byte + ('a' - 'A') : byte;
      ++pos;
    } else {
      const Utf8Char ch = decodeUtf8(name, pos);
      chars[count++] = foldCase(ch.value);
      pos += ch.length;
    }
  }

  const char32_t* pattern = folded_.data();
  if (matchFolded(pattern, pattern + folded_.size(), chars, chars + count)) return true;
  return withoutDotStar_ != std::u32string::npos &&
         matchFolded(pattern, pattern + withoutDotStar_, chars, chars + count);
}

}  // namespace vuv
