// Which icon a result row shows, chosen from the extension of its path. Thread-safe: pure
// functions.
#pragma once

#include <string_view>

#include "results/result_row.h"

namespace vuv {

// The values are the indexes into the result list's icon set; keep them stable.
enum class ResultIcon : int {
  Media = 0,
  Archive = 1,
  Text = 2,
  Program = 3,
  Other = 4,
  Folder = 5,
  WebPage = 6,
  Picture = 7,
};

// The icon for a file path; never Folder. The extension is everything after the last '.' of the
// whole path, so a dot in a folder name with none in the file name gives no known extension.
// Only A-Z are lowered before comparing with the fixed extension list.
ResultIcon iconForPath(std::string_view path);

// Folder for folder rows (whatever their name looks like), else iconForPath().
ResultIcon rowIcon(const ResultRow& row);

}  // namespace vuv
