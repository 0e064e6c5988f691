// The two orders of the search result list. Each is a strict weak ordering; sortRows() is stable,
// so rows that compare equal keep their previous order. Thread-safe: pure functions.
#pragma once

#include <vector>

#include "results/result_row.h"

namespace vuv {

// The values are the result list's column indexes.
enum class SortColumn : int { Name = 0, Size = 1 };

// Name: the full path in descending byte order (bytes unsigned, case-sensitive; a prefix counts
//   as the lesser, so it comes after). Files and folders mixed.
// Size: all folders first, equal among themselves; then files ascending by displayedSizeValue(),
//   so sizes showing the same text compare equal.
bool rowLess(SortColumn column, const ResultRow& a, const ResultRow& b);

void sortRows(std::vector<ResultRow>& rows, SortColumn column);

}  // namespace vuv
