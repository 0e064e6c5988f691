// Search results as the command line prints them, one row at a time:
//   text  the Name text, a tab, the Size text; control characters escaped
//   csv   path,folder,size,size_text,icon with a header line (RFC 4180 quoting)
//   json  one object per line: {"path":…,"folder":…,"size":…,"size_text":…,"icon":…}, and
//         for each folder that could not be listed {"failed":…,"reason":…}; rows from the
//         index also carry "seen"
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli/cli_options.h"
#include "results/result_row.h"
#include "status/listing_failure.h"

namespace vuv::cli {

// The line before the first row, empty when the format has none. Ends in '\n' otherwise.
std::string resultHeader(SearchFormat format);

// One row, ending in '\n'. A row from the index gives when it was last seen (seconds since
// the Unix epoch): json adds it as "seen" (UTC, ISO 8601); the other formats stay as they are.
// `terminal`: standard output is one, and csv escapes the path as text does.
std::string formatResultRow(const ResultRow& row, SearchFormat format, std::optional<std::int64_t> seen = {},
                            bool terminal = false);

// A folder that could not be listed, as a record of the results ('\n' at the end), or empty
// when the format has no such records (text and csv: standard error says it).
std::string formatFailure(const ListingFailure& failure, SearchFormat format);

// A JSON string literal for UTF-8 text; bytes that are not UTF-8 become U+FFFD.
std::string jsonString(std::string_view text);

}  // namespace vuv::cli
