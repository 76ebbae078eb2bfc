#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Tokvane/Engine/Indexing/IndexerService.hpp"
#include "Tokvane/Engine/Indexing/LogFileTree.hpp"
#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Logs/FileCursor.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"
#include "tests/engine/support/FakeEnv.hpp"
#include "tests/support/LogLines.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane {
namespace {

namespace fs = std::filesystem;
using testing::appendFile;
using testing::claudeLine;
using testing::codexLimitsLine;
using testing::codexSessionMeta;
using testing::codexTurnContext;
using testing::codexUsageLine;
using testing::fillerLine;
using testing::grokSession;
using testing::logStamp;
using ::testing::ElementsAre;
using testing::FakeEnv;
using ::testing::IsEmpty;
using testing::TempDir;
using testing::writeFile;
using Strings = std::vector<std::string>;

// ---------------------------------------------------------------------------
// Log lines: every stamp (logStamp) lies before the fake clock's start
// (2026-01-01T00:00:00Z), so Codex limits read at that time are taken.

uint64_t inodeOf(const fs::path& path) {
  struct stat status;
  EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
  return static_cast<uint64_t>(status.st_ino);
}

void setModified(const fs::path& path, int64_t unixSeconds) {
  const struct timespec times[2] = {{unixSeconds, 0}, {unixSeconds, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// ---------------------------------------------------------------------------
// Looking into the ledger

// Every table of a ledger file as sorted text rows, read through a second
// connection.
std::vector<std::string> dumpLedger(const fs::path& ledger) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(ledger.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  std::vector<std::string> rows;
  const std::pair<const char*, const char*> tables[] = {
      {"daily", "1, 2, 3"}, {"seen", "1"}, {"sessions", "1, 2"}, {"cursors", "1"}, {"limits", "1"}};
  for (const auto& [table, order] : tables) {
    sqlite3_stmt* statement = nullptr;
    const std::string sql = std::string("SELECT * FROM ") + table + " ORDER BY " + order;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sql;
    while (sqlite3_step(statement) == SQLITE_ROW) {
      std::string row = table;
      for (int column = 0; column < sqlite3_column_count(statement); ++column) {
        const auto* text = sqlite3_column_text(statement, column);
        row += "|" + std::string(text ? reinterpret_cast<const char*>(text) : "NULL");
      }
      rows.push_back(std::move(row));
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return rows;
}

// The first column of every row of a query, read through a second connection.
Strings query(const fs::path& ledger, const std::string& sql) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(ledger.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* statement = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sql;
  Strings rows;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    const auto* text = sqlite3_column_text(statement, 0);
    rows.emplace_back(text ? reinterpret_cast<const char*>(text) : "NULL");
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return rows;
}

// The offset of a stored cursor, read through a second connection; -1 when
// there is none.
int64_t storedOffset(const fs::path& ledger, const std::string& path) {
  const Strings rows = query(ledger, "SELECT json_extract(json, '$.offset') FROM cursors WHERE path = '" + path + "'");
  return rows.empty() ? -1 : std::stoll(rows.front());
}

void overwriteCursorJSON(const fs::path& ledger, const std::string& path, const std::string& json) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(ledger.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* statement = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "UPDATE cursors SET json = ?2 WHERE path = ?1", -1, &statement, nullptr), SQLITE_OK);
  sqlite3_bind_text(statement, 1, path.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(statement, 2, json.c_str(), -1, SQLITE_TRANSIENT);
  EXPECT_EQ(sqlite3_step(statement), SQLITE_DONE);
  EXPECT_EQ(sqlite3_changes(db), 1);
  sqlite3_finalize(statement);
  sqlite3_close(db);
}

// The ingest callable of the tests: records every batch (and the stored
// cursors at that moment), runs an optional hook that may throw, block or
// move the clock, then ingests into the store.
class Recorder {
 public:
  explicit Recorder(UsageStore& store) : store_(store) {}

  std::function<void(const std::vector<UsageEvent>&)> hook;
  bool snapshotCursors = false;

  IndexerService::IngestEvents callable() {
    return [this](const std::vector<UsageEvent>& events, const Calendar& calendar) {
      {
        std::lock_guard lock(mutex_);
        batches_.push_back(events);
        if (snapshotCursors) {
          std::set<std::string> rows;
          for (const auto& [path, json] : store_.allCursorTexts()) rows.insert(path + " " + json);
          cursorStates_.emplace_back(rows.begin(), rows.end());
        }
      }
      if (hook) hook(events);
      return store_.ingest(events, calendar);
    };
  }

  std::vector<std::vector<UsageEvent>> batches() const {
    std::lock_guard lock(mutex_);
    return batches_;
  }
  // The dedup keys of each batch.
  std::vector<Strings> batchKeys() const {
    std::vector<Strings> keys;
    for (const auto& batch : batches()) {
      keys.emplace_back();
      for (const auto& event : batch) keys.back().push_back(event.dedupKey);
    }
    return keys;
  }
  Strings keys() const {
    Strings all;
    for (const auto& batch : batchKeys()) all.insert(all.end(), batch.begin(), batch.end());
    return all;
  }
  std::vector<Strings> cursorStates() const {
    std::lock_guard lock(mutex_);
    return cursorStates_;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    batches_.clear();
    cursorStates_.clear();
  }

 private:
  UsageStore& store_;
  mutable std::mutex mutex_;
  std::vector<std::vector<UsageEvent>> batches_;
  std::vector<Strings> cursorStates_;
};

// A runtime whose clock moves on by a fixed step at every reading and that
// hands everything else to a FakeEnv: the progress throttle then decides by
// the number and order of its readings alone, so runs that read the clock
// alike report alike.
class SteppingEnv final : public Env {
 public:
  SteppingEnv(FakeEnv& inner, double step) : inner_(inner), now_(inner.now()), step_(step) {}

  void postToMain(std::function<void()> work) override { inner_.postToMain(std::move(work)); }
  bool isMainThread() const override { return inner_.isMainThread(); }
  Date now() override {
    std::lock_guard lock(mutex_);
    now_ = now_ + step_;
    return now_;
  }
  std::shared_ptr<Cancellable> scheduleOnMain(double delay, std::function<void()> work) override {
    return inner_.scheduleOnMain(delay, std::move(work));
  }
  void runInBackground(std::function<void()> work) override { inner_.runInBackground(std::move(work)); }
  void log(std::string_view line) override { inner_.log(line); }
  std::unique_ptr<FileEventStream> watchFiles(const std::vector<std::string>& roots, double latency,
                                              FileEventCallback onBatch) override {
    return inner_.watchFiles(roots, latency, std::move(onBatch));
  }

 private:
  FakeEnv& inner_;
  std::mutex mutex_;
  Date now_;
  const double step_;
};

// How a service under test writes to the ledger: through the Recorder, one
// chunk at a time, or through the store's own ingest, which writes groups of
// chunks in one transaction.
enum class Writes { recorded, grouped };

IndexerService::Options options(int parseThreads, int64_t chunkSize = int64_t{8} << 20) {
  IndexerService::Options options;
  options.parseThreads = parseThreads;
  options.chunkSize = chunkSize;
  return options;
}

// A home folder with the tools' log folders, a file-backed ledger, a fake
// runtime in UTC and a service that ingests through a Recorder.
class Indexer {
 public:
  // With a `clockStep`, the service's clock moves on by that much at every
  // reading (log lines still reach `env`).
  explicit Indexer(IndexerService::Options serviceOptions = options(2), std::optional<fs::path> sharedHome = {},
                   std::shared_ptr<CursorProvider> cursor = nullptr, Writes writes = Writes::recorded,
                   double clockStep = 0)
      : home(sharedHome.value_or(dir / "home")), ledger(dir / "usage.sqlite"), store(ledger), recorder(store) {
    fs::create_directories(home);
    if (clockStep > 0) stepping = std::make_unique<SteppingEnv>(env, clockStep);
    service = std::make_unique<IndexerService>(
        store, ProviderLocations(home), std::move(cursor), calendar, stepping ? static_cast<Env&>(*stepping) : env,
        writes == Writes::recorded ? recorder.callable() : IndexerService::IngestEvents{}, std::move(serviceOptions));
  }

  fs::path claude(const std::string& relative) const { return home / ".claude/projects" / relative; }
  fs::path codex(const std::string& relative) const { return home / ".codex/sessions" / relative; }
  fs::path archived(const std::string& relative) const { return home / ".codex/archived_sessions" / relative; }
  fs::path grok(const std::string& relative) const { return home / ".grok/sessions" / relative; }
  // The path the service works with (the home folder resolved).
  std::string real(const fs::path& path) const {
    return LogFileTree::resolved(home.string()) + "/" + fs::relative(path, home).string();
  }

  IndexOutcome indexAll() {
    return service
        ->indexAll([this](const std::optional<IndexingProgress>& value) {
          std::lock_guard lock(progressMutex);
          progress.push_back(value);
        })
        .get();
  }
  IndexOutcome index(const Strings& paths) { return service->index(paths).get(); }

  std::optional<FileCursor> cursor(const fs::path& path) { return store.cursor(real(path)); }
  std::set<std::string> cursorPaths() {
    std::set<std::string> paths;
    for (const auto& [path, json] : store.allCursorTexts()) paths.insert(path);
    return paths;
  }

  TempDir dir;
  fs::path home;
  fs::path ledger;
  UsageStore store;
  FakeEnv env;
  std::unique_ptr<SteppingEnv> stepping;
  std::shared_ptr<const Calendar> calendar = std::make_shared<FixedOffsetCalendar>();
  Recorder recorder;
  std::mutex progressMutex;
  std::vector<std::optional<IndexingProgress>> progress;
  std::unique_ptr<IndexerService> service;  // last: stopped before the rest goes
};

// ---------------------------------------------------------------------------
// Runs over all logs

// The cases that must hold however many threads parse ahead of the writer:
// none (the writer reads each chunk itself), a few, and more than the files.
class IndexerServiceOnThreads : public ::testing::TestWithParam<int> {};
INSTANTIATE_TEST_SUITE_P(ParseThreads, IndexerServiceOnThreads, ::testing::Values(0, 2, 6),
                         [](const ::testing::TestParamInfo<int>& info) { return std::to_string(info.param); });

TEST_P(IndexerServiceOnThreads, FullRunReadsProvidersInOrderAndEachProvidersFilesNewestFirst) {
  const int threads = GetParam();
  Indexer indexer(options(threads));
  // Claude: by modification time; equal times keep the walk's order (names).
  writeFile(indexer.claude("p1/old.jsonl"), claudeLine("old"));
  writeFile(indexer.claude("p2/new.jsonl"), claudeLine("new"));
  writeFile(indexer.claude("mid.jsonl"), claudeLine("mid"));
  writeFile(indexer.claude("p1/tie-b.jsonl"), claudeLine("tie-b"));
  writeFile(indexer.claude("p1/tie-a.jsonl"), claudeLine("tie-a"));
  setModified(indexer.claude("p1/old.jsonl"), 1'700'000'100);
  setModified(indexer.claude("p2/new.jsonl"), 1'700'000'300);
  setModified(indexer.claude("mid.jsonl"), 1'700'000'200);
  setModified(indexer.claude("p1/tie-a.jsonl"), 1'700'000'050);
  setModified(indexer.claude("p1/tie-b.jsonl"), 1'700'000'050);
  // Codex: both roots, the archived file newer.
  writeFile(indexer.codex("2025/12/31/rollout-1.jsonl"), codexUsageLine("live"));
  writeFile(indexer.archived("rollout-0.jsonl"), codexUsageLine("archived"));
  setModified(indexer.codex("2025/12/31/rollout-1.jsonl"), 1'700'000'000);
  setModified(indexer.archived("rollout-0.jsonl"), 1'700'000'500);
  writeFile(indexer.grok("g1/usage.json"), grokSession("g1", {{1, true}}));
  // Not candidates: hidden folders and files, other names.
  writeFile(indexer.claude(".hidden/x.jsonl"), claudeLine("hidden-folder"));
  writeFile(indexer.claude("p1/.x.jsonl"), claudeLine("hidden-file"));
  writeFile(indexer.claude("p1/x.json"), claudeLine("other-extension"));
  writeFile(indexer.claude("usage.json"), grokSession("under-claude", {{1, true}}));
  writeFile(indexer.grok("g1/other.json"), grokSession("other", {{1, true}}));

  const IndexOutcome outcome = indexer.indexAll();

  EXPECT_EQ(outcome, (IndexOutcome{8, false}));
  EXPECT_THAT(
      indexer.recorder.batchKeys(),
      ElementsAre(ElementsAre("new"), ElementsAre("mid"), ElementsAre("old"), ElementsAre("tie-a"),
                  ElementsAre("tie-b"), ElementsAre("archived"), ElementsAre("live"), ElementsAre("g1#1#grok-4")));
  EXPECT_THAT(indexer.env.logLines(), IsEmpty());
}

TEST_P(IndexerServiceOnThreads, SecondRunWithNothingNewOpensNoFileAndWritesNothing) {
  const int threads = GetParam();
  Indexer indexer(options(threads));
  writeFile(indexer.claude("p/a.jsonl"), claudeLine("a1") + fillerLine() + claudeLine("a2"));
  writeFile(indexer.codex("2025/12/31/r.jsonl"), codexSessionMeta("cs") + codexUsageLine("c1"));
  writeFile(indexer.grok("g/usage.json"), grokSession("g", {{1, true}}));
  EXPECT_EQ(indexer.indexAll().newEvents, 4);
  const auto before = dumpLedger(indexer.ledger);
  indexer.recorder.clear();
  indexer.progress.clear();

  // Unreadable now (except to root): opening one would fail and be logged.
  for (const auto& path : {indexer.claude("p/a.jsonl"), indexer.codex("2025/12/31/r.jsonl")}) {
    fs::permissions(path, fs::perms::none);
  }

  EXPECT_EQ(indexer.indexAll(), (IndexOutcome{0, false}));
  EXPECT_THAT(indexer.recorder.batches(), IsEmpty());
  EXPECT_EQ(dumpLedger(indexer.ledger), before);
  EXPECT_THAT(indexer.progress, ElementsAre(std::nullopt)) << "no pass had pending bytes";
  EXPECT_THAT(indexer.env.logLines(), IsEmpty());
}

TEST(IndexerService, CursorsOfPathsThatAreNotPlainTextAreFoundAgain) {
  // The ledger keeps paths as text: a name that is not UTF-8 is kept with
  // replacements, and must still be found, in a full run's one scan and in a
  // change run's lookups alike.
  Indexer indexer;
  writeFile(indexer.claude("p/caf\xc3\xa9.jsonl"), claudeLine("k1"));
  writeFile(indexer.claude("p/bad\xff\xfe.jsonl"), claudeLine("k2"));
  ASSERT_EQ(indexer.indexAll().newEvents, 2);
  indexer.recorder.clear();

  EXPECT_EQ(indexer.indexAll(), (IndexOutcome{0, false}));
  EXPECT_EQ(indexer.index({indexer.claude("p").string()}), (IndexOutcome{0, false}));
  EXPECT_THAT(indexer.recorder.batches(), IsEmpty());

  appendFile(indexer.claude("p/bad\xff\xfe.jsonl"), claudeLine("k3"));
  EXPECT_EQ(indexer.indexAll().newEvents, 1);
  EXPECT_THAT(indexer.recorder.keys(), ElementsAre("k3"));
}

TEST(IndexerService, EmptyHomeAndEmptyChangeListsDoNothing) {
  Indexer indexer;
  EXPECT_EQ(indexer.indexAll(), (IndexOutcome{0, false}));
  EXPECT_THAT(indexer.progress, ElementsAre(std::nullopt));
  EXPECT_EQ(indexer.index({}), (IndexOutcome{0, false}));
  EXPECT_EQ(indexer.index({(indexer.home / "nowhere").string()}), (IndexOutcome{0, false}));
  EXPECT_THAT(indexer.recorder.batches(), IsEmpty());
  EXPECT_THAT(indexer.cursorPaths(), IsEmpty());
}

TEST(IndexerService, OnlyUnreadBytesAreReadAndAReplacedOrTruncatedFileIsReadAnew) {
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> change;
    bool fromStart;
    Strings expectedKeys;
    int expectedNew;
  };
  const std::string first = claudeLine("k1") + claudeLine("k2");
  const std::vector<Case> cases = {
      {"appended: only the new line",
       [](const fs::path& path) { appendFile(path, claudeLine("k3")); },
       false,
       {"k3"},
       1},
      {"replaced by a new file: read from the start",
       [&](const fs::path& path) {
         writeFile(path.string() + ".new", first + claudeLine("k3"));
         fs::rename(path.string() + ".new", path);
       },
       true,
       {"k1", "k2", "k3"},
       1},
      {"truncated below the cursor: read from the start",
       [](const fs::path& path) { writeFile(path, claudeLine("k4")); },
       true,
       {"k4"},
       1},
      {"an unfinished last line waits for its line feed",
       [](const fs::path& path) { appendFile(path, R"({"type":"assistant")"); },
       false,
       {},
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Indexer indexer;
    const fs::path path = indexer.claude("p/a.jsonl");
    writeFile(path, first);
    ASSERT_EQ(indexer.indexAll().newEvents, 2);
    indexer.recorder.clear();
    indexer.progress.clear();

    c.change(path);
    EXPECT_EQ(indexer.indexAll().newEvents, c.expectedNew);
    EXPECT_EQ(indexer.recorder.keys(), c.expectedKeys);

    const std::string content = testing::readFile(path);
    const auto cursor = indexer.cursor(path);
    ASSERT_TRUE(cursor.has_value());
    EXPECT_EQ(cursor->inode, inodeOf(path));
    EXPECT_EQ(cursor->offset, static_cast<int64_t>(content.rfind('\n') + 1));
    EXPECT_EQ(cursor->context.at("provider"), "claude");
    // The pass counted what was unread when it began and ended at that total.
    const int64_t total = static_cast<int64_t>(content.size()) - (c.fromStart ? 0 : static_cast<int64_t>(first.size()));
    EXPECT_THAT(indexer.progress, ElementsAre(IndexingProgress{ProviderID::claude, 0, total},
                                              IndexingProgress{ProviderID::claude, total, total}, std::nullopt));
  }
}

// ---------------------------------------------------------------------------
// Runs over changed paths

TEST(IndexerService, ChangeRunSelectsCandidateFilesOfTheChangedPaths) {
  // The tree of every case, relative to the home folder.
  const Strings tree = {
      ".claude/projects/top.jsonl",
      ".claude/projects/p1/a.jsonl",
      ".claude/projects/p2/b.jsonl",
      ".claude/projects/p1/.hidden/c.jsonl",
      ".codex/sessions/2025/12/31/rollout-1.jsonl",
      ".codex/archived_sessions/rollout-0.jsonl",
      ".grok/sessions/g1/usage.json",
  };
  const Strings never = {".claude/projects/usage.json", ".grok/sessions/g1/other.json", ".grok/sessions/g1/notes.jsonl",
                         ".claude/projects/p1/a.json"};
  struct Case {
    const char* name;
    Strings changed;
    Strings read;
  };
  const std::vector<Case> cases = {
      {"a log directly under the Claude root", {".claude/projects/top.jsonl"}, {".claude/projects/top.jsonl"}},
      {"a project folder selects its own files", {".claude/projects/p1"}, {".claude/projects/p1/a.jsonl"}},
      {"a hidden folder selects nothing", {".claude/projects/p1/.hidden"}, {}},
      {"a changed file passes on its name and place alone",
       {".claude/projects/p1/.hidden/c.jsonl"},
       {".claude/projects/p1/.hidden/c.jsonl"}},
      {"usage.json under the Claude root and other names under the Grok root are ignored", never, {}},
      {"usage.json under the Grok root", {".grok/sessions/g1/usage.json"}, {".grok/sessions/g1/usage.json"}},
      {"a Codex root", {".codex/archived_sessions"}, {".codex/archived_sessions/rollout-0.jsonl"}},
      {"a folder above the roots selects every candidate",
       {"."},
       {".claude/projects/top.jsonl", ".claude/projects/p1/a.jsonl", ".claude/projects/p2/b.jsonl",
        ".codex/sessions/2025/12/31/rollout-1.jsonl", ".codex/archived_sessions/rollout-0.jsonl",
        ".grok/sessions/g1/usage.json"}},
      {"missing paths are skipped and repeated ones read once",
       {".claude/projects/gone.jsonl", ".claude/projects/p2/b.jsonl", ".claude/projects/p2/b.jsonl",
        ".claude/projects/p2/", ".claude/projects/p1/../p2/b.jsonl"},
       {".claude/projects/p2/b.jsonl"}},
      {"a path through a symbolic link counts where it leads", {"link/a.jsonl"}, {".claude/projects/p1/a.jsonl"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Indexer indexer;
    for (const auto& file : tree) {
      const bool grok = file.ends_with("usage.json");
      writeFile(indexer.home / file, grok ? grokSession(file, {{1, true}}) : claudeLine(file) + codexUsageLine(file));
    }
    for (const auto& file : never) writeFile(indexer.home / file, grokSession(file, {{1, true}}) + "\n");
    fs::create_directory_symlink(indexer.claude("p1"), indexer.home / "link");

    Strings changed;
    for (const auto& path : c.changed) changed.push_back((indexer.home / path).string());
    const IndexOutcome outcome = indexer.index(changed);

    std::set<std::string> expected;
    for (const auto& path : c.read) expected.insert(indexer.real(indexer.home / path));
    EXPECT_EQ(indexer.cursorPaths(), expected);
    EXPECT_EQ(outcome.newEvents, static_cast<int>(c.read.size()));
    EXPECT_THAT(indexer.progress, IsEmpty());
  }
}

TEST(IndexerService, ChangeRunReadsOnlyFilesWithUnreadBytes) {
  Indexer indexer;
  writeFile(indexer.claude("p/a.jsonl"), claudeLine("a1"));
  writeFile(indexer.claude("p/b.jsonl"), claudeLine("b1"));
  ASSERT_EQ(indexer.indexAll().newEvents, 2);
  indexer.recorder.clear();

  appendFile(indexer.claude("p/b.jsonl"), claudeLine("b2"));
  EXPECT_EQ(indexer.index({indexer.claude("").string()}), (IndexOutcome{1, false}));
  EXPECT_THAT(indexer.recorder.batchKeys(), ElementsAre(ElementsAre("b2")));
}

// ---------------------------------------------------------------------------
// Progress

TEST_P(IndexerServiceOnThreads, ProgressIsThrottledToATenthOfASecondAndEndsAtTheTotal) {
  // Lines of 192 bytes read in chunks of 192: one event per chunk, and the
  // ingest moves the clock on by 1/16 s, so every second chunk reports.
  const int threads = GetParam();
  Indexer indexer(options(threads, 192));
  std::string log;
  for (int i = 0; i < 6; ++i) {
    std::string line = claudeLine("m" + std::to_string(i));
    ASSERT_LT(line.size(), 192u);
    line.insert(line.size() - 2, std::string(192 - line.size(), ' '));
    log += line;
  }
  writeFile(indexer.claude("p/a.jsonl"), log);
  writeFile(indexer.grok("g/usage.json"), "");  // changed and empty: one byte to read
  indexer.recorder.hook = [&](const std::vector<UsageEvent>&) { indexer.env.setNow(indexer.env.now() + 0.0625); };

  EXPECT_EQ(indexer.indexAll().newEvents, 6);
  const auto claude = [](int64_t read) { return IndexingProgress{ProviderID::claude, read, 6 * 192}; };
  EXPECT_THAT(indexer.progress, ElementsAre(claude(0), claude(2 * 192), claude(4 * 192), claude(6 * 192),
                                            claude(6 * 192), IndexingProgress{ProviderID::grok, 0, 1},
                                            IndexingProgress{ProviderID::grok, 1, 1}, std::nullopt));
}

TEST(IndexerService, ProgressNeverShowsMoreThanTheTotalWhenAFileGrowsDuringTheRun) {
  Indexer indexer(options(0, 64));
  const fs::path path = indexer.claude("p/a.jsonl");
  writeFile(path, claudeLine("m0") + claudeLine("m1"));
  int grown = 0;
  indexer.recorder.hook = [&](const std::vector<UsageEvent>&) {
    if (grown++ < 4) appendFile(path, claudeLine("late" + std::to_string(grown)));
    indexer.env.setNow(indexer.env.now() + 0.125);
  };
  const auto total = static_cast<int64_t>(fs::file_size(path));

  EXPECT_EQ(indexer.indexAll().newEvents, 6);
  ASSERT_GE(indexer.progress.size(), 3u);
  for (const auto& value : indexer.progress) {
    if (!value) continue;
    EXPECT_EQ(value->bytesTotal, total);
    EXPECT_LE(value->bytesRead, total);
  }
  EXPECT_EQ(indexer.progress[indexer.progress.size() - 2], (IndexingProgress{ProviderID::claude, total, total}));
}

// ---------------------------------------------------------------------------
// One run at a time

TEST(IndexerService, RunsAskedForAtOnceRunOneAtATimeInRequestOrder) {
  Indexer indexer;
  writeFile(indexer.claude("p/a.jsonl"), claudeLine("a1"));

  std::mutex mutex;
  std::condition_variable changed;
  bool entered = false;
  bool released = false;
  indexer.recorder.hook = [&](const std::vector<UsageEvent>& events) {
    if (events.front().dedupKey != "a1") return;
    std::unique_lock lock(mutex);
    entered = true;
    changed.notify_all();
    changed.wait(lock, [&] { return released; });
  };
  std::vector<std::string> finished;
  const auto done = [&](const char* name) {
    return [&, name](IndexOutcome) {
      std::lock_guard lock(mutex);
      finished.push_back(name);
    };
  };
  indexer.service->indexAll({}, done("first"));
  {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return entered; });
  }
  writeFile(indexer.claude("p/b.jsonl"), claudeLine("b1"));
  indexer.service->index({indexer.claude("p/b.jsonl").string()}, done("second"));
  std::vector<std::optional<IndexingProgress>> thirdProgress;
  auto third = indexer.service->indexAll([&](const std::optional<IndexingProgress>& value) {
    std::lock_guard lock(mutex);
    thirdProgress.push_back(value);
  });

  // However long the first run takes, the others wait behind it.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  {
    std::lock_guard lock(mutex);
    EXPECT_THAT(finished, IsEmpty());
    EXPECT_THAT(thirdProgress, IsEmpty());
    EXPECT_EQ(indexer.recorder.batches().size(), 1u);
    released = true;
    changed.notify_all();
  }
  EXPECT_EQ(third.get(), (IndexOutcome{0, false}));
  EXPECT_THAT(finished, ElementsAre("first", "second"));
  EXPECT_THAT(indexer.recorder.batchKeys(), ElementsAre(ElementsAre("a1"), ElementsAre("b1")));
  EXPECT_THAT(thirdProgress, ElementsAre(std::nullopt));
}

TEST(IndexerService, StoppingLetsTheRunningRunFinishAndDropsTheWaitingOnes) {
  Indexer indexer;
  writeFile(indexer.claude("p/a.jsonl"), claudeLine("a1"));
  std::promise<void> entered;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  indexer.recorder.hook = [&](const std::vector<UsageEvent>&) {
    entered.set_value();
    released.wait();
  };
  auto running = indexer.service->indexAll();
  entered.get_future().wait();
  auto waiting = indexer.service->index({indexer.home.string()});

  std::thread stopper([&] { indexer.service.reset(); });
  EXPECT_THROW(waiting.get(), std::future_error) << "dropped, never run";
  release.set_value();
  stopper.join();
  EXPECT_EQ(running.get(), (IndexOutcome{1, false}));
  EXPECT_EQ(indexer.recorder.batches().size(), 1u);
}

// ---------------------------------------------------------------------------
// Failures

TEST_P(IndexerServiceOnThreads, AFailingFileIsLoggedAndTheRunGoesOn) {
  const int threads = GetParam();
  // Chunks of 64 bytes: the second chunk's ingest of "bad" fails.
  Indexer indexer(options(threads, 64));
  const fs::path bad = indexer.claude("p/bad.jsonl");
  writeFile(bad, claudeLine("bad1") + claudeLine("bad2") + claudeLine("bad3"));
  writeFile(indexer.claude("p/good.jsonl"), claudeLine("good1"));
  setModified(bad, 1'700'000'200);  // read first
  setModified(indexer.claude("p/good.jsonl"), 1'700'000'100);
  bool failing = true;
  indexer.recorder.hook = [&](const std::vector<UsageEvent>& events) {
    if (failing && events.front().dedupKey == "bad2") throw std::runtime_error("disk on fire");
  };

  EXPECT_EQ(indexer.indexAll().newEvents, 2);
  EXPECT_THAT(indexer.env.logLines(), ElementsAre("Tokvane: indexing " + bad.string() + " failed: disk on fire"));
  // The first chunk's events and cursor stay; nothing after the failure was read.
  EXPECT_THAT(indexer.recorder.keys(), ElementsAre("bad1", "bad2", "good1"));
  ASSERT_TRUE(indexer.cursor(bad).has_value());
  EXPECT_EQ(indexer.cursor(bad)->offset, static_cast<int64_t>(claudeLine("bad1").size()));

  // The next run starts at the failed chunk.
  failing = false;
  indexer.recorder.clear();
  EXPECT_EQ(indexer.indexAll().newEvents, 2);
  EXPECT_THAT(indexer.recorder.keys(), ElementsAre("bad2", "bad3"));
}

TEST_P(IndexerServiceOnThreads, OverlongLinesAndOversizedGrokFilesAreLogged) {
  const int threads = GetParam();
  IndexerService::Options small = options(threads, 64);
  small.lineCap = 1024;
  Indexer indexer(small);
  const std::string longLine = fillerLine(2000);
  writeFile(indexer.claude("p/a.jsonl"), claudeLine("before") + longLine + claudeLine("after"));
  writeFile(indexer.grok("big/usage.json"), grokSession("big", {{1, true}}) + std::string(1100, ' '));
  writeFile(indexer.grok("fine/usage.json"), grokSession("fine", {{1, true}}));
  setModified(indexer.grok("big/usage.json"), 1'700'000'200);

  EXPECT_EQ(indexer.indexAll().newEvents, 3);
  const auto bigSize = fs::file_size(indexer.grok("big/usage.json"));
  EXPECT_THAT(indexer.env.logLines(),
              ElementsAre("Tokvane: reading " + indexer.claude("p/a.jsonl").string() +
                              " failed: line of 1999 bytes longer than 1024 bytes skipped",
                          "Tokvane: indexing " + indexer.grok("big/usage.json").string() + " failed: file of " +
                              std::to_string(bigSize) +
                              " bytes larger than 1024 bytes"));
  EXPECT_THAT(indexer.recorder.keys(), ElementsAre("before", "after", "fine#1#grok-4"));
  EXPECT_FALSE(indexer.cursor(indexer.grok("big/usage.json")).has_value());
}

TEST(IndexerService, AStoredCursorThatNoLongerDecodesIsReadFromTheStartAndReplaced) {
  Indexer indexer;
  const fs::path path = indexer.claude("p/a.jsonl");
  writeFile(path, claudeLine("k1") + claudeLine("k2"));
  ASSERT_EQ(indexer.indexAll().newEvents, 2);
  overwriteCursorJSON(indexer.ledger, indexer.real(path), R"({"path":"truncated)");
  appendFile(path, claudeLine("k3"));
  indexer.recorder.clear();

  EXPECT_EQ(indexer.indexAll().newEvents, 1);
  EXPECT_THAT(indexer.recorder.keys(), ElementsAre("k1", "k2", "k3"));
  EXPECT_THAT(indexer.env.logLines(), IsEmpty());
  const auto cursor = indexer.cursor(path);
  ASSERT_TRUE(cursor.has_value());
  EXPECT_EQ(cursor->offset, static_cast<int64_t>(fs::file_size(path)));

  // Mended for good: the next run has nothing to read.
  indexer.recorder.clear();
  EXPECT_EQ(indexer.indexAll().newEvents, 0);
  EXPECT_THAT(indexer.recorder.batches(), IsEmpty());
}

TEST(IndexerService, ACursorWithoutTheProviderKeyGainsItWhenTheFileIsNextRead) {
  Indexer indexer;
  const fs::path path = indexer.claude("p/a.jsonl");
  const std::string line = claudeLine("k1");
  writeFile(path, line + R"({"unfinished")");
  indexer.store.save(FileCursor{indexer.real(path), inodeOf(path), static_cast<int64_t>(line.size()), {}});

  EXPECT_EQ(indexer.indexAll().newEvents, 0);
  EXPECT_THAT(indexer.recorder.batches(), IsEmpty());
  EXPECT_EQ(
      indexer.cursor(path),
      (FileCursor{indexer.real(path), inodeOf(path), static_cast<int64_t>(line.size()), {{"provider", "claude"}}}));
}

// ---------------------------------------------------------------------------
// Codex

TEST_P(IndexerServiceOnThreads, CodexSessionAndModelCarryAcrossChunksAndRuns) {
  const int threads = GetParam();
  // Chunks of 100 bytes: every line is a chunk of its own.
  Indexer indexer(options(threads, 100));
  const fs::path path = indexer.codex("2025/12/31/rollout.jsonl");
  writeFile(path, codexSessionMeta("sess-1") + fillerLine(150) + codexTurnContext("gpt-5-codex") + codexUsageLine("r1"));
  ASSERT_EQ(indexer.indexAll().newEvents, 1);
  // A later model, then usage in the next run.
  appendFile(path, codexTurnContext("gpt-5.1-codex"));
  ASSERT_EQ(indexer.indexAll().newEvents, 0);
  appendFile(path, codexUsageLine("r2"));
  ASSERT_EQ(indexer.index({path.string()}).newEvents, 1);

  std::vector<std::pair<std::string, std::string>> seen;
  for (const auto& batch : indexer.recorder.batches()) {
    for (const auto& event : batch) seen.emplace_back(event.sessionID, event.model);
  }
  EXPECT_THAT(seen, ElementsAre(std::pair<std::string, std::string>{"sess-1", "gpt-5-codex"},
                                std::pair<std::string, std::string>{"sess-1", "gpt-5.1-codex"}));
  auto context = indexer.cursor(path)->context;
  EXPECT_EQ(context.erase(JSONLTail::fingerprintKey), 1u);
  EXPECT_EQ(context,
            (std::map<std::string, std::string>{
                {"model", "gpt-5.1-codex"}, {"provider", "codex"}, {"session", "sess-1"}, {"usageRecords", "1"}}));
}

// A token count as tools before usage records write it: the session's
// running total, at `minute`.
std::string codexTotalLine(int64_t input, int64_t cached, int64_t output, int minute) {
  return R"({"timestamp":")" + logStamp(minute) +
         R"(","type":"event_msg","payload":{"type":"token_count","info":{"total_token_usage":{"input_tokens":)" +
         std::to_string(input) + R"(,"cached_input_tokens":)" + std::to_string(cached) + R"(,"output_tokens":)" +
         std::to_string(output) + R"(}},"rate_limits":null}})" + "\n";
}

// A sub-agent's log replays its parent's lines: a running total seen in one
// file adds nothing in the other, whichever is read first, and the growth
// after it counts once.
TEST_P(IndexerServiceOnThreads, CodexRunningTotalsCountOnceAcrossFilesThatReplayThem) {
  const int threads = GetParam();
  const std::string shared = codexTotalLine(1000, 200, 50, 1) + codexTotalLine(1000, 200, 50, 1) +
                             codexTotalLine(2500, 900, 120, 2);
  for (const bool parentNewer : {true, false}) {
    SCOPED_TRACE(parentNewer ? "the parent read first" : "the sub-agent read first");
    Indexer indexer(options(threads, 100));
    const fs::path parent = indexer.codex("2025/12/31/rollout-parent.jsonl");
    const fs::path agent = indexer.codex("2025/12/31/rollout-agent.jsonl");
    writeFile(parent, codexSessionMeta("parent") + codexTurnContext("gpt-5") + shared);
    writeFile(agent, codexSessionMeta("agent") + codexTurnContext("gpt-5") + shared + codexTotalLine(3000, 1000, 150, 3));
    setModified(parent, parentNewer ? 1'700'000'100 : 1'700'000'000);
    setModified(agent, parentNewer ? 1'700'000'000 : 1'700'000'100);
    EXPECT_EQ(indexer.indexAll().newEvents, 3);
    EXPECT_EQ(indexer.indexAll().newEvents, 0);
    EXPECT_EQ(query(indexer.ledger, "SELECT SUM(uncached) || '/' || SUM(cache_read) || '/' || SUM(output) FROM daily"),
              Strings{"2000/1000/150"});
  }
}

ProviderLimits storedLimits(double unixTime, double usedFraction) {
  ProviderLimits limits;
  limits.fetchedAt = Date::fromUnix(unixTime);
  LimitWindow window;
  window.id = "session";
  window.label = "Session";
  window.usedFraction = usedFraction;
  limits.windows.push_back(window);
  return limits;
}

TEST(IndexerService, CodexLimitsFromTheLogsAreStoredOnlyWhenStrictlyNewer) {
  // The logs' newest reading is at minute 30 (2025-12-31T10:30:00Z).
  const double logged = 1767177000.0;
  struct Case {
    const char* name;
    std::optional<double> stored;
    bool updated;
  };
  const std::vector<Case> cases = {
      {"nothing stored", std::nullopt, true},
      {"stored ones older", logged - 1, true},
      {"stored ones as old", logged, false},
      {"stored ones newer", logged + 60, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Indexer indexer;
    if (c.stored) indexer.store.setLimits(storedLimits(*c.stored, 0.99), ProviderID::codex);
    // Two files with readings of the same time: the newer file's, read first, wins.
    writeFile(indexer.codex("2025/12/31/new.jsonl"), codexLimitsLine(5, logStamp(10)) + codexLimitsLine(40, logStamp(30)) + codexLimitsLine(7, logStamp(20)));
    writeFile(indexer.codex("2025/12/31/old.jsonl"), codexLimitsLine(80, logStamp(30)));
    setModified(indexer.codex("2025/12/31/new.jsonl"), 1'700'000'200);
    setModified(indexer.codex("2025/12/31/old.jsonl"), 1'700'000'100);

    EXPECT_EQ(indexer.indexAll(), (IndexOutcome{0, c.updated}));
    const auto limits = indexer.store.limits(ProviderID::codex);
    ASSERT_TRUE(limits.has_value());
    ASSERT_EQ(limits->windows.size(), 1u);
    EXPECT_DOUBLE_EQ(limits->windows[0].usedFraction, c.updated ? 0.40 : 0.99);
  }
}

TEST(IndexerService, ChangeRunsStoreCodexLimitsToo) {
  Indexer indexer;
  const fs::path path = indexer.codex("2025/12/31/r.jsonl");
  writeFile(path, codexLimitsLine(10, logStamp(1)));
  EXPECT_EQ(indexer.index({path.string()}), (IndexOutcome{0, true}));
  EXPECT_EQ(indexer.index({path.string()}), (IndexOutcome{0, false})) << "nothing new read";
}

// ---------------------------------------------------------------------------
// Grok

TEST(IndexerService, AGrokFileIsReadWholeOnlyWhenItsTimeOrSizeChanged) {
  Indexer indexer;
  const fs::path path = indexer.grok("g1/usage.json");
  writeFile(path, grokSession("g1", {{1, true}, {2, true}, {3, false}}));
  setModified(path, 1'700'000'000);
  EXPECT_EQ(indexer.indexAll().newEvents, 2);
  EXPECT_EQ(indexer.cursor(path), (FileCursor{indexer.real(path),
                                              0,
                                              0,
                                              {{"lastTurn", "2"},
                                               {"mtime", "1700000000.0"},
                                               {"provider", "grok"},
                                               {"size", std::to_string(fs::file_size(path))}}}));

  indexer.recorder.clear();
  EXPECT_EQ(indexer.indexAll().newEvents, 0);
  EXPECT_THAT(indexer.recorder.batches(), IsEmpty()) << "unchanged: not read";

  // Turn 3 finished: only turns after the last one taken are offered.
  writeFile(path, grokSession("g1", {{1, true}, {2, true}, {3, true}}));
  const struct timespec times[2] = {{1'700'000'100, 250'000'000}, {1'700'000'100, 250'000'000}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  EXPECT_EQ(indexer.index({path.string()}).newEvents, 1);
  EXPECT_THAT(indexer.recorder.keys(), ElementsAre("g1#3#grok-4"));
  EXPECT_EQ(indexer.cursor(path)->context.at("mtime"), "1700000100.25");
  EXPECT_EQ(indexer.cursor(path)->context.at("lastTurn"), "3");
}

TEST(IndexerService, AGrokCursorsLastTurnIsReadAsAStrictDecimal) {
  struct Case {
    const char* lastTurn;
    Strings keys;
  };
  const std::vector<Case> cases = {
      {"2", {"g#3#grok-4"}},
      {"+2", {"g#3#grok-4"}},
      {"-1", {"g#0#grok-4", "g#1#grok-4", "g#2#grok-4", "g#3#grok-4"}},
      {"two", {"g#1#grok-4", "g#2#grok-4", "g#3#grok-4"}},
      {"", {"g#1#grok-4", "g#2#grok-4", "g#3#grok-4"}},
      {" 2", {"g#1#grok-4", "g#2#grok-4", "g#3#grok-4"}},
      {"+-2", {"g#1#grok-4", "g#2#grok-4", "g#3#grok-4"}},
      {"99999999999999999999", {"g#1#grok-4", "g#2#grok-4", "g#3#grok-4"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lastTurn);
    Indexer indexer;
    const fs::path path = indexer.grok("g/usage.json");
    writeFile(path, grokSession("g", {{0, true}, {1, true}, {2, true}, {3, true}}));
    indexer.store.save(FileCursor{indexer.real(path), 7, 9, {{"lastTurn", c.lastTurn}, {"keep", "me"}}});

    indexer.indexAll();
    EXPECT_EQ(indexer.recorder.keys(), c.keys);
    const auto cursor = indexer.cursor(path);
    ASSERT_TRUE(cursor.has_value());
    EXPECT_EQ(cursor->inode, 7u) << "a Grok cursor keeps its place fields";
    EXPECT_EQ(cursor->offset, 9);
    EXPECT_EQ(cursor->context.at("keep"), "me");
    EXPECT_EQ(cursor->context.at("lastTurn"), "3");
  }
}

// ---------------------------------------------------------------------------
// Cursor import

TEST(IndexerService, CursorImportOfAFullRunIngestsItsEventsAndLogsItsFailure) {
  struct Case {
    const char* name;
    bool withEvents;
    bool failing;
    int newEvents;
    Strings log;
  };
  const std::vector<Case> cases = {
      {"no events: nothing ingested, nothing logged", false, false, 0, {}},
      {"events are ingested", true, false, 1, {}},
      {"a failing ingest is logged", true, true, 0, {"Tokvane: storing Cursor usage failed: ledger locked"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Date> asked;
    IndexerService::Options withCursor = options(2);
    withCursor.cursorUsage = [&](Date since) {
      asked.push_back(since);
      std::vector<UsageEvent> events;
      if (c.withEvents) {
        UsageEvent event;
        event.provider = ProviderID::cursor;
        event.model = "cursor-fast";
        event.dedupKey = "cursor-1";
        event.timestamp = since;
        events.push_back(event);
      }
      return events;
    };
    Indexer indexer(withCursor, std::nullopt, std::make_shared<CursorProvider>());
    indexer.recorder.hook = [&](const std::vector<UsageEvent>& events) {
      if (c.failing && events.front().provider == ProviderID::cursor) throw std::runtime_error("ledger locked");
    };

    EXPECT_EQ(indexer.indexAll(), (IndexOutcome{c.newEvents, false}));
    EXPECT_THAT(asked, ElementsAre(indexer.env.now() - 30 * 86400.0));
    EXPECT_EQ(indexer.env.logLines(), c.log);
    EXPECT_EQ(indexer.recorder.batches().size(), c.withEvents ? 1u : 0u);
    // Change runs import nothing.
    EXPECT_EQ(indexer.index({indexer.home.string()}), (IndexOutcome{0, false}));
    EXPECT_EQ(asked.size(), 1u);
  }
}

// ---------------------------------------------------------------------------
// Reading ahead on parse threads changes nothing

// A tree with every kind of file, duplicates across files and lines that
// straddle chunks.
void writeMixedTree(const Indexer& indexer, int round) {
  const std::string r = std::to_string(round);
  for (int file = 0; file < 7; ++file) {
    const std::string f = std::to_string(file);
    std::string log;
    for (int line = 0; line < 12; ++line) {
      const std::string id = "c" + f + "-" + r + "-" + std::to_string(line);
      log += claudeLine(id, {.session = "s" + f, .timestamp = logStamp(line), .model = line % 3 ? "claude-a" : "claude-b", .input = 10 + line}) + fillerLine(90 + line * 7);
      if (line % 4 == 0) log += claudeLine(id, {.session = "s" + f, .input = 10 + line});  // the same message on a second line
    }
    log += claudeLine("shared-" + r, {.session = "s-shared"});  // the same message in every file
    if (file == 2) log += fillerLine(1500);         // longer than the line cap of the comparison
    appendFile(indexer.claude("p" + std::to_string(file % 3) + "/" + f + ".jsonl"), log);
    setModified(indexer.claude("p" + std::to_string(file % 3) + "/" + f + ".jsonl"), 1'700'000'000 + file * 7 % 5);
  }
  for (int file = 0; file < 5; ++file) {
    const std::string f = std::to_string(file);
    std::string log = round == 0 ? codexSessionMeta("cx" + f) : "";
    for (int line = 0; line < 8; ++line) {
      if (line % 3 == 0) log += codexTurnContext("gpt-" + std::to_string(line) + "-" + r);
      log += codexUsageLine("x" + f + "-" + r + "-" + std::to_string(line), {.timestamp = logStamp(line), .input = 50 + line}) + fillerLine(120);
      if (line == 5) log += codexLimitsLine(file + line, logStamp(file * 10 + line + round));
    }
    const fs::path path =
        file % 2 ? indexer.archived("r" + f + ".jsonl") : indexer.codex("2025/12/31/r" + f + ".jsonl");
    appendFile(path, log);
    setModified(path, 1'700'000'000 + file % 3);
  }
  for (int file = 0; file < 3; ++file) {
    std::vector<std::pair<int, bool>> turns;
    for (int turn = 1; turn <= 3 + round; ++turn) turns.emplace_back(turn, turn < 3 + round || file == 0);
    writeFile(indexer.grok("g" + std::to_string(file) + "/usage.json"), grokSession("g" + std::to_string(file), turns));
  }
}

TEST(IndexerService, ParallelAndSerialRunsPassThroughTheSameLedgerStates) {
  // Chunks of 512 bytes, so files span many chunks and lines straddle them;
  // a line cap of 1 KiB, so an over-long line is skipped and logged; a clock
  // that moves at every reading, so the throttled progress reports show
  // where each run reported.
  const auto settings = [](int threads) {
    IndexerService::Options o = options(threads, 512);
    o.lineCap = 1024;
    return o;
  };
  constexpr double step = 0.03;
  Indexer serial(settings(0), std::nullopt, nullptr, Writes::recorded, step);
  Indexer parallel(settings(3), serial.home, nullptr, Writes::recorded, step);
  // The store's own ingest: consecutive chunks, across files, in one transaction.
  Indexer grouped(settings(0), serial.home, nullptr, Writes::grouped, step);
  Indexer groupedParallel(settings(3), serial.home, nullptr, Writes::grouped, step);
  serial.recorder.snapshotCursors = true;
  parallel.recorder.snapshotCursors = true;

  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    writeMixedTree(serial, round);
    const IndexOutcome expected = serial.indexAll();
    EXPECT_GT(expected.newEvents, 100);
    EXPECT_EQ(parallel.indexAll(), expected);
    // The same batches, each met by the same stored cursors, and the same tables.
    EXPECT_EQ(parallel.recorder.batches(), serial.recorder.batches());
    EXPECT_EQ(parallel.recorder.cursorStates(), serial.recorder.cursorStates());
    EXPECT_EQ(dumpLedger(parallel.ledger), dumpLedger(serial.ledger));
    EXPECT_EQ(parallel.progress, serial.progress);
    EXPECT_EQ(parallel.env.logLines(), serial.env.logLines());
    // Grouped writes end in the same tables, with the same reports and log lines.
    for (Indexer* other : {&grouped, &groupedParallel}) {
      EXPECT_EQ(other->indexAll(), expected);
      EXPECT_EQ(dumpLedger(other->ledger), dumpLedger(serial.ledger));
      EXPECT_EQ(other->progress, serial.progress);
      EXPECT_EQ(other->env.logLines(), serial.env.logLines());
    }
  }
  ASSERT_THAT(serial.env.logLines(), ::testing::Contains(::testing::HasSubstr("bytes longer than 1024 bytes skipped")));
  ASSERT_GT(serial.progress.size(), 8u);
  // A change run over the whole home with nothing new.
  const IndexOutcome nothing = serial.index({serial.home.string()});
  EXPECT_EQ(nothing, (IndexOutcome{0, false}));
  for (Indexer* other : {&parallel, &grouped, &groupedParallel}) {
    EXPECT_EQ(other->index({other->home.string()}), nothing);
    EXPECT_EQ(dumpLedger(other->ledger), dumpLedger(serial.ledger));
  }
}

// ---------------------------------------------------------------------------
// Grouped writes

// Runs SQL on a ledger through a connection of its own.
void execOn(const fs::path& ledger, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(ledger.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "") << " in " << sql;
  sqlite3_free(error);
  sqlite3_close(db);
}

// The transactions in a ledger's write-ahead log since it last started
// over: the frames whose header carries the database size, which only the
// last frame of a commit does.
int loggedCommits(const fs::path& ledger) {
  const std::string wal = testing::readFile(ledger.string() + "-wal");
  const auto word = [&](size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<uint8_t>(wal[at + i]);
    return value;
  };
  if (wal.size() < 32 || (word(0) & ~1u) != 0x377f0682u) return -1;
  const size_t frame = 24 + word(8);
  int commits = 0;
  for (size_t at = 32; at + frame <= wal.size(); at += frame) {
    if (word(at + 8) != word(16) || word(at + 12) != word(20)) break;  // left from before the log started over
    if (word(at + 4) != 0) ++commits;
  }
  return commits;
}

TEST(IndexerService, TheStoresOwnIngestCommitsGroupsOfChunks) {
  struct Case {
    const char* name;
    int files;
    int linesPerFile;
    int commits;
  };
  const Case cases[] = {
      {"small files: 1,024 chunks to a group", 1100, 1, 2},
      {"larger files: about 16,000 events to a group", 110, 150, 2},
      {"one group per pass", 40, 10, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Indexer indexer(options(0), std::nullopt, nullptr, Writes::grouped);
    for (int file = 0; file < c.files; ++file) {
      std::string log;
      for (int line = 0; line < c.linesPerFile; ++line) {
        log += claudeLine("f" + std::to_string(file) + "-" + std::to_string(line));
      }
      writeFile(indexer.claude("p/" + std::to_string(file) + ".jsonl"), log);
    }
    // The schema is written before the journal turns to WAL, so a new
    // ledger's log may not exist yet.
    const int before = std::max(0, loggedCommits(indexer.ledger));

    EXPECT_EQ(indexer.indexAll().newEvents, c.files * c.linesPerFile);
    EXPECT_EQ(loggedCommits(indexer.ledger) - before, c.commits);
    EXPECT_EQ(indexer.cursorPaths().size(), static_cast<size_t>(c.files));
  }
}

TEST_P(IndexerServiceOnThreads, AFailingChunkInsideAGroupFailsOnlyItsOwnFile) {
  const int threads = GetParam();
  std::vector<std::pair<Writes, int>> runs = {{Writes::recorded, 0}};
  if (threads != 0) runs.emplace_back(Writes::recorded, threads);
  runs.emplace_back(Writes::grouped, threads);
  // Chunks of 64 bytes: every line is a chunk of its own, and each pass's
  // chunks fit in one group, so the failing chunk shares its transaction
  // with chunks of the files before and after it (and, on parse threads,
  // wherever the groups happen to end). Whatever fails, the run must end as
  // one that writes chunk by chunk does.
  struct Case {
    const char* name;
    std::string trigger;  // installed on the ledger before the run
    Strings log;          // before the oversized Grok file's line
    Strings badKeys;      // what the ledger keeps of bad.jsonl
  };
  const std::vector<Case> cases = {
      {"its events are refused",
       "CREATE TRIGGER refuse BEFORE INSERT ON seen WHEN NEW.key = 'bad2' "
       "BEGIN SELECT RAISE(ABORT, 'events refused'); END",
       {" failed: sqlite(code: 19, message: \"events refused\")"},
       {"bad1"}},
      {"its cursor is refused",
       "CREATE TRIGGER refuse BEFORE INSERT ON cursors "
       "WHEN NEW.path LIKE '%/bad.jsonl' AND json_extract(NEW.json, '$.offset') > " +
           std::to_string(claudeLine("bad1").size()) + " BEGIN SELECT RAISE(ABORT, 'cursor refused'); END",
       {" failed: sqlite(code: 19, message: \"cursor refused\")"},
       {"bad1", "bad2"}},  // the second chunk's events went in before its cursor failed
      {"it cannot be read (an oversized Grok file between two others)", "", {}, {"bad1", "bad2", "bad3"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::vector<std::string>> ledgers;
    // Serial, chunk by chunk first: the others must end with its ledger.
    for (const auto& run : runs) {
      const Writes writes = run.first;
      const int threads = run.second;
      SCOPED_TRACE(std::string(writes == Writes::grouped ? "grouped, " : "recorded, ") + std::to_string(threads));
      IndexerService::Options small = options(threads, 64);
      small.lineCap = 4096;
      Indexer indexer(small, std::nullopt, nullptr, writes);
      int64_t mtime = 1'700'000'100;
      for (const char* name : {"a", "bad", "c"}) {
        const std::string n = name;
        const fs::path path = indexer.claude("p/" + n + ".jsonl");
        writeFile(path, claudeLine(n + "1") + claudeLine(n + "2") + claudeLine(n + "3"));
        setModified(path, mtime--);  // read in this order
      }
      for (const char* name : {"g1", "big", "g3"}) {
        const std::string n = name;
        const fs::path path = indexer.grok(n + "/usage.json");
        writeFile(path, grokSession(n, {{1, true}, {2, true}}) + (n == "big" ? std::string(5000, ' ') : ""));
        setModified(path, mtime--);
      }
      if (!c.trigger.empty()) execOn(indexer.ledger, c.trigger);

      const IndexOutcome outcome = indexer.indexAll();
      const std::string bigSize = std::to_string(fs::file_size(indexer.grok("big/usage.json")));
      Strings log;  // bad.jsonl's lines follow its path
      for (const std::string& line : c.log) {
        log.push_back("Tokvane: indexing " + indexer.claude("p/bad.jsonl").string() + line);
      }
      log.push_back("Tokvane: indexing " + indexer.grok("big/usage.json").string() + " failed: file of " + bigSize +
                    " bytes larger than 4096 bytes");
      EXPECT_EQ(indexer.env.logLines(), log);
      // Every other file is read whole; the failing one keeps the chunks
      // before the failure, and its cursor stops at the last one saved.
      Strings expectedKeys = {"a1", "a2", "a3"};
      expectedKeys.insert(expectedKeys.end(), c.badKeys.begin(), c.badKeys.end());
      for (const char* key : {"c1", "c2", "c3", "g1#1#grok-4", "g1#2#grok-4", "g3#1#grok-4", "g3#2#grok-4"}) {
        expectedKeys.emplace_back(key);
      }
      EXPECT_EQ(query(indexer.ledger, "SELECT key FROM seen ORDER BY key"), expectedKeys);
      EXPECT_EQ(outcome.newEvents, static_cast<int>(expectedKeys.size()));
      if (!c.trigger.empty()) {
        EXPECT_EQ(indexer.cursor(indexer.claude("p/bad.jsonl"))->offset,
                  static_cast<int64_t>(claudeLine("bad1").size()));
      }
      EXPECT_FALSE(indexer.cursor(indexer.grok("big/usage.json")).has_value());
      // Each run has a home of its own: its rows are compared without it.
      std::vector<std::string> rows = dumpLedger(indexer.ledger);
      const std::string home = LogFileTree::resolved(indexer.home.string()) + "/";
      const std::string inode = "\"inode\":";
      for (auto& row : rows) {
        for (size_t at; (at = row.find(home)) != std::string::npos;) row.replace(at, home.size(), "~/");
        if (const size_t at = row.find(inode); at != std::string::npos) {
          const size_t digits = row.find_first_not_of("0123456789", at + inode.size());
          row.replace(at + inode.size(), digits - at - inode.size(), "_");
        }
      }
      ledgers.push_back(rows);

      // Once the ledger takes them, the next run reads the rest.
      if (!c.trigger.empty()) execOn(indexer.ledger, "DROP TRIGGER refuse");
      indexer.indexAll();
      EXPECT_THAT(query(indexer.ledger, "SELECT key FROM seen WHERE key LIKE 'bad%' ORDER BY key"),
                  ElementsAre("bad1", "bad2", "bad3"));
    }
    for (const auto& ledger : ledgers) EXPECT_EQ(ledger, ledgers.front());
  }
}

TEST_P(IndexerServiceOnThreads, AChangeRunWithOneAppendedLineCommitsItAtOnce) {
  const int threads = GetParam();
  Indexer indexer(options(threads), std::nullopt, nullptr, Writes::grouped);
  for (int file = 0; file < 20; ++file) {
    writeFile(indexer.claude("p/" + std::to_string(file) + ".jsonl"),
              claudeLine("f" + std::to_string(file)) + fillerLine());
  }
  ASSERT_EQ(indexer.indexAll().newEvents, 20);

  const fs::path path = indexer.claude("p/7.jsonl");
  for (const auto& changed : {path, indexer.home}) {
    const std::string key = "appended-" + changed.filename().string();
    appendFile(path, claudeLine(key));
    // Looked at from another connection as the run completes, on the
    // service's thread, before anything else can run there.
    std::promise<std::pair<Strings, int64_t>> committed;
    indexer.service->index({changed.string()}, [&](IndexOutcome outcome) {
      EXPECT_EQ(outcome, (IndexOutcome{1, false}));
      committed.set_value({query(indexer.ledger, "SELECT key FROM seen WHERE key = '" + key + "'"),
                           storedOffset(indexer.ledger, indexer.real(path))});
    });
    const auto [keys, offset] = committed.get_future().get();
    EXPECT_THAT(keys, ElementsAre(key));
    EXPECT_EQ(offset, static_cast<int64_t>(fs::file_size(path)));
  }
}

}  // namespace
}  // namespace tokvane
