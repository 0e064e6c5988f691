#include "index/sqlite.h"

namespace vuv::index {

namespace {

// A busy database (another process's walk writing) is waited for this long.
constexpr int kBusyTimeoutMs = 10000;
// How often a statement looks at its stop token: some microseconds of work.
constexpr int kStopPollInstructions = 1000;

ErrorCode codeOf(int result) {
  switch (result & 0xff) {
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_AUTH:
      return ErrorCode::AccessDenied;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ErrorCode::Busy;
    case SQLITE_INTERRUPT:
      return ErrorCode::Cancelled;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return ErrorCode::BadFormat;
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
    case SQLITE_FULL:
      return ErrorCode::Io;
    default:
      return ErrorCode::Other;
  }
}

}  // namespace

Error sqliteError(sqlite3* db, std::string_view doing) {
  const int code = db ? sqlite3_extended_errcode(db) : SQLITE_NOMEM;
  std::string detail(doing);
  detail += ": ";
  detail += db ? sqlite3_errmsg(db) : "out of memory";
  return makeError(codeOf(code), std::move(detail), sqlite3_system_errno(db));
}

Statement& Statement::bind(int position, std::int64_t value) {
  sqlite3_bind_int64(statement_.get(), position, value);
  return *this;
}

Statement& Statement::bind(int position, std::string_view text) {
  // A null pointer would bind NULL: an empty text is still text. SQLite keeps its own copy:
  // callers bind temporaries (a folded name) that are gone before the statement runs.
  sqlite3_bind_text64(statement_.get(), position, text.empty() ? "" : text.data(), text.size(), SQLITE_TRANSIENT,
                      SQLITE_UTF8);
  return *this;
}

Result<bool> Statement::step() {
  const int result = sqlite3_step(statement_.get());
  if (result == SQLITE_ROW) return true;
  if (result == SQLITE_DONE) return false;
  Error error = sqliteError(sqlite3_db_handle(statement_.get()), "reading the index");
  sqlite3_reset(statement_.get());
  return error;
}

Status Statement::run() {
  while (true) {
    auto more = step();
    if (!more) return more.error();
    if (!*more) break;
  }
  reset();
  return success();
}

Result<std::optional<std::int64_t>> Statement::firstInteger(int column) {
  auto row = step();
  if (!row) return row.error();
  std::optional<std::int64_t> value;
  if (*row) value = integer(column);
  reset();
  return value;
}

void Statement::reset() { sqlite3_reset(statement_.get()); }

std::string_view Statement::text(int column) const {
  const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(statement_.get(), column));
  return data ? std::string_view(data, static_cast<std::size_t>(sqlite3_column_bytes(statement_.get(), column)))
              : std::string_view();
}

StopPolling::StopPolling(sqlite3* db, std::stop_token stop) : db_(db), stop_(std::move(stop)) {
  if (!stop_.stop_possible()) return;
  sqlite3_progress_handler(
      db_, kStopPollInstructions,
      [](void* token) { return static_cast<std::stop_token*>(token)->stop_requested() ? 1 : 0; }, &stop_);
}

StopPolling::~StopPolling() {
  if (stop_.stop_possible()) sqlite3_progress_handler(db_, 0, nullptr, nullptr);
}

Result<Database> Database::open(const std::string& path) {
  sqlite3* raw = nullptr;
  const int result = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  Database db;
  db.db_.reset(raw);
  if (result != SQLITE_OK) return sqliteError(raw, "opening " + path);
  sqlite3_busy_timeout(raw, kBusyTimeoutMs);
  sqlite3_extended_result_codes(raw, 1);
  return db;
}

Status Database::exec(const char* sql) {
  if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK) return sqliteError(db_.get(), "writing the index");
  return success();
}

Result<Statement> Database::prepare(std::string_view sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v3(db_.get(), sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &raw,
                         nullptr) != SQLITE_OK) {
    return sqliteError(db_.get(), "preparing an index query");
  }
  return Statement(raw);
}

}  // namespace vuv::index
