#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <ostream>
#include <set>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Foundation/ISO8601.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/UnprivilegedUser.hpp"

namespace tokvane {

// Reaches the store's own connection: an in-memory ledger and per-connection
// settings can only be seen through it.
struct UsageStoreInspector {
  static sqlite3* db(UsageStore& store) { return store.connection_->handle(); }
  // Whether a caller waits for the store while another holds it.
  static bool othersWaiting(UsageStore& store) { return store.mutex_.othersWaiting(); }
  static void checkpointAfter(UsageStore& store, int pages) { store.checkpointPages_ = pages; }
  // The log's frames after the last commit, as the store last noted them.
  static int loggedPages(UsageStore& store) { return store.walPages_; }
};

void PrintTo(const UsageStoreError& error, std::ostream* out) { *out << error.what(); }

namespace {

using testing::TempDir;
using testing::asUnprivilegedUser;
using testing::readFile;
using testing::writeFile;
using Rows = std::vector<std::vector<std::string>>;

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Tables and indexes of the ledger, without SQLite's own automatic indexes.
constexpr const char* kSchemaObjects = "SELECT count(*) FROM sqlite_schema WHERE name NOT LIKE 'sqlite_%'";

// Every row of a query, each value as text: NULL as "NULL", reals with all
// their digits so that exact sums can be compared.
Rows query(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << "prepare failed: " << sqlite3_errmsg(db) << " in " << sql;
    return {};
  }
  Rows rows;
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      switch (sqlite3_column_type(stmt, i)) {
        case SQLITE_NULL: row.emplace_back("NULL"); break;
        case SQLITE_INTEGER: row.push_back(std::to_string(sqlite3_column_int64(stmt, i))); break;
        case SQLITE_FLOAT: {
          char buffer[40];
          std::snprintf(buffer, sizeof buffer, "%.17g", sqlite3_column_double(stmt, i));
          row.emplace_back(buffer);
          break;
        }
        default: row.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i))); break;
      }
    }
    rows.push_back(std::move(row));
  }
  if (rc != SQLITE_DONE) ADD_FAILURE() << "step failed: " << sqlite3_errmsg(db) << " in " << sql;
  sqlite3_finalize(stmt);
  return rows;
}

std::string scalar(sqlite3* db, const std::string& sql) {
  const Rows rows = query(db, sql);
  return rows.empty() || rows[0].empty() ? "<none>" : rows[0][0];
}

void exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    ADD_FAILURE() << "exec failed: " << (error ? error : "?") << " in " << sql;
  }
  sqlite3_free(error);
}

// A second connection to a ledger file, as another process would have.
class RawDB {
 public:
  explicit RawDB(const std::filesystem::path& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << "cannot open " << path;
    }
  }
  ~RawDB() { sqlite3_close(db_); }
  RawDB(const RawDB&) = delete;
  RawDB& operator=(const RawDB&) = delete;
  sqlite3* get() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

Date at(const char* iso) {
  const auto date = ISO8601::parse(iso);
  EXPECT_TRUE(date.has_value()) << iso;
  return date.value_or(Date{});
}

UsageEvent event(std::string key, const char* iso, std::string model = "claude-sonnet-4-5",
                 std::string session = "s1", TokenCounts tokens = {1, 2, 3, 4, 5, 6},
                 std::optional<double> cost = std::nullopt, ProviderID provider = ProviderID::claude) {
  return UsageEvent{provider, std::move(model), std::move(session), std::move(key), at(iso), tokens, cost};
}

template <class Body>
UsageStoreError storeErrorOf(Body&& body) {
  try {
    body();
  } catch (const UsageStoreError& error) {
    return error;
  }
  ADD_FAILURE() << "no UsageStoreError thrown";
  return UsageStoreError(-1, "none");
}

