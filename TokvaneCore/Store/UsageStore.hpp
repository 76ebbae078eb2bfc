#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneCore/Foundation/FairMutex.hpp"
#include "TokvaneCore/Limits/ProviderLimits.hpp"
#include "TokvaneCore/Logs/FileCursor.hpp"
#include "TokvaneCore/Pricing/PriceTable.hpp"
#include "TokvaneCore/Store/SQLiteConnection.hpp"
#include "TokvaneCore/Store/SQLiteStatement.hpp"
#include "TokvaneCore/Store/UsageStoreError.hpp"
#include "TokvaneCore/Summary/UsageSummary.hpp"
#include "TokvaneCore/Usage/ProviderID.hpp"
#include "TokvaneCore/Usage/UsageEvent.hpp"

namespace tokvane {

// The persistent usage ledger: one SQLite database holding deduplicated
// daily token counts per provider, model and local day (`daily`), the keys
// of every counted event (`seen`), the first day of each session
// (`sessions`), each log file's read position (`cursors`) and each
// provider's last live limits (`limits`).
//
// One store is shared by every part of the application. Each public
// operation runs as one block under the store's lock, one at a time, the
// caller waiting; none of them calls another from inside its block. SQLite
// failures throw UsageStoreError; JSON coding failures throw the coder's
// DecodingError or EncodingError.
class UsageStore {
 public:
  // The version of the ledger's schema that this store writes, kept in the
  // database's user_version: 2 since `seen` remembers what it counted for
  // each key. The one constant every version check compares with.
  static constexpr int32_t schemaVersion = 2;
  // How long an operation waits for a lock another process holds on the
  // ledger before it fails with SQLITE_BUSY.
  static constexpr int busyTimeoutMilliseconds = 5000;

  // Opens (creating when missing) the database at `url` and brings its
  // schema to the current version. A last path component of ":memory:"
  // opens a private in-memory ledger. Throws when the file cannot be opened
  // for writing (a write-protected file included), is not a database, was
  // written by a newer version, lacks the ledger's tables, or the schema
  // step fails; nothing stays open then, and a refused file is left as it was.
  explicit UsageStore(const std::filesystem::path& url);
  // Closes the connection.
  ~UsageStore();
  UsageStore(const UsageStore&) = delete;
  UsageStore& operator=(const UsageStore&) = delete;

  // Counts each event whose dedupKey was never counted before into its
  // daily row and its session, all in one transaction; returns how many
  // were new. Of several events with one key (the lines of one streamed
  // reply), the first gives the input and cache counts, the day and the
  // row, and output and reasoning are the largest of any of them; a key
  // counted earlier whose output or reasoning comes again larger adds the
  // difference to the row it was counted in. On failure nothing of the
  // batch stays.
  int ingest(const std::vector<UsageEvent>& events, const Calendar& calendar);

  // One chunk of a log file for ingestChunks(): its events (none or empty:
  // nothing to count) and the cursor to store after them (none: the stored
  // cursor stays). Both must outlive the call.
  struct ChunkWrite {
    const std::vector<UsageEvent>* events = nullptr;
    const FileCursor* cursorToSave = nullptr;
  };
  // Writes several chunks in order, each chunk's events counted exactly as
  // ingest() counts them, then its cursor stored exactly as save() stores it,
  // in one transaction under one hold of the lock, unless another caller
  // comes to wait for the store meanwhile: then the transaction so far is
  // committed at the next chunk boundary, that caller goes first, and the
  // rest follows in a new transaction. Returns each chunk's count of new
  // events, in the order given. On a failure nothing of the failing
  // transaction stays and the error is thrown; the chunks of transactions
  // committed before it stay, and `committed` (when given) holds their counts.
  // The first call of a store whose seen table is empty drops the table's
  // day index, which only prune() needs and which prune() builds again.
  std::vector<int> ingestChunks(const std::vector<ChunkWrite>& chunks, const Calendar& calendar,
                                std::vector<int>* committed = nullptr);

  // The stored cursor of a log file, or none.
  std::optional<FileCursor> cursor(const std::string& path);
  // Every stored cursor's JSON text, by the path it is kept under, in one
  // scan: for callers that need many cursors at once. A path whose bytes
  // are not UTF-8 is kept with each invalid sequence replaced.
  std::unordered_map<std::string, std::string> allCursorTexts();
  // Stores the cursor under its path, replacing any earlier one.
  void save(const FileCursor& cursor);
  // Deletes every cursor whose context names `provider` under "provider".
  void resetCursors(ProviderID provider);
  // Deletes, in one transaction, every cursor whose path `isGone` says no
  // longer holds a file, and returns how many went. `isGone` runs under the
  // store's lock (no cursor is saved in between) and must not call the store.
  int dropCursors(const std::function<bool(const std::string& path)>& isGone);

  // Stores a provider's limits, replacing any earlier ones.
  void setLimits(const ProviderLimits& limits, ProviderID provider);
  // The stored limits of a provider, or none.
  std::optional<ProviderLimits> limits(ProviderID provider);

