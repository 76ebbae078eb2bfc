#include "TokvaneCore/Store/SQLiteStatement.hpp"

#include <sqlite3.h>

#include <limits>

#include "TokvaneCore/Store/UsageStoreError.hpp"

namespace tokvane {

SQLiteStatement::SQLiteStatement(SQLiteConnection& connection, std::string_view sql) : connection_(connection) {
  sqlite3* db = connection.handle();
  if (!db) throw UsageStoreError(SQLITE_MISUSE, "closed");
  if (sql.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
    throw UsageStoreError(SQLITE_TOOBIG, "string or blob too big");
  }
  sqlite3_stmt* stmt = nullptr;
  const int rc = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &stmt,
                                    nullptr);
  if (rc != SQLITE_OK || !stmt) {
    sqlite3_finalize(stmt);
    connection.fail(rc == SQLITE_OK ? SQLITE_MISUSE : rc);
  }
  stmt_ = stmt;
}

SQLiteStatement::~SQLiteStatement() { sqlite3_finalize(stmt_); }

void SQLiteStatement::bind(int index, const Bind& value) {
  // Bind results are not examined: an index beyond the statement's
  // parameters leaves nothing bound, which the statement itself then
  // reports when it matters. Texts are not copied (see Bind).
  switch (value.kind) {
    case Bind::Kind::text:
      if (value.text.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
        throw UsageStoreError(SQLITE_TOOBIG, "string or blob too big");
      }
      // A null pointer would bind NULL; an empty text is still text.
      sqlite3_bind_text(stmt_, index, value.text.data() ? value.text.data() : "",
                        static_cast<int>(value.text.size()), SQLITE_STATIC);
      break;
    case Bind::Kind::integer:
      sqlite3_bind_int64(stmt_, index, value.integer);
      break;
    case Bind::Kind::real:
      sqlite3_bind_double(stmt_, index, value.real);
      break;
    case Bind::Kind::null:
      sqlite3_bind_null(stmt_, index);
      break;
  }
}

void SQLiteStatement::bind(std::initializer_list<Bind> binds) {
  int index = 1;
  for (const Bind& value : binds) bind(index++, value);
}

int64_t SQLiteStatement::execute(std::initializer_list<Bind> binds) {
  Use use(*this);
  bind(binds);
  const int rc = sqlite3_step(stmt_);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) connection_.fail(rc);
  return connection_.changes();
}

bool SQLiteStatement::nextRow() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  connection_.fail(rc);
}

std::string SQLiteStatement::columnText(int index) const {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, index));
  if (!text) return {};
  return std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt_, index)));
}

int64_t SQLiteStatement::columnInt64(int index) const { return sqlite3_column_int64(stmt_, index); }

std::optional<double> SQLiteStatement::columnDouble(int index) const {
  if (sqlite3_column_type(stmt_, index) == SQLITE_NULL) return std::nullopt;
  return sqlite3_column_double(stmt_, index);
}

bool SQLiteStatement::columnIsNull(int index) const { return sqlite3_column_type(stmt_, index) == SQLITE_NULL; }

void SQLiteStatement::reset() noexcept {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

}  // namespace tokvane
