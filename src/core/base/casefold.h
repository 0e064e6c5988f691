// Case-insensitive comparison of UTF-8 names: simple Unicode case folding (one code point to
// one code point, as SMB servers compare names: "ß" never becomes "ss", "İ" stays itself).
// Names come from the network and may be malformed: they are read with decodeUtf8 (base/utf8.h),
// where a byte that does not start a well-formed sequence is a character of its own, so
// nothing here fails.
// Thread-safe: pure functions over constant tables.
#pragma once

#include <string>
#include <string_view>

#include "base/utf8.h"

namespace vuv {

// Simple case folding (CaseFolding.txt, statuses C and S), complete for all scripts.
// Invalid-byte characters fold to themselves.
char32_t foldCase(char32_t c);

// The name with every character folded, re-encoded as UTF-8; invalid bytes are copied unchanged.
// Equal results mean the names are equal but for case.
std::string foldCaseUtf8(std::string_view text);

// Three-way comparison of two names by folded code points (<0, 0, >0). Invalid bytes order after
// every real character. Not a collation; good enough for a stable, case-blind order.
int compareIgnoringCase(std::string_view a, std::string_view b);

}  // namespace vuv
