// The size column of the search results. Sizes are shown truncated to whole bytes, Kbytes or
// Mbytes; the size sort orders by the shown value, so both go through displayedSizeValue().
// Thread-safe: pure functions.
#pragma once

#include <cstdint>
#include <string>

#include "results/result_row.h"

namespace vuv {

// The size as the text shows it, in bytes: below 1 Kbyte exact, below 1 Mbyte rounded down to
// whole Kbytes, above that rounded down to whole Mbytes.
std::uint64_t displayedSizeValue(std::uint64_t size);

// "<Folder>" for folders; "N bytes", "N Kbytes" or "N Mbytes" for files (always plural, no digit
// grouping, the full 64-bit size).
std::string sizeText(std::uint64_t size, bool isFolder);
inline std::string sizeText(const ResultRow& row) { return sizeText(row.size, row.isFolder); }

}  // namespace vuv
