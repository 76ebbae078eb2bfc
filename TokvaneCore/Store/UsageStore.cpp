#include "TokvaneCore/Store/UsageStore.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include <sqlite3.h>

#include <utility>

#include "TokvaneCore/Foundation/KeyedJSON.hpp"
#include "TokvaneCore/Foundation/Saturating.hpp"

namespace tokvane {

namespace {

namespace sql {

// The whole schema but the seen table's day index (below), run in one call
// inside the migration's transaction, followed by that index.
// A seen key remembers the row it was counted into and the output and
// reasoning counted for it, so that a later line of the same reply with a
// larger output adds only the difference there; keys counted before the
// ledger remembered them hold NULL and are never corrected.
constexpr const char* schema =
    "CREATE TABLE IF NOT EXISTS seen(key TEXT PRIMARY KEY, day TEXT NOT NULL,\n"
    "  provider TEXT, model TEXT, output INTEGER, reasoning INTEGER);\n"
    "CREATE TABLE IF NOT EXISTS daily(\n"
    "  provider TEXT NOT NULL, model TEXT NOT NULL, day TEXT NOT NULL,\n"
    "  uncached INTEGER NOT NULL DEFAULT 0, cache_read INTEGER NOT NULL DEFAULT 0,\n"
    "  w5m INTEGER NOT NULL DEFAULT 0, w1h INTEGER NOT NULL DEFAULT 0,\n"
    "  output INTEGER NOT NULL DEFAULT 0, reasoning INTEGER NOT NULL DEFAULT 0,\n"
    "  reported_usd REAL,\n"
    "  PRIMARY KEY(provider, model, day));\n"
    "CREATE INDEX IF NOT EXISTS daily_day ON daily(day);\n"
    "CREATE TABLE IF NOT EXISTS sessions(\n"
    "  provider TEXT NOT NULL, session_id TEXT NOT NULL, day TEXT NOT NULL,\n"
    "  PRIMARY KEY(provider, session_id));\n"
    "CREATE INDEX IF NOT EXISTS sessions_day ON sessions(day);\n"
    "CREATE TABLE IF NOT EXISTS cursors(path TEXT PRIMARY KEY, json TEXT NOT NULL);\n"
    "CREATE TABLE IF NOT EXISTS limits(provider TEXT PRIMARY KEY, json TEXT NOT NULL);";

// The columns that schema version 2 added to `seen`, added to an older
// ledger's table by the migration.
constexpr std::pair<const char*, const char*> seenAddedColumns[] = {
    {"provider", "TEXT"}, {"model", "TEXT"}, {"output", "INTEGER"}, {"reasoning", "INTEGER"}};

// The seen insert is also the lookup of a key counted before: a key it
// finds is left as it is, and the statement changes nothing, unless the key
// remembers a smaller output or reasoning than the one offered; then the
// conflict clause matches (changing nothing) so that the statement reports
// a change without an insert, and the remembered row is read back.
constexpr std::string_view seenInsert =
    "INSERT INTO seen(key, day, provider, model, output, reasoning) VALUES(?1, ?2, ?3, ?4, ?5, ?6)\n"
    "ON CONFLICT(key) DO UPDATE SET key = excluded.key\n"
    "  WHERE output IS NOT NULL AND reasoning IS NOT NULL\n"
    "    AND (output < excluded.output OR reasoning < excluded.reasoning)";
constexpr std::string_view seenRead = "SELECT provider, model, day, output, reasoning FROM seen WHERE key = ?1";
constexpr std::string_view seenGrow = "UPDATE seen SET output = ?2, reasoning = ?3 WHERE key = ?1";

// Counters add with saturation at the ends of the signed 64-bit range (a
// plain "+" would turn an overflowing sum into a real number).
constexpr std::string_view dailyUpsert =
    "INSERT INTO daily(provider, model, day, uncached, cache_read, w5m, w1h, output, reasoning, reported_usd)\n"
    "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)\n"
    "ON CONFLICT(provider, model, day) DO UPDATE SET\n"
    "  uncached = sat_add(uncached, excluded.uncached),\n"
    "  cache_read = sat_add(cache_read, excluded.cache_read),\n"
    "  w5m = sat_add(w5m, excluded.w5m),\n"
    "  w1h = sat_add(w1h, excluded.w1h),\n"
    "  output = sat_add(output, excluded.output),\n"
    "  reasoning = sat_add(reasoning, excluded.reasoning),\n"
    "  reported_usd = CASE WHEN excluded.reported_usd IS NULL THEN reported_usd\n"
    "                      WHEN reported_usd IS NULL THEN excluded.reported_usd\n"
    "                      ELSE reported_usd + excluded.reported_usd END";

// A daily row's reported cost, read back and written over once a batch's
// further costs have been added to it.
constexpr std::string_view dailyCostRead =
    "SELECT reported_usd FROM daily WHERE provider = ?1 AND model = ?2 AND day = ?3";
constexpr std::string_view dailyCostWrite =
    "UPDATE daily SET reported_usd = ?4 WHERE provider = ?1 AND model = ?2 AND day = ?3";

constexpr std::string_view sessionUpsert =
    "INSERT INTO sessions(provider, session_id, day) VALUES(?1, ?2, ?3)\n"
    "ON CONFLICT(provider, session_id) DO UPDATE SET day = MIN(day, excluded.day)";

constexpr std::string_view cursorRead = "SELECT json FROM cursors WHERE path = ?1";
constexpr std::string_view cursorWrite = "INSERT OR REPLACE INTO cursors(path, json) VALUES(?1, ?2)";
constexpr std::string_view cursorScan = "SELECT path, json FROM cursors";
constexpr std::string_view cursorDelete = "DELETE FROM cursors WHERE path = ?1";
constexpr std::string_view limitsWrite = "INSERT OR REPLACE INTO limits(provider, json) VALUES(?1, ?2)";
constexpr std::string_view limitsRead = "SELECT json FROM limits WHERE provider = ?1";
constexpr std::string_view pruneDaily = "DELETE FROM daily WHERE day < ?1";
constexpr std::string_view pruneSessions = "DELETE FROM sessions WHERE day < ?1";
constexpr std::string_view pruneSeen = "DELETE FROM seen WHERE day < ?1";
// The seen table's day index serves pruning alone. A first index fills an
// empty table without it (keeping it up to date costs a fifth of that
// time) and the next prune builds it back over what stays, after deleting
// without it (which costs less than deleting through it when most rows go).
constexpr const char* seenDayIndexDrop = "DROP INDEX IF EXISTS seen_day";
constexpr const char* seenDayIndexBuild = "CREATE INDEX IF NOT EXISTS seen_day ON seen(day)";
constexpr std::string_view seenAny = "SELECT EXISTS(SELECT 1 FROM seen)";

}  // namespace sql

// What SQLite is handed: ":memory:" when the last path component names it,
// whatever folders precede it; otherwise the file-system path.
// A ledger file cut short (a copy interrupted, a full disk, a damaged
// backup) can still open: SQLite reads what is there and silently misses
// the rest, and a `seen` index missing keys would count old events again.
// So a file that is shorter than its own header says, or that ends inside a
// page, is refused like any other damaged file. The test is only sound
// while no write-ahead log is waiting to be applied: a checkpoint that was
// interrupted may leave the file short until the log is replayed.
void refuseTruncatedFile(const std::string& path) {
  if (path == ":memory:") return;
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return;
  const auto size = std::filesystem::file_size(path, error);
  if (error || size == 0) return;
  if (const auto wal = std::filesystem::file_size(path + "-wal", error); !error && wal > 0) return;
  std::ifstream file(path, std::ios::binary);
  unsigned char header[100];
  if (!file.read(reinterpret_cast<char*>(header), sizeof header)) return;  // SQLite refuses it itself
  if (std::memcmp(header, "SQLite format 3", 16) != 0) return;             // not ours to judge
  const auto big16 = [&](size_t at) { return static_cast<uint32_t>(header[at] << 8 | header[at + 1]); };
  const auto big32 = [&](size_t at) {
    return static_cast<uint32_t>(header[at]) << 24 | static_cast<uint32_t>(header[at + 1]) << 16 |
           static_cast<uint32_t>(header[at + 2]) << 8 | static_cast<uint32_t>(header[at + 3]);
  };
  const uint32_t pageSize = big16(16) == 1 ? 65536 : big16(16);
  if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0) return;  // SQLite refuses it itself
  const uint32_t pages = big32(28);
  const bool countValid = pages > 0 && big32(92) == big32(24);
  if (size % pageSize != 0 || (countValid && size < static_cast<uint64_t>(pages) * pageSize)) {
    throw UsageStoreError(SQLITE_CORRUPT, sqlite3_errstr(SQLITE_CORRUPT));
  }
}

std::string databasePath(const std::filesystem::path& url) {
  std::string last;
  for (const auto& component : url) {
    const std::string text = component.string();
    if (!text.empty() && text != "/") last = text;
  }
  if (last == ":memory:") return ":memory:";
  std::string path = url.string();
  // A relative path must never be taken for a URI.
  if (path.rfind("file:", 0) == 0) path = "./" + path;
  return path;
}

// sat_add(a, b): a + b clamped to the signed 64-bit range. A value that an
// older ledger kept as a real is brought back into the range; NULL stays NULL.
void saturatingAdd(sqlite3_context* context, int, sqlite3_value** argv) {
  const int typeA = sqlite3_value_type(argv[0]);
  const int typeB = sqlite3_value_type(argv[1]);
  if (typeA == SQLITE_NULL || typeB == SQLITE_NULL) {
    sqlite3_result_null(context);
  } else if (typeA == SQLITE_INTEGER && typeB == SQLITE_INTEGER) {
    sqlite3_result_int64(context, saturating::add(sqlite3_value_int64(argv[0]), sqlite3_value_int64(argv[1])));
  } else {
    sqlite3_result_int64(context,
                         saturating::fromDouble(sqlite3_value_double(argv[0]) + sqlite3_value_double(argv[1])));
  }
}

}  // namespace