// Keeps the process's zone for one test and restores it afterwards.
class ZoneOverride {
 public:
  explicit ZoneOverride(const char* zone) {
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneOverride() {
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> saved_;
};

// ---------------------------------------------------------------------------
// Opening and the schema

TEST(UsageStoreOpening, FreshFileGetsTheWholeSchema) {
  TempDir dir;
  UsageStore store(dir / "usage.sqlite");
  sqlite3* db = UsageStoreInspector::db(store);

  EXPECT_EQ(scalar(db, "PRAGMA user_version"), std::to_string(UsageStore::schemaVersion));
  EXPECT_EQ(UsageStore::schemaVersion, 2);
  EXPECT_EQ(scalar(db, "PRAGMA journal_mode"), "wal");
  EXPECT_EQ(scalar(db, "PRAGMA synchronous"), "1");
  EXPECT_EQ(query(db, "SELECT type, name, tbl_name FROM sqlite_schema WHERE name NOT LIKE 'sqlite_%' ORDER BY name"),
            (Rows{{"table", "cursors", "cursors"},
                  {"table", "daily", "daily"},
                  {"index", "daily_day", "daily"},
                  {"table", "limits", "limits"},
                  {"table", "seen", "seen"},
                  {"index", "seen_day", "seen"},
                  {"table", "sessions", "sessions"},
                  {"index", "sessions_day", "sessions"}}));

  // name, declared type, not null, default, position in the primary key
  const auto columns = [&](const char* table) {
    return query(db, std::string("SELECT name, type, \"notnull\", dflt_value, pk FROM pragma_table_info('") + table +
                         "') ORDER BY cid");
  };
  EXPECT_EQ(columns("seen"), (Rows{{"key", "TEXT", "0", "NULL", "1"},
                                   {"day", "TEXT", "1", "NULL", "0"},
                                   {"provider", "TEXT", "0", "NULL", "0"},
                                   {"model", "TEXT", "0", "NULL", "0"},
                                   {"output", "INTEGER", "0", "NULL", "0"},
                                   {"reasoning", "INTEGER", "0", "NULL", "0"}}));
  EXPECT_EQ(columns("daily"), (Rows{{"provider", "TEXT", "1", "NULL", "1"},
                                    {"model", "TEXT", "1", "NULL", "2"},
                                    {"day", "TEXT", "1", "NULL", "3"},
                                    {"uncached", "INTEGER", "1", "0", "0"},
                                    {"cache_read", "INTEGER", "1", "0", "0"},
                                    {"w5m", "INTEGER", "1", "0", "0"},
                                    {"w1h", "INTEGER", "1", "0", "0"},
                                    {"output", "INTEGER", "1", "0", "0"},
                                    {"reasoning", "INTEGER", "1", "0", "0"},
                                    {"reported_usd", "REAL", "0", "NULL", "0"}}));
  EXPECT_EQ(columns("sessions"), (Rows{{"provider", "TEXT", "1", "NULL", "1"},
                                       {"session_id", "TEXT", "1", "NULL", "2"},
                                       {"day", "TEXT", "1", "NULL", "0"}}));
  EXPECT_EQ(columns("cursors"), (Rows{{"path", "TEXT", "0", "NULL", "1"}, {"json", "TEXT", "1", "NULL", "0"}}));
  EXPECT_EQ(columns("limits"), (Rows{{"provider", "TEXT", "0", "NULL", "1"}, {"json", "TEXT", "1", "NULL", "0"}}));
  EXPECT_EQ(query(db, "SELECT name FROM pragma_index_info('seen_day')"), (Rows{{"day"}}));
  EXPECT_EQ(query(db, "SELECT name FROM pragma_index_info('daily_day')"), (Rows{{"day"}}));
  EXPECT_EQ(query(db, "SELECT name FROM pragma_index_info('sessions_day')"), (Rows{{"day"}}));
}

TEST(UsageStoreOpening, MemoryComponentOpensAPrivateLedgerWhateverTheFolder) {
  TempDir dir;
  for (const std::filesystem::path& url :
       {std::filesystem::path(":memory:"), dir / ":memory:", std::filesystem::path("/no/such/folder/:memory:"),
        dir / ":memory:/"}) {
    SCOPED_TRACE(url.string());
    UsageStore first(url);
    UsageStore second(url);
    sqlite3* db = UsageStoreInspector::db(first);
    EXPECT_EQ(scalar(db, "PRAGMA user_version"), "2");
    EXPECT_EQ(scalar(db, "PRAGMA journal_mode"), "memory");
    EXPECT_EQ(scalar(db, kSchemaObjects), "8");
    // Each store has its own database.
    EXPECT_EQ(first.ingest({event("k", "2025-03-01T10:00:00Z")}, FixedOffsetCalendar()), 1);
    EXPECT_EQ(second.ingest({event("k", "2025-03-01T10:00:00Z")}, FixedOffsetCalendar()), 1);
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  EXPECT_FALSE(std::filesystem::exists("/no/such/folder"));
}

TEST(UsageStoreOpening, MissingFolderFailsWithCannotOpenAndCreatesNothing) {
  TempDir dir;
  const auto error = storeErrorOf([&] { UsageStore store(dir / "missing" / "usage.sqlite"); });
  EXPECT_EQ(error, UsageStoreError(SQLITE_CANTOPEN, "unable to open database file"));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(UsageStoreOpening, CurrentLedgerRunsNoSchemaStatementAgain) {
  TempDir dir;
  const auto path = dir / "usage.sqlite";
  { UsageStore store(path); }
  {
    // A mark the schema script would not leave alone if it ran again.
    RawDB raw(path);
    exec(raw.get(), "DROP INDEX seen_day");
  }
  UsageStore store(path);
  sqlite3* db = UsageStoreInspector::db(store);
  EXPECT_EQ(scalar(db, "PRAGMA user_version"), std::to_string(UsageStore::schemaVersion));
  EXPECT_EQ(scalar(db, "SELECT count(*) FROM sqlite_schema WHERE name = 'seen_day'"), "0");
  EXPECT_EQ(scalar(db, "PRAGMA journal_mode"), "wal");
}

// A ledger this program cannot use is refused like an unreadable one, and
// nothing of the file changes: not its tables, not its version, not the
// journal mode in its header.
TEST(UsageStoreOpening, NewerOrTablelessOrForeignLedgersAreRefusedUntouched) {
  const std::string current = std::to_string(UsageStore::schemaVersion);
  const std::string newer = std::to_string(UsageStore::schemaVersion + 1);
  struct Case {
    const char* name;
    std::string sql;
    UsageStoreError expected;
  };
  const Case cases[] = {
      {"the next version", "CREATE TABLE seen(key TEXT PRIMARY KEY, day TEXT NOT NULL); PRAGMA user_version = " + newer,
       {SQLITE_CANTOPEN, "ledger version " + newer + " is newer than this program's " + current}},
      {"version 99", "CREATE TABLE other(x); PRAGMA user_version = 99",
       {SQLITE_CANTOPEN, "ledger version 99 is newer than this program's " + current}},
      {"the current version without the tables", "CREATE TABLE other(x); PRAGMA user_version = " + current,
       {SQLITE_CORRUPT, "the ledger has no table seen"}},
      {"the current version missing one table",
       "CREATE TABLE seen(key TEXT PRIMARY KEY, day TEXT NOT NULL); CREATE TABLE daily(x); "
       "CREATE TABLE sessions(x); CREATE TABLE cursors(path TEXT PRIMARY KEY, json TEXT NOT NULL); "
       "PRAGMA user_version = " + current,
       {SQLITE_CORRUPT, "the ledger has no table limits"}},
      {"another program's database", "CREATE TABLE daily(x INTEGER); INSERT INTO daily VALUES(7)",
       {SQLITE_ERROR, "no such column: day"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const auto path = dir / "usage.sqlite";
    {
      RawDB raw(path);
      exec(raw.get(), c.sql);
    }
    const std::string before = readFile(path);
    ASSERT_EQ(before.substr(18, 2), std::string("\x01\x01", 2)) << "made in rollback-journal mode";

    EXPECT_EQ(storeErrorOf([&] { UsageStore store(path); }), c.expected);
    EXPECT_EQ(readFile(path), before);
    EXPECT_FALSE(std::filesystem::exists(dir / "usage.sqlite-wal"));
    EXPECT_FALSE(std::filesystem::exists(dir / "usage.sqlite-journal"));
  }
}

// Holds the ledger's write lock from another connection, as another process
// would, and lets it go after `holdMs`.
class LockHolder {
 public:
  LockHolder(const std::filesystem::path& path, int holdMs) : raw_(path) {
    exec(raw_.get(), "BEGIN IMMEDIATE; INSERT INTO limits VALUES('elsewhere', '{}')");
    thread_ = std::thread([this, holdMs] {
      std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
      exec(raw_.get(), "COMMIT");
    });
  }
  ~LockHolder() { thread_.join(); }

 private:
  RawDB raw_;
  std::thread thread_;
};

TEST(UsageStoreLocking, ALockHeldForAMomentIsWaitedFor) {
  TempDir dir;
  const auto path = dir / "usage.sqlite";
  UsageStore store(path);
  {
    LockHolder holder(path, 300);
    EXPECT_EQ(store.ingest({event("k1", "2025-03-01T10:00:00Z")}, FixedOffsetCalendar()), 1);
    store.save(FileCursor{"/logs/a.jsonl", 1, 10, {}});
  }
  EXPECT_EQ(scalar(UsageStoreInspector::db(store), "SELECT count(*) FROM seen"), "1");
  EXPECT_TRUE(store.cursor("/logs/a.jsonl").has_value());
}

TEST(UsageStoreLocking, ALockHeldTooLongFailsAfterTheBusyTimeout) {
  TempDir dir;
  const auto path = dir / "usage.sqlite";
  UsageStore store(path);
  const int hold = UsageStore::busyTimeoutMilliseconds + 1500;
  LockHolder holder(path, hold);
  const auto started = std::chrono::steady_clock::now();
  const auto error = storeErrorOf([&] { store.ingest({event("k1", "2025-03-01T10:00:00Z")}, FixedOffsetCalendar()); });
  const auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(error.code, SQLITE_BUSY);
  EXPECT_GE(waited, std::chrono::milliseconds(UsageStore::busyTimeoutMilliseconds - 500));
  EXPECT_LT(waited, std::chrono::milliseconds(hold));
}

TEST(UsageStoreOpening, VersionZeroKeepsExistingTablesAndAddsTheMissingOnes) {
  TempDir dir;
  const auto path = dir / "usage.sqlite";
  {
    RawDB raw(path);
    exec(raw.get(),
         "CREATE TABLE seen(key TEXT PRIMARY KEY, day TEXT NOT NULL);"
         "INSERT INTO seen VALUES('old-key', '2025-01-02');"
         "CREATE TABLE cursors(path TEXT PRIMARY KEY, json TEXT NOT NULL);"
         "INSERT INTO cursors VALUES('/logs/a.jsonl', '{}');");
  }
  UsageStore store(path);
  sqlite3* db = UsageStoreInspector::db(store);
  EXPECT_EQ(scalar(db, "PRAGMA user_version"), "2");
  EXPECT_EQ(query(db, "SELECT * FROM seen"), (Rows{{"old-key", "2025-01-02", "NULL", "NULL", "NULL", "NULL"}}));
  EXPECT_EQ(query(db, "SELECT * FROM cursors"), (Rows{{"/logs/a.jsonl", "{}"}}));
  EXPECT_EQ(scalar(db, kSchemaObjects), "8");
  // The kept key still counts as seen.
  EXPECT_EQ(store.ingest({event("old-key", "2025-03-01T10:00:00Z")}, FixedOffsetCalendar()), 0);
}

// A ledger as version 1 of the schema left it: its script and some rows.
TEST(UsageStoreOpening, VersionOneLedgerIsMigratedKeepingEveryRow) {
  TempDir dir;
  const auto path = dir / "usage.sqlite";
  const char* others =
      "SELECT 'daily', * FROM daily UNION ALL SELECT 'sessions', *, 0, 0, 0, 0, 0, 0, 0 FROM sessions "
      "UNION ALL SELECT 'cursors', *, 0, 0, 0, 0, 0, 0, 0, 0 FROM cursors "
      "UNION ALL SELECT 'limits', *, 0, 0, 0, 0, 0, 0, 0, 0 FROM limits";
  Rows before;
  {
    RawDB raw(path);
    exec(raw.get(),
         "CREATE TABLE IF NOT EXISTS seen(key TEXT PRIMARY KEY, day TEXT NOT NULL);\n"
         "CREATE INDEX IF NOT EXISTS seen_day ON seen(day);\n"
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
         "CREATE TABLE IF NOT EXISTS limits(provider TEXT PRIMARY KEY, json TEXT NOT NULL);\n"
         "PRAGMA user_version = 1;\n"
         "INSERT INTO seen VALUES('msg_old', '2025-03-01'), ('resp_old', '2025-03-02');\n"
         "INSERT INTO daily VALUES('claude', 'opus', '2025-03-01', 3, 100, 20, 0, 1, 0, NULL),"
         " ('codex', 'gpt-5', '2025-03-02', 50, 10, 0, 0, 9, 4, 0.5);\n"
         "INSERT INTO sessions VALUES('claude', 's1', '2025-03-01'), ('codex', 'c1', '2025-03-02');\n"
         "INSERT INTO cursors VALUES('/logs/a.jsonl', '{\"path\":\"/logs/a.jsonl\",\"inode\":1,\"offset\":10,"
         "\"context\":{\"provider\":\"claude\"}}');\n"
         "INSERT INTO limits VALUES('codex', '{}');");
    before = query(raw.get(), others);
  }
  ASSERT_EQ(before.size(), 6u);
  {
    UsageStore store(path);
    sqlite3* db = UsageStoreInspector::db(store);
    EXPECT_EQ(scalar(db, "PRAGMA user_version"), "2");
    EXPECT_EQ(query(db, others), before);
    EXPECT_EQ(query(db, "SELECT * FROM seen ORDER BY key"),
              (Rows{{"msg_old", "2025-03-01", "NULL", "NULL", "NULL", "NULL"},
                    {"resp_old", "2025-03-02", "NULL", "NULL", "NULL", "NULL"}}));
    EXPECT_EQ(scalar(db, kSchemaObjects), "8");
    EXPECT_EQ(store.cursor("/logs/a.jsonl")->offset, 10);

    // A key counted before the migration remembers no output: its later,
    // larger line is never added. A new key's is.
    const FixedOffsetCalendar utc;
    EXPECT_EQ(store.ingest({event("msg_old", "2025-03-01T10:00:00Z", "opus", "s1", {3, 100, 20, 0, 900, 0})}, utc),
              0);
    EXPECT_EQ(query(db, others), before);
    EXPECT_EQ(store.ingest({event("msg_new", "2025-03-01T11:00:00Z", "opus", "s1", {1, 0, 0, 0, 2, 0})}, utc), 1);
    EXPECT_EQ(store.ingest({event("msg_new", "2025-03-01T11:00:05Z", "opus", "s1", {1, 0, 0, 0, 40, 0})}, utc), 0);
    EXPECT_EQ(query(db, "SELECT uncached, output FROM daily WHERE model = 'opus'"), (Rows{{"4", "41"}}));
  }
  // Opened again, the migrated ledger is left as it is.
  UsageStore again(path);
  sqlite3* db = UsageStoreInspector::db(again);
  EXPECT_EQ(scalar(db, "PRAGMA user_version"), "2");
  EXPECT_EQ(query(db, "SELECT key, output FROM seen ORDER BY key"),
            (Rows{{"msg_new", "40"}, {"msg_old", "NULL"}, {"resp_old", "NULL"}}));
}

TEST(UsageStoreOpening, UnusableFilesFailAndStayUntouched) {
  TempDir source;
  const auto ledger = source / "ledger.sqlite";
  {
    UsageStore store(ledger);
    std::vector<UsageEvent> events;
    for (int i = 0; i < 3000; ++i) events.push_back(event("key-" + std::to_string(i), "2025-03-01T10:00:00Z"));
    ASSERT_EQ(store.ingest(events, FixedOffsetCalendar()), 3000);
  }
  ASSERT_FALSE(std::filesystem::exists(source / "ledger.sqlite-wal"));  // checkpointed on close
  const std::string bytes = readFile(ledger);
  ASSERT_GT(bytes.size(), 16384u);

  struct Case {
    const char* name;
    std::string content;
    bool readOnly;
    UsageStoreError expected;
  };
  const Case cases[] = {
      {"text file", "just some notes, not a ledger\n", false, {SQLITE_NOTADB, "file is not a database"}},
      {"cut inside the header", bytes.substr(0, 60), false, {SQLITE_CORRUPT, "database disk image is malformed"}},
      {"cut at a page boundary", bytes.substr(0, 8192), false,
       {SQLITE_CORRUPT, "database disk image is malformed"}},
      {"cut inside a page", bytes.substr(0, bytes.size() / 2 + 100), false,
       {SQLITE_CORRUPT, "database disk image is malformed"}},
      {"write-protected ledger", bytes, true, {SQLITE_READONLY, "attempt to write a readonly database"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const auto path = dir / "usage.sqlite";
    writeFile(path, c.content);
    if (c.readOnly) {
      std::filesystem::permissions(dir.path(), std::filesystem::perms::all, std::filesystem::perm_options::add);
      std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                             std::filesystem::perms::others_read);
    }
    std::optional<UsageStoreError> error;
    const auto open = [&] { error = storeErrorOf([&] { UsageStore store(path); }); };
    if (c.readOnly) {
      asUnprivilegedUser(open);
    } else {
      open();
    }
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(*error, c.expected);
    EXPECT_EQ(readFile(path), c.content);
    EXPECT_FALSE(std::filesystem::exists(dir / "usage.sqlite-wal"));
  }
}

TEST(UsageStoreError, EqualityAndText) {
  const UsageStoreError error(14, "unable to open database file");
  EXPECT_EQ(error, UsageStoreError(14, "unable to open database file"));
  EXPECT_NE(error, UsageStoreError(13, "unable to open database file"));
  EXPECT_NE(error, UsageStoreError(14, "unable to open database"));
  EXPECT_STREQ(error.what(), "sqlite(code: 14, message: \"unable to open database file\")");
  EXPECT_STREQ(UsageStoreError(0, "open failed").what(), "sqlite(code: 0, message: \"open failed\")");
  EXPECT_STREQ(UsageStoreError(1, "near \"x\":\n\\").what(), "sqlite(code: 1, message: \"near \\\"x\\\":\\n\\\\\")");
}

// ---------------------------------------------------------------------------
// Ingest

class UsageStoreIngest : public ::testing::Test {
 protected:
  Rows daily() {
    return query(db(), "SELECT provider, model, day, uncached, cache_read, w5m, w1h, output, reasoning, reported_usd "
                       "FROM daily ORDER BY rowid");
  }
  Rows sessions() { return query(db(), "SELECT provider, session_id, day FROM sessions ORDER BY rowid"); }
  Rows seen() { return query(db(), "SELECT key, day FROM seen ORDER BY rowid"); }
  Rows everything() {
    Rows all = daily();
    for (auto rows : {sessions(), seen()}) all.insert(all.end(), rows.begin(), rows.end());
    return all;
  }
  sqlite3* db() { return UsageStoreInspector::db(*store); }

  TempDir dir;
  const std::filesystem::path path = dir / "usage.sqlite";
  std::optional<UsageStore> store{std::in_place, path};
  const FixedOffsetCalendar utc;
};

TEST_F(UsageStoreIngest, EmptyListCountsNothing) {
  EXPECT_EQ(store->ingest({}, utc), 0);
  EXPECT_TRUE(everything().empty());
}

TEST_F(UsageStoreIngest, AddsNewEventsIntoDailyRowsAndSessions) {
  const std::vector<UsageEvent> events = {
      event("a", "2025-03-01T10:00:00Z", "sonnet", "s1", {1, 2, 3, 4, 5, 6}),
      event("b", "2025-03-01T23:59:59.9Z", "sonnet", "s2", {10, 20, 30, 40, 50, 60}),
      event("c", "2025-03-02T00:00:00Z", "sonnet", "s1", {100, 0, 0, 0, 1, 0}),
      event("d", "2025-03-01T11:00:00Z", "opus", "s1", {7, 0, 0, 0, 7, 0}),
      event("e", "2025-03-01T12:00:00Z", "sonnet", "s1", {1, 1, 1, 1, 1, 1}, std::nullopt, ProviderID::codex),
      event("f", "2025-03-01T12:30:00Z", "sonnet", "s1", {0, 0, 0, 0, 0, 0}),
  };
  EXPECT_EQ(store->ingest(events, utc), 6);
  EXPECT_EQ(daily(), (Rows{{"claude", "sonnet", "2025-03-01", "11", "22", "33", "44", "55", "66", "NULL"},
                           {"claude", "sonnet", "2025-03-02", "100", "0", "0", "0", "1", "0", "NULL"},
                           {"claude", "opus", "2025-03-01", "7", "0", "0", "0", "7", "0", "NULL"},
                           {"codex", "sonnet", "2025-03-01", "1", "1", "1", "1", "1", "1", "NULL"}}));
  EXPECT_EQ(sessions(), (Rows{{"claude", "s1", "2025-03-01"}, {"claude", "s2", "2025-03-01"},
                              {"codex", "s1", "2025-03-01"}}));
  EXPECT_EQ(seen(), (Rows{{"a", "2025-03-01"}, {"b", "2025-03-01"}, {"c", "2025-03-02"},
                          {"d", "2025-03-01"}, {"e", "2025-03-01"}, {"f", "2025-03-01"}}));
}

TEST_F(UsageStoreIngest, AnEventIsCountedOnlyOnce) {
  const auto first = event("msg_1", "2025-03-01T10:00:00Z");
  EXPECT_EQ(store->ingest({first, first, event("msg_2", "2025-03-01T11:00:00Z"), first}, utc), 2);
  const Rows once = everything();
  EXPECT_EQ(daily(), (Rows{{"claude", "claude-sonnet-4-5", "2025-03-01", "2", "4", "6", "8", "10", "12", "NULL"}}));

  // Again in a later batch, and the same key on another day and model with
  // no larger output or reasoning: nothing.
  EXPECT_EQ(store->ingest({first}, utc), 0);
  EXPECT_EQ(store->ingest({event("msg_1", "2025-03-05T10:00:00Z", "opus", "s9", {9, 9, 9, 9, 5, 6}, 1.0)}, utc), 0);
  EXPECT_EQ(everything(), once);
}

TEST_F(UsageStoreIngest, ReportedCostsAddNullAwareInEventOrder) {
  using Costs = std::vector<std::optional<double>>;
  struct Case {
    Costs costs;
    std::optional<double> expected;
  };
  const Case cases[] = {
      {{std::nullopt, std::nullopt}, std::nullopt},
      {{std::nullopt, 1.5}, 1.5},
      {{1.5, std::nullopt}, 1.5},
      {{1.5, 2.0}, 3.5},
      {{0.1, 0.2, 0.3}, (0.1 + 0.2) + 0.3},
      {{0.3, std::nullopt, 0.2, 0.1}, (0.3 + 0.2) + 0.1},
      // Adding the small costs first would give 1e16 + 2.
      {{1e16, 1.0, 1.0}, 1e16},
      {{std::nullopt, 1e16, std::nullopt, 1.0, 1.0}, 1e16},
      {{1e308, 1e308, -1e308, 5.0}, kInf},
      // Infinities of opposite signs give NULL, and the next cost starts over.
      {{kInf, 1.0, -kInf, 2.0, 0.25}, 2.25},
      {{-kInf, kInf}, std::nullopt},
      // A NaN binds as NULL: it adds nothing.
      {{kNaN, 1.0, kNaN, 2.0, 4.0}, 7.0},
      {{-0.0, -0.0, -0.0}, 0.0},
  };
  int batch = 0;
  for (const auto& c : cases) {
    // Batches of the events in order: all in one; the first alone and then
    // the rest (added to a stored cost); one event per batch.
    for (const size_t firstBatch : {c.costs.size(), size_t{1}, size_t{0}}) {
      const std::string model = "grok-" + std::to_string(batch++);
      SCOPED_TRACE(model);
      std::vector<UsageEvent> events;
      for (size_t i = 0; i < c.costs.size(); ++i) {
        events.push_back(event(model + "#" + std::to_string(i), "2025-03-01T10:00:00Z", model, "s", {1, 0, 0, 0, 1, 0},
                               c.costs[i], ProviderID::grok));
      }
      if (firstBatch == 0) {
        for (const auto& e : events) EXPECT_EQ(store->ingest({e}, utc), 1);
      } else {
        const std::vector<UsageEvent> first(events.begin(), events.begin() + static_cast<long>(firstBatch));
        const std::vector<UsageEvent> rest(events.begin() + static_cast<long>(firstBatch), events.end());
        EXPECT_EQ(store->ingest(first, utc), static_cast<int>(first.size()));
        EXPECT_EQ(store->ingest(rest, utc), static_cast<int>(rest.size()));
      }
      const Rows rows = query(db(), "SELECT uncached, output, typeof(reported_usd) FROM daily WHERE model = '" +
                                        model + "'");
      EXPECT_EQ(rows, (Rows{{std::to_string(c.costs.size()), std::to_string(c.costs.size()),
                             c.expected ? "real" : "null"}}));
      if (c.expected) {
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db(), "SELECT reported_usd FROM daily WHERE model = ?1", -1, &stmt, nullptr);
        sqlite3_bind_text(stmt, 1, model.c_str(), -1, SQLITE_TRANSIENT);
        ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
        EXPECT_EQ(sqlite3_column_double(stmt, 0), *c.expected);  // exactly, not approximately
        sqlite3_finalize(stmt);
      }
    }
  }
}

TEST_F(UsageStoreIngest, SessionKeepsItsEarliestDay) {
  EXPECT_EQ(store->ingest({event("a", "2025-03-03T10:00:00Z", "m", "s1"),
                           event("b", "2025-03-02T10:00:00Z", "m", "s1"),
                           event("c", "2025-03-04T10:00:00Z", "m", "s1")},
                          utc),
            3);
  EXPECT_EQ(sessions(), (Rows{{"claude", "s1", "2025-03-02"}}));
  EXPECT_EQ(store->ingest({event("d", "2025-03-06T10:00:00Z", "m", "s1")}, utc), 1);
  EXPECT_EQ(sessions(), (Rows{{"claude", "s1", "2025-03-02"}}));
  EXPECT_EQ(store->ingest({event("e", "2025-03-01T10:00:00Z", "m", "s1")}, utc), 1);
  EXPECT_EQ(sessions(), (Rows{{"claude", "s1", "2025-03-01"}}));
  // An event already seen moves nothing.
  EXPECT_EQ(store->ingest({event("a", "2025-02-01T10:00:00Z", "m", "s1")}, utc), 0);
  EXPECT_EQ(sessions(), (Rows{{"claude", "s1", "2025-03-01"}}));
}

TEST_F(UsageStoreIngest, EmptySessionIDsShareOneRowPerProvider) {
  EXPECT_EQ(store->ingest({event("a", "2025-03-03T10:00:00Z", "m", ""), event("b", "2025-03-02T10:00:00Z", "n", ""),
                           event("c", "2025-03-04T10:00:00Z", "m", "", {}, 0.5, ProviderID::grok)},
                          utc),
            3);
  EXPECT_EQ(sessions(), (Rows{{"claude", "", "2025-03-02"}, {"grok", "", "2025-03-04"}}));
}

TEST_F(UsageStoreIngest, CountersSaturateAtTheEndsOfTheRange) {
  struct Case {
    const char* name;
    std::vector<int64_t> stored;  // uncached counts ingested first, one batch each
    std::vector<int64_t> values;  // then these, in one batch or one per batch
    int64_t expected;
  };
  const Case cases[] = {
      {"sum beyond the top", {}, {kMax - 10, 100}, kMax},
      {"halves beyond the top", {}, {kMax / 2 + 1, kMax / 2 + 1, 5}, kMax},
      {"exactly the top", {}, {kMax - 1, 1}, kMax},
      {"stored row pushed over the top", {kMax - 1}, {7}, kMax},
      {"saturated, then lowered", {kMax - 1}, {5, -10}, kMax - 10},
      {"negative row, then more than the range", {-5}, {kMax, kMax}, kMax},
      {"below the bottom", {}, {kMin + 1, -2, -3}, kMin},
      {"mixed signs inside the range", {}, {10, -3, 4}, 11},
  };
  int n = 0;
  for (const auto& c : cases) {
    for (const bool together : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (together ? " in one batch" : " one per batch"));
      const std::string model = "m" + std::to_string(n++);
      const auto make = [&](int64_t uncached) {
        return event(model + "-" + std::to_string(n++), "2025-03-01T10:00:00Z", model, "s", {uncached, 0, 0, 0, 1, 0});
      };
      for (const int64_t value : c.stored) store->ingest({make(value)}, utc);
      std::vector<UsageEvent> events;
      for (const int64_t value : c.values) events.push_back(make(value));
      if (together) {
        store->ingest(events, utc);
      } else {
        for (const auto& e : events) store->ingest({e}, utc);
      }
      EXPECT_EQ(query(db(), "SELECT uncached, typeof(uncached), output FROM daily WHERE model = '" + model + "'"),
                (Rows{{std::to_string(c.expected), "integer", std::to_string(c.stored.size() + c.values.size())}}));
    }
  }
  // Every counter saturates, not only the first.
  const TokenCounts big{kMax, kMax, kMax, kMax, kMax, kMax};
  store->ingest({event("x1", "2025-03-01T10:00:00Z", "all", "s", big), event("x2", "2025-03-01T10:00:00Z", "all", "s", big)},
                utc);
  store->ingest({event("x3", "2025-03-01T10:00:00Z", "all", "s", big)}, utc);
  const std::string max = std::to_string(kMax);
  EXPECT_EQ(query(db(), "SELECT uncached, cache_read, w5m, w1h, output, reasoning FROM daily WHERE model = 'all'"),
            (Rows{{max, max, max, max, max, max}}));
}

TEST_F(UsageStoreIngest, AFailingStatementRollsBackTheWholeBatch) {
  RawDB other(path);
  exec(other.get(),
       "CREATE TRIGGER refuse BEFORE INSERT ON sessions WHEN NEW.session_id = 'boom' "
       "BEGIN SELECT RAISE(ABORT, 'boom refused'); END");
  ASSERT_EQ(store->ingest({event("before", "2025-03-01T10:00:00Z")}, utc), 1);
  const Rows before = everything();

  const std::vector<UsageEvent> batch = {event("a", "2025-03-01T10:00:00Z", "m", "s1"),
                                         event("b", "2025-03-02T10:00:00Z", "m", "boom"),
                                         event("c", "2025-03-02T11:00:00Z", "m", "s1")};
  EXPECT_EQ(storeErrorOf([&] { store->ingest(batch, utc); }), UsageStoreError(SQLITE_CONSTRAINT, "boom refused"));
  EXPECT_EQ(everything(), before);

  // The store keeps working, and the same batch counts in full once it can.
  exec(other.get(), "DROP TRIGGER refuse");
  EXPECT_EQ(store->ingest(batch, utc), 3);
}

TEST_F(UsageStoreIngest, ALockedLedgerFailsAtBeginAndChangesNothing) {
  RawDB other(path);
  exec(other.get(), "BEGIN IMMEDIATE");
  const auto batch = std::vector<UsageEvent>{event("a", "2025-03-01T10:00:00Z")};
  EXPECT_EQ(storeErrorOf([&] { store->ingest(batch, utc); }), UsageStoreError(SQLITE_BUSY, "database is locked"));
  EXPECT_EQ(storeErrorOf([&] { store->prune(at("2025-03-02T00:00:00Z"), utc); }),
            UsageStoreError(SQLITE_BUSY, "database is locked"));
  exec(other.get(), "ROLLBACK");
  EXPECT_TRUE(everything().empty());
  EXPECT_EQ(store->ingest(batch, utc), 1);
}

TEST_F(UsageStoreIngest, EventsReadAgainAfterACrashBeforeTheCursorSaveCountNothing) {
  const std::vector<UsageEvent> chunk = {event("a", "2025-03-01T10:00:00Z", "m", "s1", {5, 0, 0, 0, 5, 0}, 0.25),
                                         event("b", "2025-03-01T11:00:00Z", "m", "s2", {7, 0, 0, 0, 7, 0}, 0.5)};
  const FileCursor saved{"/logs/a.jsonl", 42, 1000, {{"provider", "claude"}}};
  ASSERT_EQ(store->ingest(chunk, utc), 2);
  // The process stops here, before the new cursor is saved.
  store.reset();
  const Rows afterCrash = [&] {
    RawDB raw(path);
    return query(raw.get(), "SELECT * FROM daily UNION ALL SELECT *, 0, 0, 0, 0, 0, 0, 0 FROM sessions");
  }();

  store.emplace(path);
  EXPECT_EQ(store->cursor(saved.path), std::nullopt);  // so the lines are read again
  EXPECT_EQ(store->ingest(chunk, utc), 0);
  store->save(saved);
  EXPECT_EQ(query(db(), "SELECT * FROM daily UNION ALL SELECT *, 0, 0, 0, 0, 0, 0, 0 FROM sessions"), afterCrash);
  EXPECT_EQ(store->cursor(saved.path), saved);
}

// A streamed reply: one line per content block, all with the reply's key;
// the earlier lines hold a small placeholder output, the last the final one,
// here written just after midnight.
TEST_F(UsageStoreIngest, AStreamedReplyCountsItsLargestOutputWhateverTheSplitOfItsLines) {
  const std::vector<UsageEvent> lines = {
      event("msg_r", "2025-03-01T23:59:58Z", "opus", "s1", {3, 100, 20, 5, 1, 0}),
      event("msg_s", "2025-03-01T23:59:58Z", "sonnet", "s2", {2, 10, 0, 0, 8, 0}),
      event("msg_r", "2025-03-01T23:59:59Z", "opus", "s1", {3, 100, 20, 5, 1, 0}),
      event("msg_s", "2025-03-01T23:59:59Z", "sonnet", "s2", {2, 10, 0, 0, 8, 0}),
      event("msg_s", "2025-03-01T23:59:59Z", "sonnet", "s2", {2, 10, 0, 0, 265, 0}),
      // Later counts of input, cache, day and model do not count: the first
      // line's do. A smaller reasoning than an earlier line's does not either.
      event("msg_r", "2025-03-02T00:00:01Z", "opus-2", "s1", {9, 999, 0, 0, 7567, 40}),
      event("msg_r", "2025-03-02T00:00:02Z", "opus", "s1", {3, 100, 20, 5, 12, 30}),
  };
  const Rows expected = {{"claude", "opus", "2025-03-01", "3", "100", "20", "5", "7567", "40", "NULL"},
                         {"claude", "sonnet", "2025-03-01", "2", "10", "0", "0", "265", "0", "NULL"}};
  struct Case {
    const char* name;
    std::vector<size_t> batchEnds;  // the lines are handed over in batches ending there
    bool restart;                   // the store is closed and opened again between batches
  };
  const Case cases[] = {
      {"one batch", {7}, false},
      {"a line per batch", {1, 2, 3, 4, 5, 6, 7}, false},
      {"the final lines in a later pass", {4, 7}, false},
      {"across a restart", {2, 5, 7}, true},
      {"a line per batch across restarts", {1, 2, 3, 4, 5, 6, 7}, true},
  };
  int round = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto file = dir / ("stream-" + std::to_string(round++) + ".sqlite");
    std::optional<UsageStore> ledger(std::in_place, file);
    int counted = 0;
    size_t start = 0;
    for (const size_t end : c.batchEnds) {
      counted += ledger->ingest(std::vector<UsageEvent>(lines.begin() + start, lines.begin() + end), utc);
      start = end;
      if (c.restart) ledger.emplace(file);
    }
    sqlite3* db = UsageStoreInspector::db(*ledger);
    EXPECT_EQ(counted, 2);
    EXPECT_EQ(query(db, "SELECT provider, model, day, uncached, cache_read, w5m, w1h, output, reasoning, "
                        "reported_usd FROM daily ORDER BY model"),
              expected);
    EXPECT_EQ(query(db, "SELECT * FROM seen ORDER BY key"),
              (Rows{{"msg_r", "2025-03-01", "claude", "opus", "7567", "40"},
                    {"msg_s", "2025-03-01", "claude", "sonnet", "265", "0"}}));
    EXPECT_EQ(query(db, "SELECT * FROM sessions ORDER BY session_id"),
              (Rows{{"claude", "s1", "2025-03-01"}, {"claude", "s2", "2025-03-01"}}));

    // The file read again, whole or line by line, adds nothing.
    EXPECT_EQ(ledger->ingest(lines, utc), 0);
    for (const auto& line : lines) EXPECT_EQ(ledger->ingest({line}, utc), 0);
    EXPECT_EQ(query(db, "SELECT provider, model, day, uncached, cache_read, w5m, w1h, output, reasoning, "
                        "reported_usd FROM daily ORDER BY model"),
              expected);
  }
}

// ---------------------------------------------------------------------------
// Several chunks in one call

// One chunk as the indexer hands it over: events, and a cursor or none.
struct TestChunk {
  std::vector<UsageEvent> events;
  std::optional<FileCursor> cursor;
};

std::vector<UsageStore::ChunkWrite> writesOf(const std::vector<TestChunk>& chunks) {
  std::vector<UsageStore::ChunkWrite> writes;
  for (const auto& chunk : chunks) writes.push_back({&chunk.events, chunk.cursor ? &*chunk.cursor : nullptr});
  return writes;
}

// Every row of every table a chunk can change, in rowid order, so that the
// order of the writes shows too.
Rows ledgerRows(sqlite3* db) {
  Rows all;
  for (const char* sql : {"SELECT 'daily', * FROM daily ORDER BY rowid", "SELECT 'sessions', * FROM sessions ORDER BY rowid",
                          "SELECT 'seen', * FROM seen ORDER BY rowid", "SELECT 'cursors', * FROM cursors ORDER BY rowid"}) {
    const Rows rows = query(db, sql);
    all.insert(all.end(), rows.begin(), rows.end());
  }
  return all;
}

TEST_F(UsageStoreIngest, ChunksWrittenTogetherLeaveExactlyWhatChunkByChunkWritingLeaves) {
  const auto cursorAt = [](const char* path, int64_t offset) {
    return FileCursor{path, 7, offset, {{"provider", "claude"}}};
  };
  const auto grok = [](std::string key, const char* iso, std::optional<double> cost, std::string session = "g") {
    return event(std::move(key), iso, "grok-4", std::move(session), {3, 0, 0, 0, 1, 0}, cost, ProviderID::grok);
  };
  struct Case {
    const char* name;
    std::vector<UsageEvent> before;  // already in the ledger
    std::vector<TestChunk> chunks;
  };
  const std::vector<Case> cases = {
      {"keys repeated within and across chunks, and already counted",
       {event("old", "2025-03-01T08:00:00Z")},
       {{{event("a", "2025-03-01T10:00:00Z"), event("b", "2025-03-01T10:01:00Z"), event("a", "2025-03-01T10:02:00Z")},
         cursorAt("/logs/1.jsonl", 100)},
        {{event("b", "2025-03-01T11:00:00Z"), event("old", "2025-03-02T11:00:00Z"), event("c", "2025-03-02T00:00:00Z")},
         cursorAt("/logs/1.jsonl", 200)},
        {{event("c", "2025-03-02T01:00:00Z"), event("a", "2025-03-03T01:00:00Z")}, cursorAt("/logs/2.jsonl", 50)}}},
      {"costs added in event order within and across chunks",
       {grok("g0", "2025-03-01T09:00:00Z", 0.7)},
       {{{grok("g1", "2025-03-01T10:00:00Z", 0.1), grok("g2", "2025-03-01T10:01:00Z", std::nullopt),
          grok("g3", "2025-03-01T10:02:00Z", 0.2), grok("g4", "2025-03-01T10:03:00Z", 0.3),
          grok("g5", "2025-03-02T10:03:00Z", 1e16), grok("g6", "2025-03-02T10:04:00Z", 1.0),
          grok("g7", "2025-03-02T10:05:00Z", 1.0)},
         cursorAt("/grok/usage.json", 0)},
        {{grok("g8", "2025-03-01T11:00:00Z", 0.3), grok("g9", "2025-03-02T11:00:00Z", 1.0)}, std::nullopt},
        {{grok("g10", "2025-03-01T12:00:00Z", std::nullopt), grok("g11", "2025-03-03T12:00:00Z", 2.5)},
         cursorAt("/grok/usage.json", 0)}}},
      {"a session moves to its earliest day, whichever chunk brings it",
       {},
       {{{event("s-a", "2025-03-05T10:00:00Z", "m", "s1"), event("s-b", "2025-03-06T10:00:00Z", "m", "s2")},
         std::nullopt},
        {{event("s-c", "2025-03-03T10:00:00Z", "m", "s1")}, cursorAt("/logs/s.jsonl", 10)},
        {{event("s-d", "2025-03-04T10:00:00Z", "m", "s1"), event("s-e", "2025-03-01T10:00:00Z", "m", "")},
         cursorAt("/logs/s.jsonl", 20)}}},
      {"a reply's lines across chunks, its output growing",
       {event("r", "2025-03-01T09:00:00Z", "m", "s1", {1, 0, 0, 0, 2, 0})},
       {{{event("r", "2025-03-01T09:00:01Z", "m", "s1", {1, 0, 0, 0, 2, 0}),
          event("q", "2025-03-01T09:00:02Z", "m", "s1", {1, 0, 0, 0, 1, 0})},
         cursorAt("/logs/r.jsonl", 10)},
        {{event("r", "2025-03-02T00:00:00Z", "m", "s1", {1, 0, 0, 0, 30, 3}),
          event("q", "2025-03-01T09:00:03Z", "m", "s1", {1, 0, 0, 0, 9, 0})},
         cursorAt("/logs/r.jsonl", 20)},
        {{event("r", "2025-03-02T00:00:01Z", "m", "s1", {1, 0, 0, 0, 31, 1})}, std::nullopt}}},
      {"chunks without events, and cursors only where given",
       {},
       {{{}, cursorAt("/logs/empty.jsonl", 300)},
        {{event("x", "2025-03-01T10:00:00Z")}, std::nullopt},
        {{}, std::nullopt},
        {{event("y", "2025-03-01T10:00:00Z")}, cursorAt("/logs/y.jsonl", 40)}}},
  };
  int round = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string n = std::to_string(round++);
    UsageStore oneByOne(dir / ("one-" + n + ".sqlite"));
    UsageStore together(dir / ("together-" + n + ".sqlite"));
    ASSERT_EQ(oneByOne.ingest(c.before, utc), static_cast<int>(c.before.size()));
    ASSERT_EQ(together.ingest(c.before, utc), static_cast<int>(c.before.size()));

    std::vector<int> expected;
    for (const auto& chunk : c.chunks) {
      expected.push_back(chunk.events.empty() ? 0 : oneByOne.ingest(chunk.events, utc));
      if (chunk.cursor) oneByOne.save(*chunk.cursor);
    }
    EXPECT_EQ(together.ingestChunks(writesOf(c.chunks), utc), expected);
    EXPECT_EQ(ledgerRows(UsageStoreInspector::db(together)), ledgerRows(UsageStoreInspector::db(oneByOne)));
    // Reported costs compared bit for bit, not through their text.
    const char* costs = "SELECT quote(reported_usd) FROM daily ORDER BY rowid";
    EXPECT_EQ(query(UsageStoreInspector::db(together), costs), query(UsageStoreInspector::db(oneByOne), costs));
  }
}

TEST_F(UsageStoreIngest, AFailingChunkRollsBackEveryChunkOfTheCall) {
  struct Case {
    const char* name;
    const char* trigger;
    UsageStoreError error;
  };
  const Case cases[] = {
      {"an event of the second chunk",
       "CREATE TRIGGER refuse BEFORE INSERT ON seen WHEN NEW.key = 'bad' BEGIN SELECT RAISE(ABORT, 'key refused'); END",
       UsageStoreError(SQLITE_CONSTRAINT, "key refused")},
      {"the second chunk's cursor",
       "CREATE TRIGGER refuse BEFORE INSERT ON cursors WHEN NEW.path = '/logs/b.jsonl' "
       "BEGIN SELECT RAISE(ABORT, 'cursor refused'); END",
       UsageStoreError(SQLITE_CONSTRAINT, "cursor refused")},
      {"the last chunk's daily row",
       "CREATE TRIGGER refuse BEFORE INSERT ON daily WHEN NEW.model = 'late' "
       "BEGIN SELECT RAISE(ABORT, 'row refused'); END",
       UsageStoreError(SQLITE_CONSTRAINT, "row refused")},
  };
  RawDB other(path);
  ASSERT_EQ(store->ingest({event("before", "2025-03-01T10:00:00Z")}, utc), 1);
  store->save(FileCursor{"/logs/a.jsonl", 1, 10, {}});
  const Rows before = ledgerRows(db());
  const std::vector<TestChunk> chunks = {
      {{event("a1", "2025-03-01T10:00:00Z"), event("a2", "2025-03-01T11:00:00Z", "m", "s2", {}, 0.5)},
       FileCursor{"/logs/a.jsonl", 1, 20, {}}},
      {{event("bad", "2025-03-02T10:00:00Z")}, FileCursor{"/logs/b.jsonl", 2, 30, {}}},
      {{event("c1", "2025-03-03T10:00:00Z", "late")}, FileCursor{"/logs/c.jsonl", 3, 40, {}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    exec(other.get(), c.trigger);
    EXPECT_EQ(storeErrorOf([&] { store->ingestChunks(writesOf(chunks), utc); }), c.error);
    EXPECT_EQ(ledgerRows(db()), before);
    EXPECT_EQ(store->cursor("/logs/a.jsonl")->offset, 10);
    exec(other.get(), "DROP TRIGGER refuse");
  }
  // Nothing was left half done: the same call now writes every chunk.
  EXPECT_EQ(store->ingestChunks(writesOf(chunks), utc), (std::vector<int>{2, 1, 1}));
  EXPECT_EQ(store->cursor("/logs/c.jsonl")->offset, 40);
}

TEST_F(UsageStoreIngest, TheWriteAheadLogIsCheckpointedAndStartsOverWhileTheIndexerWrites) {
  // A small mark, so that a few batches pass it.
  constexpr int mark = 64;
  UsageStoreInspector::checkpointAfter(*store, mark);
  // The log file is reused, not shrunk, when it starts over: its size shows
  // the longest it ever was (a header, then frames of a page and a header).
  const int64_t pageSize = std::stoll(scalar(db(), "PRAGMA page_size"));
  const auto walFrames = [&] {
    return (static_cast<int64_t>(std::filesystem::file_size(path.string() + "-wal")) - 32) / (pageSize + 24);
  };
  int64_t largest = 0;
  int key = 0;
  for (int round = 0; round < 40; ++round) {
    std::vector<UsageEvent> events;
    for (int i = 0; i < 200; ++i, ++key) {
      // Keys all over the index, as new message ids are.
      events.push_back(event("k" + std::to_string((key * 2654435761u) % 1000003u), "2025-03-01T10:00:00Z"));
    }
    const TestChunk chunk{events, FileCursor{"/logs/a.jsonl", 1, round, {}}};
    ASSERT_EQ(store->ingestChunks(writesOf({chunk}), utc), std::vector<int>{200});
    largest = std::max<int64_t>(largest, walFrames());
  }
  // Without checkpoints the log would hold every batch's pages (well over a
  // thousand frames); with them it stays within the mark and one batch.
  EXPECT_LT(largest, 4 * mark);
  EXPECT_EQ(scalar(db(), "SELECT count(*) FROM seen"), "8000");
}

TEST_F(UsageStoreIngest, APassedMarkIsCheckpointedWhileTheWriterIsAway) {
  // A batch is logged, the mark is then set at its size, and a write with
  // nothing in it finds the log past the mark (under twice it): the writer
  // returns at once, and the store's own thread copies the log into the
  // ledger file meanwhile.
  std::vector<UsageEvent> events;
  for (int i = 0; i < 150; ++i) {
    events.push_back(event("k" + std::to_string((i * 2654435761u) % 1000003u), "2025-03-01T10:00:00Z"));
  }
  const TestChunk chunk{events, FileCursor{"/logs/a.jsonl", 1, 1, {}}};
  ASSERT_EQ(store->ingestChunks(writesOf({chunk}), utc), std::vector<int>{150});
  const int logged = UsageStoreInspector::loggedPages(*store);
  ASSERT_GT(logged, 2);
  UsageStoreInspector::checkpointAfter(*store, logged);
  // The checkpoint writes the logged pages into the ledger file.
  const auto ledgerBytes = [&] { return testing::readFile(path); };
  const std::string before = ledgerBytes();

  ASSERT_EQ(store->ingestChunks(writesOf({TestChunk{{}, std::nullopt}}), utc), std::vector<int>{0});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ledgerBytes() == before && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_NE(ledgerBytes(), before);
  EXPECT_EQ(scalar(db(), "SELECT count(*) FROM seen"), "150");
}

// A calendar that runs a hook the first time it is asked about an instant
// whose UTC text begins with the hook's key, before answering as UTC does.
class WatchedCalendar final : public Calendar {
 public:
  explicit WatchedCalendar(std::map<std::string, std::function<void()>> hooks) : hooks_(std::move(hooks)) {}
  std::optional<DateComponents> components(Date date) const override {
    watch(date);
    return utc_.components(date);
  }
  std::optional<Date> startOfDay(Date date) const override {
    watch(date);
    return utc_.startOfDay(date);
  }
  std::optional<Date> addingDays(Date date, int days) const override { return utc_.addingDays(date, days); }

 private:
  void watch(Date date) const {
    const std::string text = ISO8601::format(date);
    for (const auto& [key, hook] : hooks_) {
      if (text.starts_with(key) && seen_.insert(key).second) hook();
    }
  }
  FixedOffsetCalendar utc_;
  std::map<std::string, std::function<void()>> hooks_;
  mutable std::set<std::string> seen_;
};

TEST_F(UsageStoreIngest, ACallerThatComesToWaitGoesFirstAtTheNextChunkBoundary) {
  // While the second of three chunks is written, another thread asks to save
  // limits. The chunks so far are committed, the limits saved, and the third
  // chunk follows in a transaction of its own; had it failed, the first two
  // would stay.
  struct Case {
    const char* name;
    const char* trigger;
    std::vector<int> committed;
  };
  const Case cases[] = {
      {"every chunk written", nullptr, {1, 1, 1}},
      {"the chunk after the turn fails",
       "CREATE TRIGGER refuse BEFORE INSERT ON seen WHEN NEW.key = 'c1' BEGIN SELECT RAISE(ABORT, 'refused'); END",
       {1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir scratch;
    const auto ledger = scratch / "usage.sqlite";
    UsageStore shared(ledger);
    RawDB other(ledger);
    if (c.trigger) exec(other.get(), c.trigger);
    const std::vector<TestChunk> chunks = {
        {{event("a1", "2025-03-01T10:00:00Z")}, FileCursor{"/logs/a.jsonl", 1, 10, {}}},
        {{event("b1", "2025-03-02T10:00:00Z")}, FileCursor{"/logs/b.jsonl", 2, 20, {}}},
        {{event("c1", "2025-03-03T10:00:00Z")}, FileCursor{"/logs/c.jsonl", 3, 30, {}}},
    };
    ProviderLimits saved;
    saved.plan = "waited";
    saved.status = ProviderStatus::ok;
    std::thread waiter;
    Rows committedBeforeThird;
    const WatchedCalendar calendar({
        // The events' own times, not the day bounds worked out around them.
        {"2025-03-02T10",
         [&] {
           waiter = std::thread([&] { shared.setLimits(saved, ProviderID::codex); });
           while (!UsageStoreInspector::othersWaiting(shared)) std::this_thread::yield();
         }},
        {"2025-03-03T10",
         [&] {
           committedBeforeThird = query(other.get(), "SELECT key FROM seen UNION ALL SELECT provider FROM limits");
         }},
    });
    std::vector<int> committed;
    if (c.trigger) {
      EXPECT_EQ(storeErrorOf([&] { shared.ingestChunks(writesOf(chunks), calendar, &committed); }),
                UsageStoreError(SQLITE_CONSTRAINT, "refused"));
    } else {
      EXPECT_EQ(shared.ingestChunks(writesOf(chunks), calendar, &committed), c.committed);
    }
    waiter.join();
    EXPECT_EQ(committed, c.committed);
    EXPECT_EQ(committedBeforeThird, (Rows{{"a1"}, {"b1"}, {"codex"}}));
    EXPECT_EQ(query(other.get(), "SELECT key FROM seen ORDER BY key"),
              c.trigger ? (Rows{{"a1"}, {"b1"}}) : (Rows{{"a1"}, {"b1"}, {"c1"}}));
    EXPECT_EQ(shared.cursor("/logs/b.jsonl")->offset, 20);
    EXPECT_EQ(shared.cursor("/logs/c.jsonl").has_value(), !c.trigger);
    EXPECT_EQ(shared.limits(ProviderID::codex)->plan, "waited");
  }
}

TEST(UsageStoreDayKeys, FollowTheLocalZoneAcrossDaylightSaving) {
  const ZoneOverride zone("America/Los_Angeles");
  const LocalCalendar local;
  const FixedOffsetCalendar tokyo(9 * 3600);
  struct Span {
    const char* from;
    int hours;
  };
  // Days of 23 and 25 hours, and ordinary days around them.
  for (const Span span : {Span{"2025-03-08T00:00:00-08:00", 80}, Span{"2025-10-31T20:00:00-07:00", 90}}) {
    for (const Calendar* calendar : std::initializer_list<const Calendar*>{&local, &tokyo}) {
      UsageStore store(":memory:");
      std::vector<UsageEvent> events;
      const Date start = at(span.from);
      // Every 7 minutes and 0.5 s, forward; then back in time, so the kept day bounds are left in both directions.
      for (double t = 0; t < span.hours * 3600.0; t += 420.5) {
        events.push_back(event("f" + std::to_string(events.size()), "2025-01-01T00:00:00Z"));
        events.back().timestamp = start + t;
      }
      for (double t = span.hours * 3600.0; t > 0; t -= 3599.75) {
        events.push_back(event("b" + std::to_string(events.size()), "2025-01-01T00:00:00Z"));
        events.back().timestamp = start + t;
      }
      for (auto& e : events) e.sessionID = e.dedupKey;
      ASSERT_EQ(store.ingest(events, *calendar), static_cast<int>(events.size()));
      const Rows rows = query(UsageStoreInspector::db(store), "SELECT day FROM sessions ORDER BY rowid");
      ASSERT_EQ(rows.size(), events.size());
      for (size_t i = 0; i < events.size(); ++i) {
        ASSERT_EQ(rows[i][0], dayKey(events[i].timestamp, *calendar))
            << ISO8601::format(events[i].timestamp) << " (unix " << events[i].timestamp.unixSeconds() << ")";
      }
    }
  }
  // The instants around local midnight on the short and the long day.
  const struct {
    const char* instant;
    const char* day;
  } edges[] = {
      {"2025-03-09T23:59:59.999-07:00", "2025-03-09"}, {"2025-03-10T00:00:00-07:00", "2025-03-10"},
      {"2025-03-08T23:59:59-08:00", "2025-03-08"},     {"2025-03-09T00:00:00-08:00", "2025-03-09"},
      {"2025-11-02T23:59:59-08:00", "2025-11-02"},     {"2025-11-03T00:00:00-08:00", "2025-11-03"},
      {"2025-11-02T01:30:00-07:00", "2025-11-02"},     {"2025-11-02T01:30:00-08:00", "2025-11-02"},
  };
  UsageStore store(":memory:");
  std::vector<UsageEvent> events;
  for (const auto& edge : edges) events.push_back(event(edge.instant, edge.instant, "m", edge.instant));
  ASSERT_EQ(store.ingest(events, local), static_cast<int>(events.size()));
  for (const auto& edge : edges) {
    EXPECT_EQ(scalar(UsageStoreInspector::db(store),
                     std::string("SELECT day FROM seen WHERE key = '") + edge.instant + "'"),
              edge.day)
        << edge.instant;
  }
}

// ---------------------------------------------------------------------------
// Cursors and limits

class UsageStoreRecords : public UsageStoreIngest {};

TEST_F(UsageStoreRecords, CursorsAreStoredByPathAndReplaced) {
  EXPECT_EQ(store->cursor("/logs/a.jsonl"), std::nullopt);
  const FileCursor first{"/logs/a.jsonl", 12, 300, {{"provider", "codex"}, {"session", "s-1"}, {"model", "gpt-5"}}};
  const FileCursor second{"/logs/a.jsonl", 12, 900, {{"provider", "codex"}}};
  const FileCursor other{"/logs/b.jsonl", std::numeric_limits<uint64_t>::max(), 0, {}};
  store->save(first);
  store->save(other);
  EXPECT_EQ(store->cursor("/logs/a.jsonl"), first);
  store->save(second);
  EXPECT_EQ(store->cursor("/logs/a.jsonl"), second);
  EXPECT_EQ(store->cursor("/logs/b.jsonl"), other);
  EXPECT_EQ(query(db(), "SELECT path, json FROM cursors ORDER BY path"),
            (Rows{{"/logs/a.jsonl", R"({"path":"/logs/a.jsonl","inode":12,"offset":900,"context":{"provider":"codex"}})"},
                  {"/logs/b.jsonl",
                   R"({"path":"/logs/b.jsonl","inode":18446744073709551615,"offset":0,"context":{}})"}}));
}

TEST_F(UsageStoreRecords, APathThatIsNotUTF8IsFoundAgainUnderItsStoredText) {
  const std::string path = "/logs/caf\xE9.jsonl";  // Latin-1 byte, not UTF-8
  store->save(FileCursor{path, 1, 10, {}});
  const auto read = store->cursor(path);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->path, "/logs/caf\xEF\xBF\xBD.jsonl");
  EXPECT_EQ(read->offset, 10);
  // Saving the cursor it gave back replaces the same row.
  FileCursor next = *read;
  next.offset = 20;
  store->save(next);
  EXPECT_EQ(store->cursor(path)->offset, 20);
  EXPECT_EQ(scalar(db(), "SELECT count(*) FROM cursors"), "1");
}

TEST_F(UsageStoreRecords, UndecodableStoredTextThrowsAndStays) {
  exec(db(),
       "INSERT INTO cursors VALUES('/bad/a', 'not json'), ('/bad/b', '{\"path\":\"/bad/b\",\"inode\":1}');"
       "INSERT INTO limits VALUES('codex', '{\"windows\":[]}'), ('grok', '[1,2]')");
  for (const char* path : {"/bad/a", "/bad/b"}) EXPECT_THROW(store->cursor(path), DecodingError) << path;
  EXPECT_THROW(store->limits(ProviderID::codex), DecodingError);
  EXPECT_THROW(store->limits(ProviderID::grok), DecodingError);
  EXPECT_EQ(scalar(db(), "SELECT count(*) FROM cursors"), "2");
  EXPECT_EQ(scalar(db(), "SELECT count(*) FROM limits"), "2");
}

TEST_F(UsageStoreRecords, ResettingCursorsRemovesOnlyThoseNamingTheProvider) {
  const auto cursorFor = [](std::string path, std::map<std::string, std::string> context) {
    return FileCursor{std::move(path), 1, 100, std::move(context)};
  };
  store->save(cursorFor("/c/1.jsonl", {{"provider", "claude"}}));
  store->save(cursorFor("/c/2.jsonl", {{"provider", "claude"}, {"session", "x"}}));
  store->save(cursorFor("/x/codex.jsonl", {{"provider", "codex"}}));
  store->save(cursorFor("/x/grok.json", {{"provider", "grok"}}));
  store->save(cursorFor("/x/cursor", {{"provider", "cursor"}}));
  store->save(cursorFor("/x/none.jsonl", {}));
  store->save(cursorFor("/x/upper.jsonl", {{"provider", "Claude"}}));
  store->save(cursorFor("/x/other-key.jsonl", {{"tool", "claude"}}));
  exec(db(), "INSERT INTO cursors VALUES('/x/broken', '{\"context\":{\"provider\":\"claude\"}}')");

  store->resetCursors(ProviderID::claude);
  EXPECT_EQ(query(db(), "SELECT path FROM cursors ORDER BY path"),
            (Rows{{"/x/broken"}, {"/x/codex.jsonl"}, {"/x/cursor"}, {"/x/grok.json"}, {"/x/none.jsonl"},
                  {"/x/other-key.jsonl"}, {"/x/upper.jsonl"}}));
  store->resetCursors(ProviderID::claude);  // nothing left to remove
  store->resetCursors(ProviderID::grok);
  EXPECT_EQ(store->cursor("/x/grok.json"), std::nullopt);
  EXPECT_TRUE(store->cursor("/x/codex.jsonl").has_value());

  // A failing deletion removes nothing.
  RawDB other(path);
  exec(other.get(), "BEGIN IMMEDIATE");
  EXPECT_EQ(storeErrorOf([&] { store->resetCursors(ProviderID::codex); }),
            UsageStoreError(SQLITE_BUSY, "database is locked"));
  exec(other.get(), "ROLLBACK");
  EXPECT_TRUE(store->cursor("/x/codex.jsonl").has_value());
}

TEST_F(UsageStoreRecords, LimitsAreStoredPerProviderAndReplaced) {
  EXPECT_EQ(store->limits(ProviderID::codex), std::nullopt);
  ProviderLimits first;
  first.plan = "plus";
  first.windows = {LimitWindow("session", "Session", 0.25, 18000.0, Date{780000000.125}, LimitSource::live()),
                   LimitWindow("weekly", "Weekly", 0.5, std::nullopt, std::nullopt, LimitSource::local(Date{779999000.5}))};
  first.credits = Credits{"Credits", 12.5, std::nullopt, 100.0, false};
  first.status = ProviderStatus::ok;
  first.fetchedAt = Date{780000123.456};
  store->setLimits(first, ProviderID::codex);
  EXPECT_EQ(store->limits(ProviderID::codex), first);
  EXPECT_EQ(store->limits(ProviderID::claude), std::nullopt);
  // Dates are kept as seconds since 2001, fraction included.
  EXPECT_NE(scalar(db(), "SELECT json FROM limits").find("\"fetchedAt\":780000123.456"), std::string::npos);

  const ProviderLimits second = first.markedStale();
  store->setLimits(second, ProviderID::codex);
  EXPECT_EQ(store->limits(ProviderID::codex), second);
  EXPECT_EQ(scalar(db(), "SELECT count(*) FROM limits"), "1");

  // A record that cannot be written leaves the stored one alone.
  ProviderLimits broken = first;
  broken.fetchedAt = Date{std::nan("")};
  EXPECT_THROW(store->setLimits(broken, ProviderID::codex), EncodingError);
  EXPECT_EQ(store->limits(ProviderID::codex), second);
}

// ---------------------------------------------------------------------------
// Pruning

TEST_F(UsageStoreIngest, PruneDropsEarlierDaysAndKeepsTheCutoffDay) {
  const ZoneOverride zone("America/Los_Angeles");
  const LocalCalendar local;
  struct Case {
    const char* name;
    const Calendar* calendar;
    Date cutoff;
    Rows daysLeft;
  };
  // 2025-03-01T05:00Z is still February 28th in Los Angeles.
  const Case cases[] = {
      {"local zone", &local, at("2025-03-01T05:00:00Z"), Rows{{"2025-02-28"}, {"2025-03-01"}, {"2025-03-02"}}},
      {"UTC", &utc, at("2025-03-01T05:00:00Z"), Rows{{"2025-03-01"}, {"2025-03-02"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    store.emplace(":memory:");
    const std::vector<UsageEvent> events = {
        event("d27", "2025-02-27T12:00:00-08:00", "m", "s27"), event("d28", "2025-02-28T12:00:00-08:00", "m", "s28"),
        event("d01", "2025-03-01T12:00:00-08:00", "m", "s01"), event("d02", "2025-03-02T12:00:00-08:00", "m", "s02")};
    ASSERT_EQ(store->ingest(events, *c.calendar), 4);
    store->save(FileCursor{"/logs/old.jsonl", 1, 10, {{"provider", "claude"}}});
    store->setLimits(ProviderLimits{std::nullopt, {}, std::nullopt, ProviderStatus::ok, Date{1}}, ProviderID::claude);

    store->prune(c.cutoff, *c.calendar);
    EXPECT_EQ(query(db(), "SELECT day FROM daily ORDER BY day"), c.daysLeft);
    EXPECT_EQ(query(db(), "SELECT day FROM sessions ORDER BY day"), c.daysLeft);
    EXPECT_EQ(query(db(), "SELECT day FROM seen ORDER BY day"), c.daysLeft);
    EXPECT_TRUE(store->cursor("/logs/old.jsonl").has_value());
    EXPECT_TRUE(store->limits(ProviderID::claude).has_value());

    // An event of a pruned day counts anew when read again; one of a kept day does not.
    EXPECT_EQ(store->ingest({events[0]}, *c.calendar), 1);
    EXPECT_EQ(store->ingest({events[3]}, *c.calendar), 0);
  }
}

// A first index fills an empty seen table without its day index, which only
// pruning uses; the next prune deletes without it and builds it over the
// rows that stay.
TEST_F(UsageStoreIngest, AFirstFillLeavesTheDayIndexToTheNextPrune) {
  const auto hasDayIndex = [&] {
    return scalar(db(), "SELECT count(*) FROM sqlite_schema WHERE name = 'seen_day'") == "1";
  };
  ASSERT_TRUE(hasDayIndex());
  const TestChunk first{{event("a", "2025-03-01T10:00:00Z"), event("b", "2025-03-03T10:00:00Z")},
                        FileCursor{"/logs/a.jsonl", 1, 10, {}}};
  ASSERT_EQ(store->ingestChunks(writesOf({first}), utc), std::vector<int>{2});
  EXPECT_FALSE(hasDayIndex());
  const TestChunk second{{event("c", "2025-03-02T10:00:00Z"), event("a", "2025-03-01T10:00:00Z")}, std::nullopt};
  ASSERT_EQ(store->ingestChunks(writesOf({second}), utc), std::vector<int>{1});
  EXPECT_FALSE(hasDayIndex());

  store->prune(at("2025-03-02T00:00:00Z"), utc);
  EXPECT_TRUE(hasDayIndex());
  EXPECT_EQ(query(db(), "SELECT name FROM pragma_index_info('seen_day')"), (Rows{{"day"}}));
  EXPECT_EQ(query(db(), "SELECT key, day FROM seen INDEXED BY seen_day ORDER BY day"),
            (Rows{{"c", "2025-03-02"}, {"b", "2025-03-03"}}));
  EXPECT_EQ(query(db(), "SELECT day FROM daily ORDER BY day"), (Rows{{"2025-03-02"}, {"2025-03-03"}}));
  // The pruned day's event counts anew, the kept ones do not.
  EXPECT_EQ(store->ingest({event("a", "2025-03-01T10:00:00Z"), event("b", "2025-03-03T10:00:00Z")}, utc), 1);

  // A seen table with rows keeps its index: in a store opened on this
  // ledger, and in a new one whose first write was a plain ingest.
  store.emplace(path);
  ASSERT_EQ(store->ingestChunks(writesOf({TestChunk{{event("d", "2025-03-04T10:00:00Z")}, std::nullopt}}), utc),
            std::vector<int>{1});
  EXPECT_TRUE(hasDayIndex());
  store.emplace(dir / "other.sqlite");
  ASSERT_EQ(store->ingest({event("e", "2025-03-04T10:00:00Z")}, utc), 1);
  ASSERT_EQ(store->ingestChunks(writesOf({TestChunk{{event("f", "2025-03-04T10:00:00Z")}, std::nullopt}}), utc),
            std::vector<int>{1});
  EXPECT_TRUE(hasDayIndex());
}

// A first fill that fails leaves the index, as it leaves every row.
TEST_F(UsageStoreIngest, AFailedFirstFillKeepsTheDayIndex) {
  RawDB other(path);
  exec(other.get(),
       "CREATE TRIGGER refuse BEFORE INSERT ON seen WHEN NEW.key = 'bad' BEGIN SELECT RAISE(ABORT, 'refused'); END");
  const TestChunk chunk{{event("a", "2025-03-01T10:00:00Z"), event("bad", "2025-03-01T11:00:00Z")}, std::nullopt};
  EXPECT_EQ(storeErrorOf([&] { store->ingestChunks(writesOf({chunk}), utc); }),
            UsageStoreError(SQLITE_CONSTRAINT, "refused"));
  EXPECT_EQ(scalar(db(), "SELECT count(*) FROM sqlite_schema WHERE name = 'seen_day'"), "1");
  EXPECT_TRUE(everything().empty());
}

// ---------------------------------------------------------------------------
// Serial access

TEST(UsageStoreConcurrency, OperationsFromManyThreadsRunOneAtATime) {
  TempDir dir;
  UsageStore store(dir / "usage.sqlite");
  const FixedOffsetCalendar utc;
  constexpr int threads = 4, batches = 40, perBatch = 50;
  std::atomic<int> counted{0};
  std::atomic<int> failures{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      try {
        for (int b = 0; b < batches; ++b) {
          std::vector<UsageEvent> events;
          for (int i = 0; i < perBatch; ++i) {
            // Half of each batch is shared by every thread and must count once.
            const std::string key = i % 2 ? "t" + std::to_string(t) + "-" + std::to_string(b) + "-" + std::to_string(i)
                                          : "shared-" + std::to_string(b) + "-" + std::to_string(i);
            events.push_back(event(key, "2025-03-01T10:00:00Z", "m", "s", {1, 0, 0, 0, 0, 0}));
          }
          counted += store.ingest(events, utc);
          store.save(FileCursor{"/logs/" + std::to_string(t), 1, b, {{"provider", "claude"}}});
          (void)store.cursor("/logs/" + std::to_string(t));
          (void)store.limits(ProviderID::codex);
        }
      } catch (const std::exception& e) {
        ++failures;
        ADD_FAILURE() << e.what();
      }
    });
  }
  for (auto& worker : workers) worker.join();
  EXPECT_EQ(failures, 0);
  const int expected = batches * perBatch / 2 * (threads + 1);
  EXPECT_EQ(counted, expected);
  EXPECT_EQ(scalar(UsageStoreInspector::db(store), "SELECT uncached FROM daily"), std::to_string(expected));
}

}  // namespace
}  // namespace tokvane
