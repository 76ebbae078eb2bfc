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

#include "Tokvane/Engine/IndexerService.hpp"
#include "Tokvane/Engine/LogFileTree.hpp"
#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Logs/FileCursor.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"
#include "tests/engine/support/FakeEnv.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane {
namespace {

namespace fs = std::filesystem;
using testing::appendFile;
using ::testing::ElementsAre;
using testing::FakeEnv;
using ::testing::IsEmpty;
using testing::TempDir;
using testing::writeFile;
using Strings = std::vector<std::string>;

// ---------------------------------------------------------------------------
// Log lines

// 2025-12-31T10:00:00Z plus `minute` minutes: before the fake clock's start
// (2026-01-01T00:00:00Z), so Codex limits read at that time are taken.
std::string stamp(int minute = 0) {
  char text[32];
  std::snprintf(text, sizeof text, "2025-12-31T%02d:%02d:00Z", 10 + minute / 60, minute % 60);
  return text;
}

std::string claudeLine(const std::string& id, const std::string& session = "s1", int input = 10,
                       const std::string& model = "claude-x", int minute = 0) {
  return R"({"type":"assistant","sessionId":")" + session + R"(","timestamp":")" + stamp(minute) +
         R"(","message":{"id":")" + id + R"(","model":")" + model + R"(","usage":{"input_tokens":)" +
         std::to_string(input) + R"(,"output_tokens":5}}})" + "\n";
}

// A line without usage, `bytes` long with its line feed (at least 40).
std::string fillerLine(size_t bytes = 60) {
  const std::string head = R"({"type":"user","message":{"content":")";
  const std::string tail = "\"}}\n";
  return head + std::string(bytes - head.size() - tail.size(), 'x') + tail;
}

std::string sessionMeta(const std::string& id) {
  return R"({"timestamp":")" + stamp() + R"(","type":"session_meta","payload":{"id":")" + id + "\"}}\n";
}

std::string turnContext(const std::string& model) {
  return R"({"timestamp":")" + stamp() + R"(","type":"turn_context","payload":{"model":")" + model + "\"}}\n";
}

std::string codexUsage(const std::string& responseID, int input = 100, int minute = 0) {
  return R"({"timestamp":")" + stamp(minute) + R"(","type":"token_usage_record","payload":{"response_id":")" +
         responseID + R"(","usage":{"input_tokens":)" + std::to_string(input) + R"(,"output_tokens":7}}})" + "\n";
}

std::string tokenCount(int minute, int usedPercent) {
  return R"({"timestamp":")" + stamp(minute) +
         R"(","type":"event_msg","payload":{"type":"token_count","rate_limits":{"primary":{"used_percent":)" +
         std::to_string(usedPercent) + R"(,"window_minutes":300}}}})" + "\n";
}

// A Grok session; each turn is {number, finished}.
std::string grokSession(const std::string& id, const std::vector<std::pair<int, bool>>& turns) {
  std::string text = R"({"sessionId":")" + id + R"(","turns":[)";
  for (size_t i = 0; i < turns.size(); ++i) {
    const auto [number, finished] = turns[i];
    text += (i ? "," : "") + std::string(R"({"turnNumber":)") + std::to_string(number);
    if (finished) text += R"(,"endedAt":")" + stamp(number) + "\"";
    text += R"(,"modelUsage":{"grok-4":{"inputTokens":20,"outputTokens":3}}})";
  }
  return text + "]}";
}

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
  explicit Indexer(IndexerService::Options serviceOptions = options(2), std::optional<fs::path> sharedHome = {},
                   std::shared_ptr<CursorProvider> cursor = nullptr)
      : home(sharedHome.value_or(dir / "home")), ledger(dir / "usage.sqlite"), store(ledger), recorder(store) {
    fs::create_directories(home);
    service = std::make_unique<IndexerService>(store, ProviderLocations(home), std::move(cursor), calendar, env,
                                               recorder.callable(), std::move(serviceOptions));
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
  std::shared_ptr<const Calendar> calendar = std::make_shared<FixedOffsetCalendar>();
  Recorder recorder;
  std::mutex progressMutex;
  std::vector<std::optional<IndexingProgress>> progress;
  std::unique_ptr<IndexerService> service;  // last: stopped before the rest goes
};

// ---------------------------------------------------------------------------
// Runs over all logs