// Day keys of one ingest call. Working out a key through the calendar is
// costly, and a batch mostly holds events of one or two days, so the bounds
// of the last key's local day are kept and the key reused while events fall
// inside them. The bounds are trusted only when the calendar agrees at both
// ends, so a day of unusual length (daylight saving) is still keyed exactly.
class UsageStore::DayKeys {
 public:
  explicit DayKeys(const Calendar& calendar) : calendar_(calendar) {}

  const std::string& key(Date date) {
    if (valid_ && date >= start_ && date < end_) return key_;
    key_ = dayKey(date, calendar_);
    valid_ = false;
    const auto start = calendar_.startOfDay(date);
    if (!start) return key_;
    const auto later = calendar_.addingDays(*start, 1);
    if (!later) return key_;
    const auto end = calendar_.startOfDay(*later);
    if (!end) return key_;
    if (*start <= date && date < *end && dayKey(*start, calendar_) == key_ && dayKey(*end - 1, calendar_) == key_ &&
        dayKey(*end, calendar_) != key_) {
      start_ = *start;
      end_ = *end;
      valid_ = true;
    }
    return key_;
  }

 private:
  const Calendar& calendar_;
  std::string key_;
  Date start_;
  Date end_;
  bool valid_ = false;
};

namespace {

// The newly counted events of one ingest, grouped by the rows they change.
class NewEvents {
 public:
  struct DailyRow {
    ProviderID provider;
    std::string_view model;
    std::string day;
    TokenCounts sum;
    // False when some counter was negative or the sum left the 64-bit range;
    // the row's events are then added one by one, as saturation demands.
    bool summable = true;
    // The row's events with the counts they add, in event order.
    std::vector<std::pair<const UsageEvent*, TokenCounts>> events;
  };
  struct SessionRow {
    ProviderID provider;
    std::string_view sessionID;
    std::string day;
  };

