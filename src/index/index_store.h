// The index of names: what the walks saw on every share, one SQLite database per user.
//
// Per folder (a UNC path, one row however its letters were cased): server, share, path in the
// share, when it was last listed completely, whether its last listing failed. Per entry: its
// folder, name, folder flag, size, modification time and when it was last seen. A trigram
// index over the folded names (name_trigrams.h) narrows a pattern's search; our matcher
// decides. No credentials are ever stored: locations only.
//
// Thread rules: one IndexStore per thread (each holds its own connection). Any number of
// stores, in any processes, may use one database: SQLite's WAL lets readers read while one
// writer writes, and a writer waits for another.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/result.h"
#include "browse/directory_lister.h"
#include "index/sqlite.h"
#include "results/result_row.h"

namespace vuv::index {

// One entry as the index knows it.
struct IndexedRow {
  ResultRow row;
  std::int64_t modified = 0;  // seconds since the Unix epoch, as the server said
  std::int64_t seen = 0;      // when a complete listing of its folder last showed it
};

// What the index knows below a location.
struct IndexSummary {
  std::uint64_t folders = 0;        // folders listed completely at least once
  std::uint64_t entries = 0;
  std::uint64_t failedFolders = 0;  // whose last listing failed
  std::int64_t newestListing = 0;   // latest complete listing, 0 when none
};

class IndexStore {
 public:
  // Opens the database at `path`, creating it and its folder (mode 0700) when missing; the
  // file is readable by its owner only (0600).
  static Result<IndexStore> open(const std::string& path);

  // Writes go in transactions: several folders may share one, each stays whole.
  Status begin();
  Status commit();
  void rollback();

  // `folder` was listed completely at `when`: its entries become `entries` (new ones in, gone
  // ones out, and with a gone subfolder everything known below it). Names that no listing may
  // hold (empty, ".", "..", with a backslash) are left out; of twice-listed names the first
  // counts. A path that is not \\server\share[\...] is ignored.
  Status replaceFolder(std::string_view folder, const std::vector<DirectoryEntry>& entries, std::int64_t when);
  // `folder`'s listing failed: its entries stay, the folder is marked.
  Status markFailed(std::string_view folder);
  // Forgets everything at and below `location` (\\server, \\server\share, deeper), or
  // everything when it is empty, in one transaction. InvalidArgument for a location that names
  // no server (backslashes only).
  Status clear(std::string_view location);

  // Calls `visit` with every entry below `location` (or anywhere when empty) whose name
  // matches `pattern` (WildcardPattern rules), in no fixed order. Returning false stops. A
  // read ends Cancelled soon after `stop` is asked for, also among rows that do not match.
  Status find(std::string_view location, std::string_view pattern,
              const std::function<bool(const IndexedRow&)>& visit, std::stop_token stop = {});
  Result<IndexSummary> summary(std::string_view location, std::stop_token stop = {});

 private:
  explicit IndexStore(Database db) : db_(std::move(db)) {}
  Result<Statement*> statement(const char* sql);
  Result<std::int64_t> folderId(std::string_view folder, std::string_view key, const std::vector<std::string_view>& parts);
  Status deleteEntries(std::int64_t folder);
  Status forget(const std::string& key);

  Database db_;
  std::unordered_map<const char*, Statement> statements_;  // prepared once, by their text
};

// The folded form of a location that keys its folder: equal for every casing.
std::string locationKey(std::string_view location);

}  // namespace vuv::index
