// A thin owner of SQLite connections and statements; SQLite's errors become our Error values.
// Thread rules: a Database and its Statements belong to one thread at a time (SQLite's
// multi-thread mode); give each thread its own connection.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "base/result.h"

namespace vuv::index {

class Statement {
 public:
  Statement() = default;
  explicit Statement(sqlite3_stmt* statement) : statement_(statement) {}

  Statement& bind(int position, std::int64_t value);
  Statement& bind(int position, std::string_view text);  // copied: temporaries are fine

  // True while a row is there to read, false when done; an error ends the statement too.
  Result<bool> step();
  // Steps to the end, for statements that return no rows.
  Status run();
  // The first row's integer in `column`, nullopt when there is no row. The statement is reset
  // after: one left on its row holds a read transaction open past every commit, and the
  // write-ahead log can then never start over.
  Result<std::optional<std::int64_t>> firstInteger(int column = 0);
  void reset();  // ready to run again; bindings stay until bound again

  std::int64_t integer(int column) const { return sqlite3_column_int64(statement_.get(), column); }
  bool isNull(int column) const { return sqlite3_column_type(statement_.get(), column) == SQLITE_NULL; }
  std::string_view text(int column) const;

 private:
  struct Finalize {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
  };
  std::unique_ptr<sqlite3_stmt, Finalize> statement_;
};

class Database {
 public:
  // Opens (creating it when missing) the database file.
  static Result<Database> open(const std::string& path);

  Status exec(const char* sql);
  Result<Statement> prepare(std::string_view sql);
  std::int64_t changes() const { return sqlite3_changes64(db_.get()); }
  sqlite3* handle() const { return db_.get(); }

 private:
  struct Close {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
  };
  std::unique_ptr<sqlite3, Close> db_;
};

// While it lives, a statement of `db` that runs when `stop` has been asked for ends with
// ErrorCode::Cancelled within a thousand or so instructions: between rows, or inside a sort or
// a count before its first row. The token is polled on the reading thread: sqlite3_interrupt()
// from another thread is forgotten when it comes between two statements.
class StopPolling {
 public:
  StopPolling(sqlite3* db, std::stop_token stop);
  ~StopPolling();
  StopPolling(const StopPolling&) = delete;
  StopPolling& operator=(const StopPolling&) = delete;

 private:
  sqlite3* db_;
  std::stop_token stop_;
};

// An error for what SQLite said about the connection's last call.
Error sqliteError(sqlite3* db, std::string_view doing);

}  // namespace vuv::index