  // Adds `event`, counted as `tokens`, to its rows.
  void add(const UsageEvent& event, const TokenCounts& tokens, const std::string& day) {
    DailyRow& row = dailyRow(event, day);
    row.events.emplace_back(&event, tokens);
    addCounter(row.sum.uncachedInput, tokens.uncachedInput, row.summable);
    addCounter(row.sum.cacheRead, tokens.cacheRead, row.summable);
    addCounter(row.sum.cacheWrite5m, tokens.cacheWrite5m, row.summable);
    addCounter(row.sum.cacheWrite1h, tokens.cacheWrite1h, row.summable);
    addCounter(row.sum.output, tokens.output, row.summable);
    addCounter(row.sum.reasoning, tokens.reasoning, row.summable);

    SessionRow& session = sessionRow(event, day);
    if (day < session.day) session.day = day;
  }

  const std::vector<DailyRow>& dailyRows() const { return daily_; }
  const std::vector<SessionRow>& sessionRows() const { return sessions_; }

 private:
  static void addCounter(int64_t& total, int64_t value, bool& summable) {
    if (value < 0 || __builtin_add_overflow(total, value, &total)) summable = false;
  }

  SessionRow& sessionRow(const UsageEvent& event, const std::string& day) {
    // Consecutive events mostly share a session too.
    if (lastSession_ < sessions_.size()) {
      SessionRow& row = sessions_[lastSession_];
      if (row.provider == event.provider && row.sessionID == event.sessionID) return row;
    }
    std::string key;
    key.reserve(1 + event.sessionID.size());
    key += static_cast<char>(event.provider);
    key += event.sessionID;
    const auto [it, inserted] = sessionIndex_.try_emplace(std::move(key), sessions_.size());
    if (inserted) sessions_.push_back(SessionRow{event.provider, event.sessionID, day});
    lastSession_ = it->second;
    return sessions_[lastSession_];
  }

  DailyRow& dailyRow(const UsageEvent& event, const std::string& day) {
    // Consecutive events mostly share a row; check the last one first.
    if (last_ < daily_.size()) {
      DailyRow& row = daily_[last_];
      if (row.provider == event.provider && row.model == event.model && row.day == day) return row;
    }
    // Day keys hold no zero byte, so provider, day, zero byte, model is unambiguous.
    std::string key;
    key.reserve(2 + day.size() + event.model.size());
    key += static_cast<char>(event.provider);
    key += day;
    key += '\0';
    key += event.model;
    const auto [it, inserted] = dailyIndex_.try_emplace(std::move(key), daily_.size());
    if (inserted) daily_.push_back(DailyRow{event.provider, event.model, day, TokenCounts{}, true, {}});
    last_ = it->second;
    return daily_[last_];
  }

