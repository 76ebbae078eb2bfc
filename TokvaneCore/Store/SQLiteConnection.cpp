#include "TokvaneCore/Store/SQLiteConnection.hpp"

#include <sqlite3.h>

#include <mutex>

#include "TokvaneCore/Store/UsageStoreError.hpp"

namespace tokvane {

SQLiteConnection::SQLiteConnection(const std::string& path, int flags) {
  // SQLite's memory statistics (which nothing here reads) take a global
  // mutex around every allocation, a dozen of them for each row written.
  // They can only be turned off before SQLite starts, so the first
  // connection does it; should something have started it already, they
  // simply stay on.
  static std::once_flag statisticsOff;
  std::call_once(statisticsOff, [] { (void)sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc == SQLITE_OK && db) {
    db_ = db;
    return;
  }
  std::string message = db ? sqlite3_errmsg(db) : "open failed";
  sqlite3_close(db);  // does nothing without a handle
  throw UsageStoreError(rc, std::move(message));
}

SQLiteConnection::~SQLiteConnection() { sqlite3_close(db_); }

std::string SQLiteConnection::errorMessage() const { return db_ ? sqlite3_errmsg(db_) : "closed"; }

void SQLiteConnection::fail(int code) const { throw UsageStoreError(code, errorMessage()); }

void SQLiteConnection::exec(const char* sql) {
  if (!db_) throw UsageStoreError(SQLITE_MISUSE, "closed");
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail(rc);
}

int SQLiteConnection::execIgnoringFailure(const char* sql) noexcept {
  if (!db_) return SQLITE_MISUSE;
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
}

int64_t SQLiteConnection::changes() const { return db_ ? sqlite3_changes64(db_) : 0; }

bool SQLiteConnection::isReadOnly() const { return db_ && sqlite3_db_readonly(db_, "main") == 1; }

}  // namespace tokvane
