#pragma once

#include <cstdint>
#include <string>

struct sqlite3;

namespace tokvane {

// One SQLite connection, closed when the object goes. Every failure is
// thrown as UsageStoreError with the call's result code and the connection's
// message. The owner finalizes its statements before the connection closes.
class SQLiteConnection {
 public:
  // Opens `path` with the sqlite3_open_v2 `flags`. On failure throws the
  // open call's code with SQLite's message ("open failed" without a handle,
  // code 0 when SQLite reported success without one) and leaves nothing open.
  SQLiteConnection(const std::string& path, int flags);
  ~SQLiteConnection();
  SQLiteConnection(const SQLiteConnection&) = delete;
  SQLiteConnection& operator=(const SQLiteConnection&) = delete;

  sqlite3* handle() const { return db_; }

  // SQLite's message for the last failure on this connection; "closed" without one.
  std::string errorMessage() const;
  // Throws UsageStoreError(code, errorMessage()).
  [[noreturn]] void fail(int code) const;

  // Runs one or more statements through sqlite3_exec, ignoring any rows;
  // a non-zero result throws.
  void exec(const char* sql);
  // sqlite3_exec without throwing; returns the result code.
  int execIgnoringFailure(const char* sql) noexcept;

  // Rows changed by the most recent writing statement.
  int64_t changes() const;
  // Whether the main database was opened read-only (a write-protected file).
  bool isReadOnly() const;

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace tokvane
