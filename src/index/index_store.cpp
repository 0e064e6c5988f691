#include "index/index_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <unordered_set>

#include "base/casefold.h"
#include "browse/unc_path.h"
#include "index/name_trigrams.h"
#include "search/wildcard.h"

namespace vuv::index {

namespace {

constexpr int kSchemaVersion = 1;

// Keys are folded UNC paths compared bytewise: everything below K lies between K\ and K],
// the character after the backslash.
constexpr char kAfterBackslash = ']';

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS folder(
  id INTEGER PRIMARY KEY,
  key TEXT NOT NULL UNIQUE,
  server TEXT NOT NULL,
  share TEXT NOT NULL,
  path TEXT NOT NULL,
  listed INTEGER,
  failed INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS entry(
  id INTEGER PRIMARY KEY,
  folder INTEGER NOT NULL,
  name TEXT NOT NULL,
  is_folder INTEGER NOT NULL,
  size INTEGER NOT NULL,
  modified INTEGER NOT NULL,
  seen INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS entry_by_folder ON entry(folder);
CREATE VIRTUAL TABLE IF NOT EXISTS entry_name
  USING fts5(name, content='', detail=none, tokenize='trigram case_sensitive 1');
)";

// Selects what a row needs; the entry is e, its folder f.
#define VUV_ROW_COLUMNS "e.name, e.is_folder, e.size, e.modified, e.seen, f.server, f.share, f.path "
#define VUV_UNDER "(f.key = ?1 OR (f.key > ?1 || '\\' AND f.key < ?1 || ']')) "
#define VUV_BELOW "(?1 = '' OR " VUV_UNDER ") "

bool recordable(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('\\') == std::string_view::npos;
}

// Creates the file readable by its owner only before SQLite opens it: its journal files take
// the same mode. An existing file is left alone, unopened: closing a descriptor of it would
// drop every lock this process holds on it, those of the stores open on it too.
Status prepareFile(const std::string& path) {
  const std::filesystem::path file(path);
  std::error_code error;
  if (file.has_parent_path() && !std::filesystem::exists(file.parent_path(), error)) {
    std::filesystem::create_directories(file.parent_path(), error);
    if (error) return makeError(ErrorCode::Io, "creating " + file.parent_path().string(), error.value());
    ::chmod(file.parent_path().c_str(), 0700);
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0 && errno == EEXIST) return success();
  if (fd < 0) return makeError(errorCodeFromErrno(errno), "opening " + path, errno);
  ::close(fd);  // a new file: nobody holds a lock on it yet
  return success();
}

std::string trimmedLocation(std::string_view location) {
  while (!location.empty() && location.back() == '\\') location.remove_suffix(1);
  return std::string(location);
}

}  // namespace

std::string locationKey(std::string_view location) { return foldCaseUtf8(trimmedLocation(location)); }

Result<IndexStore> IndexStore::open(const std::string& path) {
  if (auto prepared = prepareFile(path); !prepared) return prepared.error();
  auto db = Database::open(path);
  if (!db) return db.error();
  IndexStore store(std::move(*db));
  auto version = store.db_.prepare("PRAGMA user_version");
  if (!version) return version.error();
  auto read = version->firstInteger();
  if (!read) return read.error();
  const std::int64_t found = read->value_or(0);
  if (found != 0 && found != kSchemaVersion) {
    return makeError(ErrorCode::BadFormat, path + " is an index of another version; remove it to start anew");
  }
  for (const char* sql : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL", kSchema}) {
    if (auto done = store.db_.exec(sql); !done) return done.error();
  }
  // The log goes into the database file when the writes that fill it reach a thousand pages,
  // not at every close: the end of each search waited 50-65 ms for that copy and its two disk
  // syncs. The log stays beside the database; after a crash or a power cut the index is still
  // whole, at worst without the folders written last.
  sqlite3_db_config(store.db_.handle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  if (found == 0) {
    if (auto done = store.db_.exec("PRAGMA user_version=1"); !done) return done.error();
  }
  return store;
}

Status IndexStore::begin() { return db_.exec("BEGIN IMMEDIATE"); }
Status IndexStore::commit() { return db_.exec("COMMIT"); }
void IndexStore::rollback() { (void)db_.exec("ROLLBACK"); }

Result<Statement*> IndexStore::statement(const char* sql) {
  auto found = statements_.find(sql);
  if (found == statements_.end()) {
    auto prepared = db_.prepare(sql);
    if (!prepared) return prepared.error();
    found = statements_.emplace(sql, std::move(*prepared)).first;
  }
  found->second.reset();
  return &found->second;
}

Result<std::int64_t> IndexStore::folderId(std::string_view folder, std::string_view key,
                                          const std::vector<std::string_view>& parts) {
  auto select = statement("SELECT id FROM folder WHERE key = ?1");
  if (!select) return select.error();
  (*select)->bind(1, key);
  auto known = (*select)->firstInteger();
  if (!known) return known.error();
  if (*known) return **known;
  // Server and share as the walk spelled them; the rest of the path after them.
  const std::size_t pathStart = 2 + parts[0].size() + 1 + parts[1].size();
  const std::string_view path = folder.size() > pathStart ? folder.substr(pathStart + 1) : std::string_view();
  auto insert = statement("INSERT INTO folder(key, server, share, path) VALUES(?1, ?2, ?3, ?4)");
  if (!insert) return insert.error();
  (*insert)->bind(1, key).bind(2, parts[0]).bind(3, parts[1]).bind(4, path);
  if (auto done = (*insert)->run(); !done) return done.error();
  return static_cast<std::int64_t>(sqlite3_last_insert_rowid(db_.handle()));
}

Status IndexStore::deleteEntries(std::int64_t folder) {
  auto select = statement("SELECT id, name FROM entry WHERE folder = ?1");
  auto forget = statement("INSERT INTO entry_name(entry_name, rowid, name) VALUES('delete', ?1, ?2)");
  auto remove = statement("DELETE FROM entry WHERE folder = ?1");
  if (!select || !forget || !remove) return makeError(ErrorCode::Other, "preparing the index");
  (*select)->bind(1, folder);
  while (true) {
    auto row = (*select)->step();
    if (!row) return row.error();
    if (!*row) break;
    const std::string name = indexedName((*select)->text(1));
    (*forget)->bind(1, (*select)->integer(0)).bind(2, name);
    if (auto done = (*forget)->run(); !done) return done;
  }
  (*remove)->bind(1, folder);
  return (*remove)->run();
}

Status IndexStore::forget(const std::string& key) {
  // The folder at `key` and everything below it.
  auto select = statement("SELECT id FROM folder WHERE key = ?1 OR (key > ?1 || '\\' AND key < ?1 || ']')");
  if (!select) return select.error();
  (*select)->bind(1, key);
  std::vector<std::int64_t> ids;
  while (true) {
    auto row = (*select)->step();
    if (!row) return row.error();
    if (!*row) break;
    ids.push_back((*select)->integer(0));
  }
  auto remove = statement("DELETE FROM folder WHERE id = ?1");
  if (!remove) return remove.error();
  for (const std::int64_t id : ids) {
    if (auto done = deleteEntries(id); !done) return done;
    (*remove)->bind(1, id);
    if (auto done = (*remove)->run(); !done) return done;
  }
  return success();
}

Status IndexStore::replaceFolder(std::string_view folder, const std::vector<DirectoryEntry>& entries, std::int64_t when) {
  const auto parts = uncComponents(folder);
  if (parts.size() < 2) return success();
  const std::string key = locationKey(folder);
  auto id = folderId(folder, key, parts);
  if (!id) return id.error();

  std::unordered_map<std::string_view, const DirectoryEntry*> fresh;
  fresh.reserve(entries.size());
  for (const DirectoryEntry& entry : entries) {
    if (recordable(entry.name)) fresh.emplace(entry.name, &entry);
  }
  auto select = statement("SELECT id, name, is_folder, size, modified FROM entry WHERE folder = ?1");
  auto update = statement("UPDATE entry SET is_folder = ?2, size = ?3, modified = ?4 WHERE id = ?1");
  auto remove = statement("DELETE FROM entry WHERE id = ?1");
  auto unindex = statement("INSERT INTO entry_name(entry_name, rowid, name) VALUES('delete', ?1, ?2)");
  auto insert = statement(
      "INSERT INTO entry(folder, name, is_folder, size, modified, seen) VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
  auto index = statement("INSERT INTO entry_name(rowid, name) VALUES(?1, ?2)");
  auto seen = statement("UPDATE entry SET seen = ?2 WHERE folder = ?1");
  auto listed = statement("UPDATE folder SET listed = ?2, failed = 0 WHERE id = ?1");
  if (!select || !update || !remove || !unindex || !insert || !index || !seen || !listed) {
    return makeError(ErrorCode::Other, "preparing the index");
  }

  // Old rows first, read whole: the loop below writes to the same table.
  struct Old {
    std::int64_t id;
    std::string name;
    bool isFolder;
    std::uint64_t size;
    std::int64_t modified;
  };
  std::vector<Old> old;
  (*select)->bind(1, *id);
  while (true) {
    auto row = (*select)->step();
    if (!row) return row.error();
    if (!*row) break;
    old.push_back(Old{(*select)->integer(0), std::string((*select)->text(1)), (*select)->integer(2) != 0,
                      static_cast<std::uint64_t>((*select)->integer(3)), (*select)->integer(4)});
  }
  std::unordered_set<std::string_view> kept;
  for (const Old& entry : old) {
    const auto match = fresh.find(entry.name);
    const DirectoryEntry* now = match == fresh.end() ? nullptr : match->second;
    if (entry.isFolder && (now == nullptr || !now->isFolder)) {
      if (auto done = forget(key + '\\' + foldCaseUtf8(entry.name)); !done) return done;
    }
    if (now == nullptr || !kept.insert(entry.name).second) {
      (*unindex)->bind(1, entry.id).bind(2, indexedName(entry.name));
      if (auto done = (*unindex)->run(); !done) return done;
      (*remove)->bind(1, entry.id);
      if (auto done = (*remove)->run(); !done) return done;
    } else if (now->isFolder != entry.isFolder || now->size != entry.size || now->modified != entry.modified) {
      (*update)->bind(1, entry.id).bind(2, now->isFolder ? 1 : 0).bind(3, static_cast<std::int64_t>(now->size));
      (*update)->bind(4, now->modified);
      if (auto done = (*update)->run(); !done) return done;
    }
  }
  for (const auto& [name, entry] : fresh) {
    if (kept.contains(name)) continue;
    (*insert)->bind(1, *id).bind(2, name).bind(3, entry->isFolder ? 1 : 0);
    (*insert)->bind(4, static_cast<std::int64_t>(entry->size)).bind(5, entry->modified).bind(6, when);
    if (auto done = (*insert)->run(); !done) return done;
    const std::string indexed = indexedName(name);
    (*index)->bind(1, static_cast<std::int64_t>(sqlite3_last_insert_rowid(db_.handle()))).bind(2, indexed);
    if (auto done = (*index)->run(); !done) return done;
  }
  (*seen)->bind(1, *id).bind(2, when);
  if (auto done = (*seen)->run(); !done) return done;
  (*listed)->bind(1, *id).bind(2, when);
  return (*listed)->run();
}

Status IndexStore::markFailed(std::string_view folder) {
  const auto parts = uncComponents(folder);
  if (parts.size() < 2) return success();
  const std::string key = locationKey(folder);
  auto id = folderId(folder, key, parts);
  if (!id) return id.error();
  auto mark = statement("UPDATE folder SET failed = 1 WHERE id = ?1");
  if (!mark) return mark.error();
  (*mark)->bind(1, *id);
  return (*mark)->run();
}

Status IndexStore::clear(std::string_view location) {
  const std::string key = locationKey(location);
  // Only "" forgets everything, never a path that trims to nothing.
  if (key.empty() && !location.empty()) {
    return makeError(ErrorCode::InvalidArgument, "not a network path: " + std::string(location));
  }
  // One transaction: cut short, a clear leaves all or nothing, and the name index as the entries.
  if (Status begun = begin(); !begun) return begun;
  Status done = key.empty()
      ? db_.exec("DELETE FROM entry; INSERT INTO entry_name(entry_name) VALUES('delete-all'); DELETE FROM folder;")
      : forget(key);
  if (done) done = commit();
  if (!done) rollback();
  return done;
}

Status IndexStore::find(std::string_view location, std::string_view pattern,
                        const std::function<bool(const IndexedRow&)>& visit, std::stop_token stop) {
  const WildcardPattern matcher(pattern);
  if (matcher.empty()) return success();
  const std::string key = locationKey(location);
  const std::string query = trigramQuery(pattern);
  // Everything: entries in the order they were written, which keeps a folder's together; a
  // read straight through the table, not a seek per folder.
  constexpr const char* kEverything = "SELECT " VUV_ROW_COLUMNS "FROM entry e JOIN folder f ON f.id = e.folder WHERE ?1 = ''";
  // Below a location: its folders by their keys, then each one's entries, so that a small
  // location costs little in a large index.
  constexpr const char* kBelow = "SELECT " VUV_ROW_COLUMNS "FROM folder f CROSS JOIN entry e ON e.folder = f.id WHERE " VUV_UNDER;
  // Narrowed by the name index first.
  constexpr const char* kNarrowed = "SELECT " VUV_ROW_COLUMNS "FROM entry_name n JOIN entry e ON e.id = n.rowid "
                                    "JOIN folder f ON f.id = e.folder WHERE n.entry_name MATCH ?2 AND " VUV_BELOW
                                    "ORDER BY f.key, e.id";
  auto select = statement(!query.empty() ? kNarrowed : key.empty() ? kEverything : kBelow);
  if (!select) return select.error();
  (*select)->bind(1, key);
  if (!query.empty()) (*select)->bind(2, query);
  const StopPolling polling(db_.handle(), std::move(stop));
  IndexedRow found;
  while (true) {
    auto row = (*select)->step();
    if (!row) return row.error();
    if (!*row) break;
    const Statement& s = **select;
    const std::string_view name = s.text(0);
    if (!matcher.matches(name)) continue;
    std::string& path = found.row.path;
    path.assign("\\\\").append(s.text(5)).append("\\").append(s.text(6));
    if (const std::string_view inShare = s.text(7); !inShare.empty()) path.append("\\").append(inShare);
    path.append("\\").append(name);
    found.row.isFolder = s.integer(1) != 0;
    found.row.size = found.row.isFolder ? 0 : static_cast<std::uint64_t>(s.integer(2));
    found.modified = s.integer(3);
    found.seen = s.integer(4);
    if (!visit(found)) break;
  }
  (*select)->reset();
  return success();
}

Result<IndexSummary> IndexStore::summary(std::string_view location, std::stop_token stop) {
  const std::string key = locationKey(location);
  auto select = statement(
      "SELECT count(f.listed), sum(f.failed), max(f.listed), "
      "(SELECT count(*) FROM entry e WHERE e.folder IN (SELECT f.id FROM folder f WHERE " VUV_BELOW ")) "
      "FROM folder f WHERE " VUV_BELOW);
  if (!select) return select.error();
  (*select)->bind(1, key);
  const StopPolling polling(db_.handle(), std::move(stop));
  auto row = (*select)->step();
  if (!row) return row.error();
  IndexSummary out;
  if (*row) {
    out.folders = static_cast<std::uint64_t>((*select)->integer(0));
    out.failedFolders = static_cast<std::uint64_t>((*select)->integer(1));
    out.newestListing = (*select)->integer(2);
    out.entries = static_cast<std::uint64_t>((*select)->integer(3));
  }
  (*select)->reset();
  return out;
}

}  // namespace vuv::index