  std::vector<DailyRow> daily_;
  std::unordered_map<std::string, size_t> dailyIndex_;
  size_t last_ = SIZE_MAX;
  std::vector<SessionRow> sessions_;
  std::unordered_map<std::string, size_t> sessionIndex_;
  size_t lastSession_ = SIZE_MAX;
};

void upsertDaily(SQLiteStatement& statement, std::string_view provider, std::string_view model, std::string_view day,
                 const TokenCounts& tokens, std::optional<double> reportedUSD) {
  statement.execute({
      Bind::textValue(provider),
      Bind::textValue(model),
      Bind::textValue(day),
      Bind::intValue(tokens.uncachedInput),
      Bind::intValue(tokens.cacheRead),
      Bind::intValue(tokens.cacheWrite5m),
      Bind::intValue(tokens.cacheWrite1h),
      Bind::intValue(tokens.output),
      Bind::intValue(tokens.reasoning),
      Bind::optionalDouble(reportedUSD),
  });
}

void upsertDaily(SQLiteStatement& statement, const NewEvents::DailyRow& row, const TokenCounts& tokens,
                 std::optional<double> reportedUSD) {
  upsertDaily(statement, rawValue(row.provider), row.model, row.day, tokens, reportedUSD);
}

// A reported cost as the daily upsert leaves it after adding `cost` to
// `total`: a missing cost (or NaN, which binds as NULL) keeps the total, a
// missing total takes the cost, and otherwise the double sum, which SQLite
// turns into NULL when it is not a number (infinities of opposite signs).
std::optional<double> addCost(std::optional<double> total, std::optional<double> cost) {
  if (!cost || std::isnan(*cost)) return total;
  if (!total) return cost;
  const double sum = *total + *cost;
  if (std::isnan(sum)) return std::nullopt;
  return sum;
}

// Stored JSON is UTF-8 text; invalid byte sequences become U+FFFD.
std::string dumpJSON(const JSON& json) { return json.dump(-1, ' ', false, JSON::error_handler_t::replace); }

// The text under which a cursor's path is kept. Paths are text in the
// ledger: one holding bytes that are not UTF-8 is kept with each invalid
// sequence replaced, exactly as its stored JSON holds it, so a cursor is
// found again under the path it carries.
std::string storedPath(const std::string& path) {
  const JSON text = path;
  try {
    (void)text.dump();
    return path;
  } catch (const nlohmann::json::type_error&) {
    return JSON::parse(dumpJSON(text)).get<std::string>();
  }
}

}  // namespace

