// One row of the search results: a file or folder found on a share. Plain value; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace vuv {

struct ResultRow {
  std::string path;         // full UNC path, e.g. \\server\share\folder\name.ext
  bool isFolder = false;    // decides how the row shows; a folder's size is not used
  std::uint64_t size = 0;   // bytes, files only

  bool operator==(const ResultRow&) const = default;
};

// A row already shown that a newer look at the same item found with another size, kind or
// spelling of its path.
struct RowChange {
  std::string shownPath;
  ResultRow row;
};

inline ResultRow fileRow(std::string path, std::uint64_t size) {
  return ResultRow{std::move(path), false, size};
}

inline ResultRow folderRow(std::string path) { return ResultRow{std::move(path), true, 0}; }

}  // namespace vuv
