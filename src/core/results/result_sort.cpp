#include "results/result_sort.h"

#include <algorithm>
#include <string_view>

#include "results/size_text.h"

namespace vuv {

bool rowLess(SortColumn column, const ResultRow& a, const ResultRow& b) {
  switch (column) {
    case SortColumn::Name:
      // string_view compares through char_traits<char>, which orders bytes as unsigned char.
      return std::string_view(b.path) < std::string_view(a.path);
    case SortColumn::Size:
      if (a.isFolder != b.isFolder) return a.isFolder;
      if (a.isFolder) return false;
      return displayedSizeValue(a.size) < displayedSizeValue(b.size);
  }
  return false;
}

void sortRows(std::vector<ResultRow>& rows, SortColumn column) {
  std::stable_sort(rows.begin(), rows.end(), [column](const ResultRow& a, const ResultRow& b) {
    return rowLess(column, a, b);
  });
}

}  // namespace vuv