  // Deletes the daily, session and seen rows of every day before the local
  // day of `before`; cursors and limits stay. Then builds the seen table's
  // day index if a first index left it out (see ingestChunks()).
  void prune(Date before, const Calendar& calendar);

  // Token use and cost of the last `days` local calendar days of
  // `calendar`, today included (at least one day), priced with `prices`.
  // Only the ledger reads run under the lock; pricing and sums run on the
  // caller's thread afterwards. A failing read throws and nothing is returned.
  UsageSummary summary(int days, Date now, const Calendar& calendar, const PriceTable& prices);

 private:
  friend struct UsageStoreInspector;  // tests look inside the connection

  // The machinery below serves every operation, wherever it is defined. An
  // operation holds mutex_ for its whole block, runs its statements through
  // statement() (execute() for writes, forEachRow() for reads) and wraps
  // multi-statement writes in inTransaction().

  // Refuses a ledger newer than schemaVersion or without its tables, then
  // creates the schema when the database is older, then sets the journal.
  void migrate();
  // Throws unless every table of the ledger is there.
  void requireLedgerTables();

  // The statement for `sql`, prepared on first use and kept for the life of
  // the store.
  SQLiteStatement& statement(std::string_view sql);

  // Runs `body` between BEGIN IMMEDIATE and COMMIT; when the body or the
  // commit fails, rolls back and rethrows. Returns the body's result.
  template <class Body>
  auto inTransaction(Body&& body) -> decltype(body());

  // SQLite's message for the connection's last failure; "closed" without one.
  std::string errorMessage() const;

  // The day keys of one call's events, worked out with its calendar.
  class DayKeys;

  // The bodies of ingest() and save(), for a caller that holds mutex_ (and,
  // for the ingest, has begun a transaction). `key` and `json` are a
  // cursor's stored path and JSON text.
  int ingestLocked(const std::vector<UsageEvent>& events, DayKeys& days);
  void saveLocked(const std::string& key, const std::string& json);
  // Once in the store's life, in ingestChunks()'s first transaction: drops
  // the seen table's day index when the table is empty (prune() builds it).
  void leaveDayIndexWhileSeenIsEmpty();
  bool seenDayIndexChecked_ = false;  // guarded by mutex_

  // Write-ahead log checkpoints, through a connection of their own and
  // outside the store's lock, so that no caller waits while pages are copied
  // and synced; the ledger's own connection never checkpoints before it
  // closes. Once the indexer's writes have grown the log past
  // checkpointPages_, a thread of the store's copies it back while the
  // writes go on; a log that grows to twice the mark all the same is
  // checkpointed by the writer itself before it writes again.
  void checkpointIfDue();
  // One passive checkpoint; whether it applied the whole log (which then
  // starts over at the next write).
  bool checkpoint();
  void checkpointerMain();
  static int noteWALSize(void* store, sqlite3* db, const char* name, int pages);
  // The size of log that makes a checkpoint due, in ledger pages (a frame
  // of the log holds one page): a few of a first index's commits.
  static constexpr int64_t checkpointMarkBytes = int64_t{8} << 20;
  // The mark in pages, worked out once the page size is read; tests use less.
  std::atomic<int> checkpointPages_{static_cast<int>(checkpointMarkBytes / 4096)};
  FairMutex mutex_;
  std::unique_ptr<SQLiteConnection> connection_;
  std::string path_;
  std::atomic<int> walPages_{0};
  std::mutex checkpointMutex_;  // guards checkpointConnection_
  std::unique_ptr<SQLiteConnection> checkpointConnection_;
  // The checkpoint thread, started at the first checkpoint due, and what
  // it is woken for; guarded by checkpointerMutex_.
  std::mutex checkpointerMutex_;
  std::condition_variable checkpointerWake_;
  bool checkpointDue_ = false;
  bool checkpointerStopping_ = false;
  std::thread checkpointer_;
  // Declared after the connection, so every statement is finalized before it closes.
  std::unordered_map<std::string, std::unique_ptr<SQLiteStatement>> statements_;
};

template <class Body>
auto UsageStore::inTransaction(Body&& body) -> decltype(body()) {
  connection_->exec("BEGIN IMMEDIATE");
  auto run = [&]() -> decltype(body()) {
    try {
      return body();
    } catch (...) {
      connection_->execIgnoringFailure("ROLLBACK");
      throw;
    }
  };
  auto commit = [this] {
    if (const int rc = connection_->execIgnoringFailure("COMMIT"); rc != 0) {
      UsageStoreError error(rc, errorMessage());
      connection_->execIgnoringFailure("ROLLBACK");
      throw error;
    }
  };
  if constexpr (std::is_void_v<decltype(body())>) {
    run();
    commit();
  } else {
    auto result = run();
    commit();
    return result;
  }
}

}  // namespace tokvane
