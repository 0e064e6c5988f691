#include "index/name_trigrams.h"

#include <set>
#include <vector>

#include "base/casefold.h"
#include "base/utf8.h"
#include "search/wildcard.h"

namespace vuv::index {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendQuoted(std::string& query, std::u32string_view trigram) {
  if (!query.empty()) query += " AND ";
  query += '"';
  for (const char32_t c : trigram) {
    if (c == U'"') query += '"';  // FTS5 doubles a quote inside a string
    appendUtf8(query, c);
  }
  query += '"';
}

}  // namespace

std::string indexedName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (std::size_t pos = 0; pos < name.size();) {
    const Utf8Char ch = decodeUtf8(name, pos);
    pos += ch.length;
    appendUtf8(out, ch.value >= kInvalidByteBase ? kReplacement : foldCase(ch.value));
  }
  return out;
}

std::string trigramQuery(std::string_view pattern) {
  // The characters that count, as the matcher takes them: the first kMaxPatternChars, folded.
  std::u32string chars;
  for (std::size_t pos = 0; pos < pattern.size() && chars.size() < WildcardPattern::kMaxPatternChars;) {
    const Utf8Char ch = decodeUtf8(pattern, pos);
    pos += ch.length;
    chars += ch.value >= kInvalidByteBase ? ch.value : foldCase(ch.value);
  }
  // "x.*" also matches "x": its dot is no literal every match holds.
  std::size_t end = chars.size();
  while (end > 0 && chars[end - 1] == U'*') --end;
  if (end < chars.size() && end > 0 && chars[end - 1] == U'.') chars.erase(end - 1, 1);

  std::set<std::u32string> trigrams;
  std::size_t runStart = 0;
  for (std::size_t i = 0; i <= chars.size(); ++i) {
    // A byte that is not UTF-8 is held as U+FFFD, like every other such byte: no literal.
    const bool literal = i < chars.size() && chars[i] != U'*' && chars[i] != U'?' && chars[i] < kInvalidByteBase;
    if (literal) continue;
    for (std::size_t t = runStart; t + 3 <= i; ++t) trigrams.insert(chars.substr(t, 3));
    runStart = i + 1;
  }
  std::string query;
  for (const std::u32string& trigram : trigrams) appendQuoted(query, trigram);
  return query;
}

}  // namespace vuv::index