UsageStore::UsageStore(const std::filesystem::path& url) {
  std::lock_guard lock(mutex_);
  path_ = databasePath(url);
  refuseTruncatedFile(path_);
  // Every use of the connection holds mutex_, so SQLite's own lock around
  // each call would only be taken a second time, a dozen times for every
  // event written: the connection is opened without it. (The checkpoint's
  // connection keeps it; it is used outside mutex_.)
  connection_ = std::make_unique<SQLiteConnection>(path_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
  try {
    // SQLite quietly falls back to reading a write-protected file; the
    // ledger must be writable, so that is a failure to open.
    if (connection_->isReadOnly()) throw UsageStoreError(SQLITE_READONLY, sqlite3_errstr(SQLITE_READONLY));
    int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
#ifdef SQLITE_INNOCUOUS
    flags |= SQLITE_INNOCUOUS;
#endif
    const int rc =
        sqlite3_create_function_v2(connection_->handle(), "sat_add", 2, flags, nullptr, saturatingAdd, nullptr, nullptr,
                                   nullptr);
    if (rc != SQLITE_OK) connection_->fail(rc);
    // Another process holding the ledger for a moment (a backup, a look
    // with the sqlite3 tool) is waited for instead of failing the write.
    sqlite3_busy_timeout(connection_->handle(), busyTimeoutMilliseconds);
    migrate();
    int64_t pageSize = 0;
    SQLiteStatement pageSizeRead(*connection_, "PRAGMA page_size");
    pageSizeRead.forEachRow({}, [&](SQLiteStatement& row) { pageSize = row.columnInt64(0); });
    if (pageSize > 0) checkpointPages_ = static_cast<int>(checkpointMarkBytes / pageSize);
  } catch (...) {
    statements_.clear();
    connection_.reset();
    throw;
  }
}

UsageStore::~UsageStore() {
  {
    std::lock_guard wakeLock(checkpointerMutex_);
    checkpointerStopping_ = true;
  }
  checkpointerWake_.notify_one();
  if (checkpointer_.joinable()) checkpointer_.join();
  {
    // Closed first, so that the ledger's connection, closing last, applies
    // the write-ahead log and removes it.
    std::lock_guard checkpointLock(checkpointMutex_);
    checkpointConnection_.reset();
  }
  std::lock_guard lock(mutex_);
  statements_.clear();
  connection_.reset();
}

void UsageStore::migrate() {
  // What the file is, read before anything writes to it: a ledger this
  // program cannot use is refused with its bytes exactly as they were (the
  // journal mode below rewrites the file's header).
  int64_t version = 0;
  bool first = true;
  SQLiteStatement versionRead(*connection_, "PRAGMA user_version");
  versionRead.forEachRow({}, [&](SQLiteStatement& row) {
    if (first) version = row.columnInt64(0);
    first = false;
  });
  if (version > schemaVersion) {
    // Written by a newer program: its tables may mean something else now.
    throw UsageStoreError(SQLITE_CANTOPEN, "ledger version " + std::to_string(version) +
                                               " is newer than this program's " + std::to_string(schemaVersion));
  }
  if (version >= 1) requireLedgerTables();

  if (version < schemaVersion) {
    // A new ledger gets pages of 16 KiB: a key's index entry and its row
    // are reached through fewer pages than with SQLite's 4 KiB, and a
    // commit of a first index's new keys, which dirty pages all over the
    // index, writes its log in a quarter of the frames (two writes each).
    // (Only an empty file takes it, and only outside a transaction; a file
    // with pages keeps its size.)
    if (version < 1) connection_->exec("PRAGMA page_size = 16384");
    // Version 0 (a new file) gets the whole schema, keeping any tables it
    // already holds; version 1 keeps every table and row, and its `seen`
    // table gains the columns of version 2, NULL for the keys it holds.
    inTransaction([&] {
      if (version < 1) {
        connection_->exec(sql::schema);
        connection_->exec(sql::seenDayIndexBuild);
      }
      std::vector<std::string> present;
      SQLiteStatement columns(*connection_, "SELECT name FROM pragma_table_info('seen')");
      columns.forEachRow({}, [&](SQLiteStatement& row) { present.push_back(row.columnText(0)); });
      for (const auto& [name, type] : sql::seenAddedColumns) {
        if (std::find(present.begin(), present.end(), name) != present.end()) continue;
        connection_->exec((std::string("ALTER TABLE seen ADD COLUMN ") + name + " " + type).c_str());
      }
      connection_->exec(("PRAGMA user_version = " + std::to_string(schemaVersion)).c_str());
    });
  }

  connection_->exec("PRAGMA journal_mode=WAL");
  // In WAL mode commits stay atomic and ordered without a sync per commit;
  // a power cut loses at most the newest ones, whose lines are read again.
  connection_->exec("PRAGMA synchronous=NORMAL");
  // A batch of new random keys (a chunk's, or a group of chunks written at
  // once) dirties pages all over the seen index, and once the ledger is
  // large no cache of a sensible size holds them all: what does not fit
  // goes to the journal before the commit, which would write it there
  // anyway. 6 MiB holds most of a first index's transaction, so that little
  // is written while a checkpoint syncs (below); more measured no faster,
  // and costs memory.
  connection_->exec("PRAGMA cache_size=-6144");
  // A checkpoint, which checkpointIfDue() sets off outside the lock (in
  // place of SQLite's own at commit), copies the journal's batches into the
  // ledger and syncs both. Its syncs hold up the file system's other writes
  // meanwhile (any caller's commit among them) for as long as they take, so
  // checkpoints come often and stay small; once applied, the log starts
  // over (its file is reused, not shrunk: cutting it at a restart would
  // hold up the write that restarts it).
  sqlite3_wal_hook(connection_->handle(), &UsageStore::noteWALSize, this);
}

void UsageStore::requireLedgerTables() {
  std::vector<std::string> present;
  SQLiteStatement tables(*connection_, "SELECT name FROM sqlite_master WHERE type = 'table'");
  tables.forEachRow({}, [&](SQLiteStatement& row) { present.push_back(row.columnText(0)); });
  for (const char* table : {"seen", "daily", "sessions", "cursors", "limits"}) {
    if (std::find(present.begin(), present.end(), table) == present.end()) {
      // A ledger without its tables would fail every write, quietly, at
      // every start.
      throw UsageStoreError(SQLITE_CORRUPT, std::string("the ledger has no table ") + table);
    }
  }
}

SQLiteStatement& UsageStore::statement(std::string_view sql) {
  std::string key(sql);
  auto it = statements_.find(key);
  if (it == statements_.end()) {
    auto prepared = std::make_unique<SQLiteStatement>(*connection_, sql);
    it = statements_.emplace(std::move(key), std::move(prepared)).first;
  }
  return *it->second;
}

std::string UsageStore::errorMessage() const { return connection_ ? connection_->errorMessage() : "closed"; }

int UsageStore::ingest(const std::vector<UsageEvent>& events, const Calendar& calendar) {
  int count = 0;
  {
    std::lock_guard lock(mutex_);
    DayKeys days(calendar);
    count = inTransaction([&] { return ingestLocked(events, days); });
  }
  checkpointIfDue();
  return count;
}

std::vector<int> UsageStore::ingestChunks(const std::vector<ChunkWrite>& chunks, const Calendar& calendar,
                                          std::vector<int>* committed) {
  // The cursors' texts are made before the lock is taken, as save() does.
  std::vector<std::pair<std::string, std::string>> cursors(chunks.size());
  for (size_t i = 0; i < chunks.size(); ++i) {
    if (const FileCursor* cursor = chunks[i].cursorToSave) {
      cursors[i] = {storedPath(cursor->path), dumpJSON(cursor->toJSON())};
    }
  }
  if (committed) committed->clear();
  std::vector<int> counts;
  counts.reserve(chunks.size());
  {
    std::unique_lock lock(mutex_);
    DayKeys days(calendar);  // one for all chunks: a file's chunks mostly share days
    while (counts.size() < chunks.size()) {
      if (!counts.empty()) {
        // Someone waits: let them go first, then queue again behind them.
        lock.unlock();
        lock.lock();
      }
      // Every commit lies on a chunk boundary, just after a chunk's events
      // and cursor: a state that writing chunk by chunk passes through too.
      const std::vector<int> part = inTransaction([&] {
        std::vector<int> written;
        if (!seenDayIndexChecked_) leaveDayIndexWhileSeenIsEmpty();
        for (size_t i = counts.size(); i < chunks.size(); ++i) {
          if (!written.empty() && mutex_.othersWaiting()) break;
          const std::vector<UsageEvent>* events = chunks[i].events;
          written.push_back(events && !events->empty() ? ingestLocked(*events, days) : 0);
          if (chunks[i].cursorToSave) saveLocked(cursors[i].first, cursors[i].second);
        }
        return written;
      });
      counts.insert(counts.end(), part.begin(), part.end());
      if (committed) *committed = counts;
    }
  }
  checkpointIfDue();
  return counts;
}

void UsageStore::leaveDayIndexWhileSeenIsEmpty() {
  seenDayIndexChecked_ = true;
  bool any = true;
  statement(sql::seenAny).forEachRow({}, [&](SQLiteStatement& row) { any = row.columnInt64(0) != 0; });
  // In the transaction of the first writes: rolled back with them.
  if (!any) connection_->exec(sql::seenDayIndexDrop);
}

int UsageStore::noteWALSize(void* store, sqlite3*, const char*, int pages) {
  static_cast<UsageStore*>(store)->walPages_.store(pages, std::memory_order_relaxed);
  return SQLITE_OK;
}

void UsageStore::checkpointIfDue() {
  const int pages = walPages_.load(std::memory_order_relaxed);
  const int mark = checkpointPages_.load(std::memory_order_relaxed);
  if (pages < mark) return;
  if (pages >= 2 * mark) {
    // The thread fell behind (or failed): the log is applied before this
    // writer writes again, so that it cannot grow without end.
    checkpoint();
    return;
  }
  {
    std::lock_guard wakeLock(checkpointerMutex_);
    if (checkpointerStopping_) return;
    checkpointDue_ = true;
    if (!checkpointer_.joinable()) {
      try {
        checkpointer_ = std::thread([this] { checkpointerMain(); });
      } catch (const std::system_error&) {
        // No thread to be had: the writer goes on checkpointing at twice
        // the mark, and the write that got here has succeeded all the same.
        return;
      }
    }
  }
  checkpointerWake_.notify_one();
}

void UsageStore::checkpointerMain() {
  std::unique_lock wakeLock(checkpointerMutex_);
  for (;;) {
    checkpointerWake_.wait(wakeLock, [&] { return checkpointDue_ || checkpointerStopping_; });
    if (checkpointerStopping_) return;
    checkpointDue_ = false;
    wakeLock.unlock();
    // A commit made while a pass copies leaves its frames for the next
    // pass, which copies only those: a few passes catch up with a writer
    // that commits now and then. One that commits without a pause leaves
    // the rest to the next commit's wake (or to itself, past twice the mark).
    for (int pass = 0; pass < 4; ++pass) {
      if (walPages_.load(std::memory_order_relaxed) < checkpointPages_.load(std::memory_order_relaxed)) break;
      if (checkpoint()) break;
    }
    wakeLock.lock();
  }
}

bool UsageStore::checkpoint() {
  std::lock_guard checkpointLock(checkpointMutex_);
  try {
    if (!checkpointConnection_) {
      auto opened = std::make_unique<SQLiteConnection>(path_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX);
      // A first read attaches it to the write-ahead log; until then it has
      // nothing to checkpoint.
      opened->exec("SELECT count(*) FROM sqlite_master");
      checkpointConnection_ = std::move(opened);
    }
    // Passive: it copies what no reader still needs and waits for no one;
    // the writes go on meanwhile, and the log starts over at the first
    // write after it applied everything.
    int logged = 0;
    int applied = 0;
    if (sqlite3_wal_checkpoint_v2(checkpointConnection_->handle(), nullptr, SQLITE_CHECKPOINT_PASSIVE, &logged,
                                  &applied) == SQLITE_OK &&
        applied >= logged) {
      walPages_.store(0, std::memory_order_relaxed);
      return true;
    }
  } catch (...) {
    // Not now: the next write past the mark tries again, and closing the
    // ledger applies the log in any case.
  }
  return false;
}

int UsageStore::ingestLocked(const std::vector<UsageEvent>& events, DayKeys& days) {
  SQLiteStatement& seen = statement(sql::seenInsert);
  // Day keys in event order (the cache of DayKeys works best so), each
  // event pointing at its day's text.
  std::vector<std::string> dayTexts;
  std::vector<uint32_t> dayOf(events.size());
  for (size_t i = 0; i < events.size(); ++i) {
    const std::string& day = days.key(events[i].timestamp);
    if (dayTexts.empty() || dayTexts.back() != day) dayTexts.push_back(day);
    dayOf[i] = static_cast<uint32_t>(dayTexts.size() - 1);
  }
  // The seen insert is the lookup: a key already there, from an earlier
  // batch, changes nothing and adds nothing but a larger output. Keys go in
  // sorted (stably, so of two events with one key the earlier still comes
  // first): the index is then walked in order instead of at random, which
  // keeps its pages in cache. Which events are new does not depend on it.
  std::vector<uint32_t> order(events.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<uint32_t>(i);
  std::stable_sort(order.begin(), order.end(),
                   [&](uint32_t a, uint32_t b) { return events[a].dedupKey < events[b].dedupKey; });
  // Of the events of one key (adjacent once sorted, the earliest first),
  // the earliest gives the input and cache counts and the row; output and
  // reasoning are the largest on any of them (a streamed reply repeats its
  // key on every line, and only its last line holds the final output).
  std::vector<char> isNew(events.size(), 0);
  std::vector<TokenCounts> counted(events.size());
  struct Growth {
    std::string provider, model, day;
    TokenCounts tokens;
  };
  std::vector<Growth> growths;
  int count = 0;
  sqlite3* const db = connection_->handle();
  for (size_t at = 0; at < order.size();) {
    const uint32_t i = order[at];
    const UsageEvent& event = events[i];
    int64_t output = event.tokens.output;
    int64_t reasoning = event.tokens.reasoning;
    for (++at; at < order.size() && events[order[at]].dedupKey == event.dedupKey; ++at) {
      output = std::max(output, events[order[at]].tokens.output);
      reasoning = std::max(reasoning, events[order[at]].tokens.reasoning);
    }
    const std::string& day = dayTexts[dayOf[i]];
    // An insert sets the connection's last inserted row; the update of the
    // conflict clause does not.
    sqlite3_set_last_insert_rowid(db, 0);
    if (seen.execute({Bind::textValue(event.dedupKey), Bind::textValue(day), Bind::textValue(rawValue(event.provider)),
                      Bind::textValue(event.model), Bind::intValue(output), Bind::intValue(reasoning)}) == 0) {
      continue;  // counted before, nothing larger
    }
    if (sqlite3_last_insert_rowid(db) != 0) {
      isNew[i] = 1;
      counted[i] = event.tokens;
      counted[i].output = output;
      counted[i].reasoning = reasoning;
      ++count;
      continue;
    }
    std::optional<Growth> growth;
    int64_t storedOutput = 0;
    int64_t storedReasoning = 0;
    statement(sql::seenRead).forEachRow({Bind::textValue(event.dedupKey)}, [&](SQLiteStatement& row) {
      if (growth) return;
      growth = Growth{row.columnText(0), row.columnText(1), row.columnText(2), TokenCounts{}};
      storedOutput = row.columnInt64(3);
      storedReasoning = row.columnInt64(4);
    });
    if (!growth) continue;
    // Counted before with a smaller output or reasoning: the difference adds
    // to the row the key was counted in.
    growth->tokens.output = output > storedOutput ? saturating::sub(output, storedOutput) : 0;
    growth->tokens.reasoning = reasoning > storedReasoning ? saturating::sub(reasoning, storedReasoning) : 0;
    statement(sql::seenGrow)
        .execute({Bind::textValue(event.dedupKey), Bind::intValue(std::max(output, storedOutput)),
                  Bind::intValue(std::max(reasoning, storedReasoning))});
    growths.push_back(std::move(*growth));
  }
  SQLiteStatement& daily = statement(sql::dailyUpsert);
  for (const Growth& growth : growths) {
    upsertDaily(daily, growth.provider, growth.model, growth.day, growth.tokens, std::nullopt);
  }
  if (count == 0) return count;
  NewEvents fresh;
  for (size_t i = 0; i < events.size(); ++i) {
    if (isNew[i]) fresh.add(events[i], counted[i], dayTexts[dayOf[i]]);
  }

  // Each daily row once, in order of first appearance, with its summed
  // counters and its first reported cost. The further costs are then added
  // one by one in event order, exactly as the upsert adds them: a single
  // one through the same upsert with zero counters; several by reading the
  // row's cost back, adding them here and writing the sum once (a Grok
  // session reports a cost for every turn).
  for (const auto& row : fresh.dailyRows()) {
    if (!row.summable) {
      for (const auto& [event, tokens] : row.events) upsertDaily(daily, row, tokens, event->reportedCostUSD);
      continue;
    }
    auto next = row.events.begin();
    while (next != row.events.end() && !next->first->reportedCostUSD) ++next;
    upsertDaily(daily, row, row.sum, next != row.events.end() ? next->first->reportedCostUSD : std::nullopt);
    if (next == row.events.end()) continue;
    std::vector<double> further;
    for (++next; next != row.events.end(); ++next) {
      if (next->first->reportedCostUSD) further.push_back(*next->first->reportedCostUSD);
    }
    if (further.empty()) continue;
    if (further.size() == 1) {
      upsertDaily(daily, row, TokenCounts{}, further.front());
      continue;
    }
    const std::string_view provider = rawValue(row.provider);
    std::optional<double> total;
    statement(sql::dailyCostRead)
        .forEachRow({Bind::textValue(provider), Bind::textValue(row.model), Bind::textValue(row.day)},
                    [&](SQLiteStatement& stored) { total = stored.columnDouble(0); });
    for (const double cost : further) total = addCost(total, cost);
    statement(sql::dailyCostWrite)
        .execute({Bind::textValue(provider), Bind::textValue(row.model), Bind::textValue(row.day),
                  Bind::optionalDouble(total)});
  }

  // Each session once with its earliest new day; the upsert keeps the
  // earlier of that and the stored day.
  SQLiteStatement& sessions = statement(sql::sessionUpsert);
  for (const auto& row : fresh.sessionRows()) {
    sessions.execute(
        {Bind::textValue(rawValue(row.provider)), Bind::textValue(row.sessionID), Bind::textValue(row.day)});
  }
  return count;
}

std::optional<FileCursor> UsageStore::cursor(const std::string& path) {
  const std::string key = storedPath(path);
  std::optional<std::string> json;
  {
    std::lock_guard lock(mutex_);
    statement(sql::cursorRead).forEachRow({Bind::textValue(key)}, [&](SQLiteStatement& row) {
      if (!json) json = row.columnText(0);
    });
  }
  if (!json) return std::nullopt;
  return FileCursor::fromJSONText(*json);
}

std::unordered_map<std::string, std::string> UsageStore::allCursorTexts() {
  std::unordered_map<std::string, std::string> texts;
  std::lock_guard lock(mutex_);
  statement(sql::cursorScan).forEachRow({}, [&](SQLiteStatement& row) {
    texts.emplace(row.columnText(0), row.columnText(1));
  });
  return texts;
}

void UsageStore::save(const FileCursor& cursor) {
  const std::string json = dumpJSON(cursor.toJSON());
  const std::string key = storedPath(cursor.path);
  std::lock_guard lock(mutex_);
  saveLocked(key, json);
}

void UsageStore::saveLocked(const std::string& key, const std::string& json) {
  statement(sql::cursorWrite).execute({Bind::textValue(key), Bind::textValue(json)});
}

void UsageStore::resetCursors(ProviderID provider) {
  std::lock_guard lock(mutex_);
  std::vector<std::pair<std::string, std::string>> rows;
  statement(sql::cursorScan).forEachRow({}, [&](SQLiteStatement& row) {
    rows.emplace_back(row.columnText(0), row.columnText(1));
  });
  inTransaction([&] {
    SQLiteStatement& remove = statement(sql::cursorDelete);
    for (const auto& [path, json] : rows) {
      FileCursor cursor;
      try {
        cursor = FileCursor::fromJSONText(json);
      } catch (const DecodingError&) {
        continue;  // a row that no longer decodes stays
      } catch (const nlohmann::json::exception&) {
        continue;
      }
      const auto it = cursor.context.find("provider");
      if (it != cursor.context.end() && it->second == rawValue(provider)) remove.execute({Bind::textValue(path)});
    }
  });
}

int UsageStore::dropCursors(const std::function<bool(const std::string& path)>& isGone) {
  std::lock_guard lock(mutex_);
  std::vector<std::string> paths;
  statement(sql::cursorScan).forEachRow({}, [&](SQLiteStatement& row) { paths.push_back(row.columnText(0)); });
  std::vector<std::string> gone;
  for (const auto& path : paths) {
    if (isGone(path)) gone.push_back(path);
  }
  if (gone.empty()) return 0;
  return inTransaction([&] {
    int dropped = 0;
    SQLiteStatement& remove = statement(sql::cursorDelete);
    for (const auto& path : gone) dropped += static_cast<int>(remove.execute({Bind::textValue(path)}));
    return dropped;
  });
}

void UsageStore::setLimits(const ProviderLimits& limits, ProviderID provider) {
  const std::string json = dumpJSON(limits.toJSON(DateCoding::referenceSeconds));
  std::lock_guard lock(mutex_);
  statement(sql::limitsWrite).execute({Bind::textValue(rawValue(provider)), Bind::textValue(json)});
}

std::optional<ProviderLimits> UsageStore::limits(ProviderID provider) {
  std::optional<std::string> json;
  {
    std::lock_guard lock(mutex_);
    statement(sql::limitsRead).forEachRow({Bind::textValue(rawValue(provider))}, [&](SQLiteStatement& row) {
      if (!json) json = row.columnText(0);
    });
  }
  if (!json) return std::nullopt;
  return ProviderLimits::fromJSON(keyed::parse(*json), DateCoding::referenceSeconds);
}

void UsageStore::prune(Date before, const Calendar& calendar) {
  const std::string cutoff = dayKey(before, calendar);
  std::lock_guard lock(mutex_);
  inTransaction([&] {
    statement(sql::pruneDaily).execute({Bind::textValue(cutoff)});
    statement(sql::pruneSessions).execute({Bind::textValue(cutoff)});
    statement(sql::pruneSeen).execute({Bind::textValue(cutoff)});
    connection_->exec(sql::seenDayIndexBuild);
  });
}

}  // namespace tokvane
