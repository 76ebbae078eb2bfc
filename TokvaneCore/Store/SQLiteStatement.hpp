#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "TokvaneCore/Store/SQLiteConnection.hpp"

struct sqlite3_stmt;

namespace tokvane {

// One statement parameter: text, a 64-bit integer, a double or NULL. A text
// is bound without a copy; it lives at least as long as the call that binds
// it, and every such call ends its use of the statement before it returns.
struct Bind {
  enum class Kind { text, integer, real, null };
  Kind kind = Kind::null;
  std::string_view text;
  int64_t integer = 0;
  double real = 0;

  static Bind textValue(std::string_view value) { return Bind{Kind::text, value, 0, 0}; }
  static Bind intValue(int64_t value) { return Bind{Kind::integer, {}, value, 0}; }
  static Bind doubleValue(double value) { return Bind{Kind::real, {}, 0, value}; }
  static Bind nullValue() { return Bind{}; }
  // The value, or NULL when absent.
  static Bind optionalDouble(std::optional<double> value) {
    return value ? doubleValue(*value) : nullValue();
  }
};

// A prepared statement, finalized when the object goes. A statement is
// prepared once and used many times: each use (one execute() or forEachRow()
// call) binds its parameters (numbered from 1, "?1", "?2", ... in the SQL),
// steps, and ends on every path with a reset that also clears the bindings,
// so no bound text is referred to after the call.
class SQLiteStatement {
 public:
  // Prepares the whole text; a failure throws UsageStoreError.
  SQLiteStatement(SQLiteConnection& connection, std::string_view sql);
  ~SQLiteStatement();
  SQLiteStatement(const SQLiteStatement&) = delete;
  SQLiteStatement& operator=(const SQLiteStatement&) = delete;

  // A writing statement: binds, steps once (a row or the end is success)
  // and returns the number of changed rows. Any other result throws.
  int64_t execute(std::initializer_list<Bind> binds = {});

  // A reading statement: binds and calls `onRow(*this)` for each row; the
  // rows must end cleanly, any other step result throws with its code.
  template <class OnRow>
  void forEachRow(std::initializer_list<Bind> binds, OnRow&& onRow) {
    Use use(*this);
    bind(binds);
    while (nextRow()) onRow(*this);
  }

  // Columns of the current row, numbered from 0. NULL text reads as the
  // empty text, NULL integer as 0, NULL real as absent.
  std::string columnText(int index) const;
  int64_t columnInt64(int index) const;
  std::optional<double> columnDouble(int index) const;
  bool columnIsNull(int index) const;

 private:
  // Ends a use when it goes out of scope, whatever happened during it.
  class Use {
   public:
    explicit Use(SQLiteStatement& statement) : statement_(statement) {}
    ~Use() { statement_.reset(); }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

   private:
    SQLiteStatement& statement_;
  };

  // Binds the list in order as parameters 1, 2, 3, ...
  void bind(std::initializer_list<Bind> binds);
  void bind(int index, const Bind& value);
  // One step of a read: true with a row, false at the end; anything else throws.
  bool nextRow();
  // Ends a use: resets the statement and clears its bindings.
  void reset() noexcept;

  SQLiteConnection& connection_;
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace tokvane