TEST(IndexerService, FullRunReadsProvidersInOrderAndEachProvidersFilesNewestFirst) {
  for (const int threads : {0, 2}) {
    SCOPED_TRACE(threads);
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
    writeFile(indexer.codex("2025/12/31/rollout-1.jsonl"), codexUsage("live"));
    writeFile(indexer.archived("rollout-0.jsonl"), codexUsage("archived"));
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
}

TEST(IndexerService, SecondRunWithNothingNewOpensNoFileAndWritesNothing) {
  for (const int threads : {0, 2}) {
    SCOPED_TRACE(threads);
    Indexer indexer(options(threads));
    writeFile(indexer.claude("p/a.jsonl"), claudeLine("a1") + fillerLine() + claudeLine("a2"));
    writeFile(indexer.codex("2025/12/31/r.jsonl"), sessionMeta("cs") + codexUsage("c1"));
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
      writeFile(indexer.home / file, grok ? grokSession(file, {{1, true}}) : claudeLine(file) + codexUsage(file));
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

TEST(IndexerService, ProgressIsThrottledToATenthOfASecondAndEndsAtTheTotal) {
  // Lines of 192 bytes read in chunks of 192: one event per chunk, and the
  // ingest moves the clock on by 1/16 s, so every second chunk reports.
  for (const int threads : {0, 2}) {
    SCOPED_TRACE(threads);
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

TEST(IndexerService, AFailingFileIsLoggedAndTheRunGoesOn) {
  for (const int threads : {0, 2}) {
    SCOPED_TRACE(threads);
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
    EXPECT_THAT(indexer.env.logLines(), ElementsAre("Tokvane: indexing bad.jsonl failed: disk on fire"));
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
}

TEST(IndexerService, OverlongLinesAndOversizedGrokFilesAreLogged) {
  for (const int threads : {0, 2}) {
    SCOPED_TRACE(threads);
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
                ElementsAre("Tokvane: reading a.jsonl failed: line of 1999 bytes longer than 1024 bytes skipped",
                            "Tokvane: indexing usage.json failed: file of " + std::to_string(bigSize) +
                                " bytes larger than 1024 bytes"));
    EXPECT_THAT(indexer.recorder.keys(), ElementsAre("before", "after", "fine#1#grok-4"));
    EXPECT_FALSE(indexer.cursor(indexer.grok("big/usage.json")).has_value());
  }
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

TEST(IndexerService, CodexSessionAndModelCarryAcrossChunksAndRuns) {
  for (const int threads : {0, 2}) {
    SCOPED_TRACE(threads);
    // Chunks of 100 bytes: every line is a chunk of its own.
    Indexer indexer(options(threads, 100));
    const fs::path path = indexer.codex("2025/12/31/rollout.jsonl");
    writeFile(path, sessionMeta("sess-1") + fillerLine(150) + turnContext("gpt-5-codex") + codexUsage("r1"));
    ASSERT_EQ(indexer.indexAll().newEvents, 1);
    // A later model, then usage in the next run.
    appendFile(path, turnContext("gpt-5.1-codex"));
    ASSERT_EQ(indexer.indexAll().newEvents, 0);
    appendFile(path, codexUsage("r2"));
    ASSERT_EQ(indexer.index({path.string()}).newEvents, 1);

    std::vector<std::pair<std::string, std::string>> seen;
    for (const auto& batch : indexer.recorder.batches()) {
      for (const auto& event : batch) seen.emplace_back(event.sessionID, event.model);
    }
    EXPECT_THAT(seen, ElementsAre(std::pair<std::string, std::string>{"sess-1", "gpt-5-codex"},
                                  std::pair<std::string, std::string>{"sess-1", "gpt-5.1-codex"}));
    EXPECT_EQ(
        indexer.cursor(path)->context,
        (std::map<std::string, std::string>{{"model", "gpt-5.1-codex"}, {"provider", "codex"}, {"session", "sess-1"}}));
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
    writeFile(indexer.codex("2025/12/31/new.jsonl"), tokenCount(10, 5) + tokenCount(30, 40) + tokenCount(20, 7));
    writeFile(indexer.codex("2025/12/31/old.jsonl"), tokenCount(30, 80));
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
  writeFile(path, tokenCount(1, 10));
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
      log += claudeLine(id, "s" + f, 10 + line, line % 3 ? "claude-a" : "claude-b", line) + fillerLine(90 + line * 7);
      if (line % 4 == 0) log += claudeLine(id, "s" + f, 10 + line);  // the same message on a second line
    }
    log += claudeLine("shared-" + r, "s-shared");  // the same message in every file
    appendFile(indexer.claude("p" + std::to_string(file % 3) + "/" + f + ".jsonl"), log);
    setModified(indexer.claude("p" + std::to_string(file % 3) + "/" + f + ".jsonl"), 1'700'000'000 + file * 7 % 5);
  }
  for (int file = 0; file < 5; ++file) {
    const std::string f = std::to_string(file);
    std::string log = round == 0 ? sessionMeta("cx" + f) : "";
    for (int line = 0; line < 8; ++line) {
      if (line % 3 == 0) log += turnContext("gpt-" + std::to_string(line) + "-" + r);
      log += codexUsage("x" + f + "-" + r + "-" + std::to_string(line), 50 + line, line) + fillerLine(120);
      if (line == 5) log += tokenCount(file * 10 + line + round, file + line);
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
  // Chunks of 512 bytes, so files span many chunks and lines straddle them.
  Indexer serial(options(0, 512));
  Indexer parallel(options(3, 512), serial.home);
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
  }
  // A change run over the whole home with nothing new.
  EXPECT_EQ(parallel.index({parallel.home.string()}), serial.index({serial.home.string()}));
  EXPECT_EQ(dumpLedger(parallel.ledger), dumpLedger(serial.ledger));
}

}  // namespace
}  // namespace tokvane
