// A damaged ledger must never cost the user their history: a ledger that
// lost pages off its end is refused at opening and left exactly as it was
// (the engine goes on with a temporary ledger), and a ledger with a damaged
// page fails loudly wherever the damage is reached, moving no cursor past
// events it could not count, so that nothing is lost once the page is
// repaired.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Tokvane/Engine/Model/EngineComposition.hpp"
#include "Tokvane/Engine/Indexing/IndexerService.hpp"
#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Pricing/PriceTable.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"
#include "tests/engine/support/FakeEnv.hpp"
#include "tests/support/LogLines.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane {
namespace {

namespace fs = std::filesystem;
using testing::claudeLine;
using testing::codexUsageLine;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::appendFile;
using testing::FakeEnv;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

const std::string malformed = "sqlite(code: 11, message: \"database disk image is malformed\")";

std::string fallbackLine(const std::string& error) {
  return "Tokvane: opening the usage store failed (" + error + "); using a temporary one";
}

// One column of a query's rows, read through a connection of its own.
std::vector<std::string> column(const fs::path& ledger, const std::string& sql) {
  sqlite3* db = nullptr;
  std::vector<std::string> values;
  EXPECT_EQ(sqlite3_open_v2(ledger.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* statement = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sql;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    const auto* text = sqlite3_column_text(statement, 0);
    values.emplace_back(text ? reinterpret_cast<const char*>(text) : "NULL");
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return values;
}

// Overwrites `bytes.size()` bytes of the file at `offset`.
void overwrite(const fs::path& path, int64_t offset, const std::string& bytes) {
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  file.seekp(offset);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(file.good()) << path;
}

void expectNoJournalBeside(const fs::path& ledger) {
  for (const char* suffix : {"-wal", "-shm", "-journal"}) {
    EXPECT_FALSE(fs::exists(ledger.string() + suffix)) << suffix;
  }
}

// A ledger of some hundred pages: daily rows over two months, thousands of
// seen keys and sessions, and cursors; closed, so it is all in the file.
void writeLedger(const fs::path& ledger) {
  fs::create_directories(ledger.parent_path());
  UsageStore store(ledger);
  std::vector<UsageEvent> events;
  // Enough rows for some fifty pages of the largest page size a ledger is made with.
  constexpr int count = 12000;
  for (int i = 0; i < count; ++i) {
    UsageEvent event;
    event.provider = i % 3 ? ProviderID::claude : ProviderID::codex;
    event.model = "model-" + std::to_string(i % 5);
    event.sessionID = "session-" + std::to_string(i / 4);
    event.dedupKey = "msg_" + std::to_string(1'000'000 + i * 7919 % 1'000'003);
    event.timestamp = Date::fromUnix(1767225600.0 - 86400.0 * (i % 60));
    event.tokens.uncachedInput = 1 + i;
    event.tokens.output = 2 * i;
    events.push_back(event);
  }
  ASSERT_EQ(store.ingest(events, FixedOffsetCalendar()), count);
  for (int i = 0; i < 50; ++i) {
    store.save(FileCursor{"/home/u/.claude/projects/p/" + std::to_string(i) + ".jsonl", uint64_t(i), 4096 * i,
                          {{"provider", "claude"}}});
  }
}

TEST(DamagedLedger, LedgerCutShortIsRefusedAndLeftAsItWas) {
  TempDir source;
  const fs::path original = source / "usage.sqlite";
  writeLedger(original);
  expectNoJournalBeside(original);
  const std::string bytes = readFile(original);
  const auto pageSize = static_cast<size_t>(std::stoll(column(original, "PRAGMA page_size").at(0)));
  ASSERT_GT(bytes.size(), 50 * pageSize);

  struct Case {
    const char* name;
    size_t keep;
  };
  const Case cases[] = {
      {"cut inside the header", 50},
      {"only the first page left", pageSize},
      {"cut in half", bytes.size() / 2},
      {"the last page missing", bytes.size() - pageSize},
      // SQLite itself would open this one and miss keys of the `seen` index.
      {"cut inside the last page", bytes.size() - 2000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const fs::path dataHome = dir / "share";
    const fs::path ledger = dataHome / "Tokvane" / "usage.sqlite";
    const std::string cut = bytes.substr(0, c.keep);
    writeFile(ledger, cut);

    FakeEnv env;
    std::shared_ptr<UsageStore> store = openUsageStore(env, dataHome);
    ASSERT_TRUE(store);
    EXPECT_THAT(env.logLines(), ElementsAre(fallbackLine(malformed)));
    // The temporary ledger works, and starts empty.
    EXPECT_EQ(store->allCursorTexts().size(), 0u);
    UsageEvent event;
    event.dedupKey = "fresh";
    event.model = "m";
    event.timestamp = Date::fromUnix(1767225600.0);
    event.tokens.output = 1;
    EXPECT_EQ(store->ingest({event}, FixedOffsetCalendar()), 1);
    store.reset();

    // Nothing was written to, beside or over the user's file.
    EXPECT_EQ(readFile(ledger), cut);
    expectNoJournalBeside(ledger);
  }
}

// A ledger written by a newer version, or one whose tables are gone, would
// fail every write at every start: it is refused at opening exactly like a
// damaged one, and left as it was.
TEST(DamagedLedger, LedgerOfANewerVersionOrWithoutItsTablesIsRefusedAndLeftAsItWas) {
  TempDir source;
  const fs::path original = source / "usage.sqlite";
  writeLedger(original);
  const std::string newer = std::to_string(UsageStore::schemaVersion + 1);
  struct Case {
    const char* name;
    std::string sql;
    std::string error;
  };
  const Case cases[] = {
      {"a newer version", "PRAGMA user_version = " + newer,
       "sqlite(code: 14, message: \"ledger version " + newer + " is newer than this program's " +
           std::to_string(UsageStore::schemaVersion) + "\")"},
      {"its seen keys gone", "DROP TABLE seen", "sqlite(code: 11, message: \"the ledger has no table seen\")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const fs::path dataHome = dir / "share";
    const fs::path ledger = dataHome / "Tokvane" / "usage.sqlite";
    fs::create_directories(ledger.parent_path());
    fs::copy_file(original, ledger);
    {
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open_v2(ledger.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
      ASSERT_EQ(sqlite3_exec(db, c.sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
      sqlite3_close(db);
    }
    expectNoJournalBeside(ledger);
    const std::string before = readFile(ledger);

    FakeEnv env;
    std::shared_ptr<UsageStore> store = openUsageStore(env, dataHome);
    ASSERT_TRUE(store);
    EXPECT_THAT(env.logLines(), ElementsAre(fallbackLine(c.error)));
    EXPECT_EQ(store->allCursorTexts().size(), 0u);
    store.reset();
    EXPECT_EQ(readFile(ledger), before);
    expectNoJournalBeside(ledger);
  }
}

TEST(DamagedLedger, DamagedPageFailsWhereReachedAndLosesNothingOnceRepaired) {
  TempDir dir;
  const fs::path home = dir / "home";
  const fs::path dataHome = dir / "share";
  const fs::path ledger = dataHome / "Tokvane" / "usage.sqlite";
  const fs::path claudeLog = home / ".claude/projects/p/a.jsonl";
  const fs::path codexLog = home / ".codex/sessions/2025/12/31/rollout-b.jsonl";
  writeFile(claudeLog, claudeLine("c1", {.input = 10}) + claudeLine("c2", {.input = 20}));
  writeFile(codexLog,
            R"({"timestamp":"2025-12-31T10:00:00Z","type":"session_meta","payload":{"id":"cs"}})"
            "\n"
            R"({"timestamp":"2025-12-31T10:00:00Z","type":"turn_context","payload":{"model":"gpt-x"}})"
            "\n" +
                codexUsageLine("x1", {.input = 100}));

  const auto calendar = std::make_shared<FixedOffsetCalendar>();
  // One launch of the engine's ledger and indexer over the logs.
  struct Launch {
    FakeEnv env;
    std::shared_ptr<UsageStore> store;
    std::unique_ptr<IndexerService> indexer;
    Launch(const fs::path& dataHome, const fs::path& home, std::shared_ptr<const Calendar> calendar) {
      store = openUsageStore(env, dataHome);
      indexer = std::make_unique<IndexerService>(*store, ProviderLocations(home), nullptr, std::move(calendar), env);
    }
    ~Launch() {
      indexer.reset();
      store.reset();
    }
  };

  {
    Launch first(dataHome, home, calendar);
    EXPECT_EQ(first.indexer->indexAll().get().newEvents, 3);
    EXPECT_THAT(first.env.logLines(), IsEmpty());
  }
  expectNoJournalBeside(ledger);

  // The tools write on; meanwhile the root pages of the seen keys and the
  // daily rows get damaged.
  appendFile(claudeLog, claudeLine("c3", {.input = 30}));
  appendFile(codexLog, codexUsageLine("x2", {.input = 200}));
  const auto pageSize = std::stoll(column(ledger, "PRAGMA page_size").at(0));
  std::map<int64_t, std::string> intact;
  for (const std::string& root : column(ledger, "SELECT rootpage FROM sqlite_master WHERE name IN ('seen', 'daily')")) {
    const int64_t offset = (std::stoll(root) - 1) * pageSize;
    intact[offset] = readFile(ledger).substr(static_cast<size_t>(offset), static_cast<size_t>(pageSize));
    overwrite(ledger, offset, std::string(16, '\xff'));
  }
  ASSERT_EQ(intact.size(), 2u);
  const std::string damaged = readFile(ledger);
  const std::vector<std::string> cursorsBefore = column(ledger, "SELECT path || ' ' || json FROM cursors ORDER BY 1");

  {
    Launch second(dataHome, home, calendar);
    if (!second.env.logLines().empty()) {
      // Refused at opening: then exactly as a ledger cut short.
      EXPECT_THAT(second.env.logLines(), ElementsAre(fallbackLine(malformed)));
      second.indexer.reset();
      second.store.reset();
      EXPECT_EQ(readFile(ledger), damaged);
    } else {
      // Opened: every write that reaches the damage fails and is logged, and
      // no cursor moves past the events that could not be counted.
      EXPECT_EQ(second.indexer->indexAll().get().newEvents, 0);
      EXPECT_THAT(second.env.logLines(),
                  ElementsAre("Tokvane: indexing " + fs::canonical(claudeLog).string() + " failed: " + malformed,
                              "Tokvane: indexing " + fs::canonical(codexLog).string() + " failed: " + malformed));
      // A damaged ledger never reads as an empty one.
      try {
        (void)second.store->summary(30, Date::fromUnix(1767225600.0), *calendar, PriceTable());
        ADD_FAILURE() << "the summary of a damaged ledger was read";
      } catch (const UsageStoreError& error) {
        EXPECT_EQ(error.code, 11);
      }
    }
  }
  expectNoJournalBeside(ledger);
  EXPECT_EQ(column(ledger, "SELECT path || ' ' || json FROM cursors ORDER BY 1"), cursorsBefore);

  // Repaired (the pages put back, as a recovery tool would): the lines
  // written meanwhile are counted, each once.
  for (const auto& [offset, page] : intact) overwrite(ledger, offset, page);
  {
    Launch third(dataHome, home, calendar);
    EXPECT_EQ(third.indexer->indexAll().get().newEvents, 2);
    EXPECT_THAT(third.env.logLines(), IsEmpty());
  }
  EXPECT_THAT(column(ledger, "SELECT key FROM seen ORDER BY key"), ElementsAre("c1", "c2", "c3", "x1", "x2"));
  EXPECT_THAT(column(ledger, "SELECT provider || ' ' || model || ' ' || uncached FROM daily ORDER BY 1"),
              ElementsAre("claude claude-x 60", "codex gpt-x 300"));
}

}  // namespace
}  // namespace tokvane
