// A first full index that is killed with SIGKILL - inside an ingest
// transaction, between an ingest and its cursor save, or at a random time -
// and then restarted on the same ledger must end with exactly the ledger of
// one uninterrupted run: the same daily rows, sessions, seen keys and
// cursors. The run is a separate process (tokvane-crash-child) over a
// generated tree of a few hundred realistic logs, read in small chunks so
// that it makes thousands of chunk writes, grouped by the indexer into about
// a hundred ingest transactions (one per chunk through an ingest callable).

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/TempDir.hpp"

extern char** environ;

namespace tokvane {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempDir;

// About 30 MB in some 290 files of the three tools (the seed is one that
// gives Grok sessions too), read in 4 KiB chunks (a longer line makes its
// chunk longer): some five thousand chunks, written in transactions of a
// couple of hundred events so that a run holds dozens of them.
constexpr const char* treeBytes = "30000000";
constexpr const char* treeSeed = "1";
constexpr const char* chunkSize = "4096";
constexpr const char* groupEvents = "200";

// ---------------------------------------------------------------------------
// Child processes

struct Exit {
  int status = 0;  // as waitpid gives it
  double seconds = 0;
  std::string log;  // what the program wrote to standard error

  bool killed() const { return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL; }
  bool ended() const { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }
  std::string describe() const {
    std::string text = WIFEXITED(status)     ? "exit status " + std::to_string(WEXITSTATUS(status))
                       : WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                             : "status " + std::to_string(status);
    return text + " after " + std::to_string(seconds) + " s; log:\n" + log;
  }
};

// Runs a program with its standard output going to `output` and its
// standard error to `errors`. With `killAfter`, sends it SIGKILL once that
// many seconds have passed, unless it ended before.
Exit run(const std::vector<std::string>& arguments, const fs::path& output, const fs::path& errors,
         std::optional<double> killAfter = {}) {
  Exit exit;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  const auto start = std::chrono::steady_clock::now();
  const auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    ADD_FAILURE() << "starting " << arguments[0] << " failed: " << std::strerror(spawned);
    exit.status = -1;
    return exit;
  }
  for (;;) {
    const pid_t done = waitpid(pid, &exit.status, killAfter ? WNOHANG : 0);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) {
      ADD_FAILURE() << "waiting for " << arguments[0] << " failed: " << std::strerror(errno);
      break;
    }
    if (killAfter && elapsed() >= *killAfter) {
      ::kill(pid, SIGKILL);
      while (waitpid(pid, &exit.status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    const struct timespec pause = {0, 100'000};
    nanosleep(&pause, nullptr);
  }
  exit.seconds = elapsed();
  exit.log = readFile(errors);
  return exit;
}

// ---------------------------------------------------------------------------
// The ledger, as rows of text

struct Ledger {
  std::vector<std::string> daily;
  std::vector<std::string> sessions;
  std::vector<std::string> seen;
  std::vector<std::string> cursors;
  std::string integrity;
};

// Every column of every row, with its storage type, reals to the last bit.
std::vector<std::string> rows(sqlite3* db, const char* sql) {
  std::vector<std::string> result;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
    return result;
  }
  int rc;
  while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
    std::string row;
    for (int column = 0; column < sqlite3_column_count(statement); ++column) {
      if (column > 0) row += " | ";
      switch (sqlite3_column_type(statement, column)) {
        case SQLITE_NULL:
          row += "NULL";
          break;
        case SQLITE_INTEGER:
          row += std::to_string(sqlite3_column_int64(statement, column));
          break;
        case SQLITE_FLOAT: {
          char text[40];
          std::snprintf(text, sizeof text, "%.17g (real)", sqlite3_column_double(statement, column));
          row += text;
          break;
        }
        default:
          row += "'" + std::string(reinterpret_cast<const char*>(sqlite3_column_text(statement, column))) + "'";
      }
    }
    result.push_back(std::move(row));
  }
  if (rc != SQLITE_DONE) ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
  sqlite3_finalize(statement);
  return result;
}

Ledger readLedger(const fs::path& path) {
  Ledger ledger;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << "opening " << path << " failed: " << sqlite3_errmsg(db);
    sqlite3_close(db);
    return ledger;
  }
  ledger.daily = rows(db, "SELECT * FROM daily ORDER BY provider, model, day");
  ledger.sessions = rows(db, "SELECT * FROM sessions ORDER BY provider, session_id");
  ledger.seen = rows(db, "SELECT * FROM seen ORDER BY key");
  ledger.cursors = rows(db, "SELECT path, json FROM cursors ORDER BY path");
  const auto check = rows(db, "PRAGMA integrity_check");
  for (const auto& line : check) ledger.integrity += line + "\n";
  sqlite3_close(db);
  return ledger;
}

// Fails, with the tables' sizes and the first rows where they part, when a
// table differs from the reference.
void expectSameTable(const char* table, const std::vector<std::string>& expected,
                     const std::vector<std::string>& actual) {
  if (expected == actual) return;
  const auto [a, b] = std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
  ADD_FAILURE() << table << ": " << expected.size() << " rows expected, " << actual.size()
                << " found; first difference at row " << (a - expected.begin()) << ":\n  expected: "
                << (a != expected.end() ? *a : "(none)") << "\n  found:    " << (b != actual.end() ? *b : "(none)");
}

// The limits table is left out: the Codex limits read from the logs are
// stored when a run ends, so those a killed run had read are not kept, and
// the restarted run stores the newest of what it still reads.
void expectSameLedger(const Ledger& expected, const Ledger& actual) {
  expectSameTable("daily", expected.daily, actual.daily);
  expectSameTable("sessions", expected.sessions, actual.sessions);
  expectSameTable("seen", expected.seen, actual.seen);
  expectSameTable("cursors", expected.cursors, actual.cursors);
}

// ---------------------------------------------------------------------------
// The suite: one tree, one uninterrupted run as the reference

// What an uninterrupted run reported: the usage rows and cursors it wrote,
// its transactions and the calls of an ingest callable.
struct Counts {
  long long ledgerRows = 0;
  long long cursorRows = 0;
  long long commits = 0;
  long long ingests = 0;
};

Counts readCounts(const fs::path& report) {
  const std::string text = readFile(report);
  const auto count = [&](const char* key) {
    std::smatch match;
    const std::regex pattern(std::string("\"") + key + "\":([0-9]+)");
    return std::regex_search(text, match, pattern) ? std::stoll(match[1]) : -1;
  };
  return {count("ledgerRows"), count("cursorRows"), count("commits"), count("ingests")};
}

class IndexCrash : public ::testing::Test {
 protected:
  struct Shared {
    std::unique_ptr<TempDir> dir;
    fs::path home;
    Ledger reference;
    Counts counts;
    // The same uninterrupted run through an ingest callable.
    Ledger ownIngest;
    Counts ownIngestCounts;
    double seconds = 0;  // the uninterrupted run's wall time
    std::string error;   // why the suite cannot run
  };
  static Shared* shared;

  static fs::path folder() { return shared->dir->path(); }

  static std::vector<std::string> childArguments(const fs::path& ledger) {
    return {TOKVANE_CRASH_CHILD, "--home",      shared->home.string(), "--store", ledger.string(),
            "--chunk-size",      chunkSize, "--group-events",     groupEvents};
  }

  static void SetUpTestSuite() {
    shared = new Shared;
    shared->dir = std::make_unique<TempDir>();
    shared->home = folder() / "home";
    const Exit tree = run({TOKVANE_CRASH_LOG_TREE, "--home", shared->home.string(), "--bytes", treeBytes, "--seed",
                           treeSeed},
                          folder() / "tree.json", folder() / "tree.log");
    if (!tree.ended()) {
      shared->error = "generating the log tree failed: " + tree.describe();
      return;
    }

    for (const bool own : {false, true}) {
      const fs::path ledger = folder() / (own ? "own-ingest.sqlite" : "reference.sqlite");
      const fs::path report = folder() / (own ? "own-ingest.json" : "reference.json");
      std::vector<std::string> arguments = childArguments(ledger);
      arguments.insert(arguments.end(), {"--report", report.string()});
      if (own) arguments.push_back("--own-ingest");
      const Exit clean = run(arguments, folder() / "clean.out", folder() / "clean.log");
      if (!clean.ended() || !clean.log.empty()) {
        shared->error = "an uninterrupted run failed: " + clean.describe();
        return;
      }
      (own ? shared->ownIngest : shared->reference) = readLedger(ledger);
      (own ? shared->ownIngestCounts : shared->counts) = readCounts(report);
      if (!own) shared->seconds = clean.seconds;
    }
  }

  static void TearDownTestSuite() {
    delete shared;
    shared = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(shared->error.empty()) << shared->error;
    const Ledger& reference = shared->reference;
    // The run must be worth interrupting: thousands of chunks in many
    // transactions, usage of all three tools.
    ASSERT_GE(shared->counts.cursorRows, 3000);
    ASSERT_GE(shared->counts.commits, 20);
    ASSERT_GE(shared->ownIngestCounts.ingests, 1000);
    for (const char* provider : {"'claude'", "'codex'", "'grok'"}) {
      EXPECT_TRUE(std::any_of(reference.daily.begin(), reference.daily.end(),
                              [&](const std::string& row) { return row.rfind(provider, 0) == 0; }))
          << provider;
    }
    ASSERT_EQ(reference.integrity, "'ok'\n");
  }

  // A fresh folder for one crash and its restart.
  static fs::path freshLedger() {
    static int made = 0;
    const fs::path runFolder = folder() / ("run-" + std::to_string(++made));
    fs::create_directories(runFolder);
    return runFolder / "usage.sqlite";
  }

  // The Nth of `count` moments at `fraction` of the way through a run
  // (0: the first, 1: the last).
  static long long moment(long long count, double fraction) {
    return 1 + std::llround(fraction * static_cast<double>(std::max<long long>(count, 1) - 1));
  }

  // Kills a first run at the moment named by --kill KIND:N, then restarts
  // it on the same ledger and compares.
  static void killAt(const std::string& kind, long long at) {
    SCOPED_TRACE("--kill " + kind + ":" + std::to_string(at));
    const fs::path ledger = freshLedger();
    std::vector<std::string> arguments = childArguments(ledger);
    arguments.insert(arguments.end(), {"--kill", kind + ":" + std::to_string(at)});
    const Exit first = run(arguments, ledger.parent_path() / "first.out", ledger.parent_path() / "first.log");
    ASSERT_TRUE(first.killed()) << "the run was not killed at that moment: " << first.describe();
    EXPECT_EQ(first.log, "");
    finishAndCompare(ledger);
  }

  // Runs the index to its end on a ledger left by a killed run; the ledger
  // must then be the reference.
  static void finishAndCompare(const fs::path& ledger) {
    const Exit second = run(childArguments(ledger), ledger.parent_path() / "second.out",
                            ledger.parent_path() / "second.log");
    ASSERT_TRUE(second.ended()) << second.describe();
    EXPECT_EQ(second.log, "");
    const Ledger found = readLedger(ledger);
    EXPECT_EQ(found.integrity, "'ok'\n");
    expectSameLedger(shared->reference, found);
    // Keep the disk use of the suite to a few ledgers.
    if (!::testing::Test::HasFailure()) fs::remove_all(ledger.parent_path());
  }
};

IndexCrash::Shared* IndexCrash::shared = nullptr;

TEST_F(IndexCrash, KilledInsideAnIngestTransaction) {
  // Between two row writes, from the very first row to the last ones; and
  // just before the COMMIT, once every statement of the transaction ran.
  for (const double fraction : {0.0, 0.25, 0.5, 0.75, 0.999}) {
    killAt("ledger-row", moment(shared->counts.ledgerRows, fraction));
  }
  for (const double fraction : {0.0, 0.3, 0.6, 0.9, 1.0}) {
    killAt("commit-after-row", moment(shared->counts.ledgerRows, fraction));
  }
}

TEST_F(IndexCrash, KilledBetweenAnIngestAndItsCursorSave) {
  // On the default path: a chunk's events are in and its cursor is being
  // saved (within the group's transaction).
  for (const double fraction : {0.0, 0.33, 0.66, 1.0}) {
    killAt("cursor-row", moment(shared->counts.cursorRows, fraction));
  }
  // Through an ingest callable, chunk by chunk: the ingest has committed and
  // returned, the cursor is not saved yet. That path alone ends with the
  // same ledger as the default one.
  expectSameLedger(shared->reference, shared->ownIngest);
  for (const double fraction : {0.5, 1.0}) {
    killAt("ingest-return", moment(shared->ownIngestCounts.ingests, fraction));
  }
}

TEST_F(IndexCrash, KilledAtRandomTimes) {
  std::mt19937_64 random(20260101);
  std::uniform_real_distribution<double> fraction(0.05, 0.95);
  for (int kill = 0; kill < 4; ++kill) {
    double delay = fraction(random) * shared->seconds;
    SCOPED_TRACE("kill " + std::to_string(kill));
    fs::path ledger;
    Exit first;
    // A run that happens to end before its kill is no crash: try again
    // sooner, on a fresh ledger.
    for (int attempt = 0; attempt < 8; ++attempt) {
      ledger = freshLedger();
      first = run(childArguments(ledger), ledger.parent_path() / "first.out", ledger.parent_path() / "first.log",
                  delay);
      if (!first.ended()) break;
      delay /= 2;
    }
    ASSERT_TRUE(first.killed()) << first.describe();
    EXPECT_EQ(first.log, "");
    finishAndCompare(ledger);
  }
}

// The tools append to their logs while the indexer reads them, and a pass
// may find a line cut anywhere: the lines of one streamed reply, or a Codex
// session's running totals, then arrive over many passes. Written in small
// appends with a full index after each, the tree ends with the counts, seen
// keys and sessions of one full index of the finished tree.
TEST_F(IndexCrash, LogsWrittenInManySmallAppendsEndWithTheLedgerOfOneFullIndex) {
  struct File {
    fs::path from, to;
    std::string bytes;
  };
  const fs::path home = folder() / "appended-home";
  std::vector<File> files;
  for (const auto& entry : fs::recursive_directory_iterator(shared->home)) {
    if (!entry.is_regular_file()) continue;
    files.push_back({entry.path(), home / fs::relative(entry.path(), shared->home), readFile(entry.path())});
    fs::create_directories(files.back().to.parent_path());
  }
  ASSERT_GE(files.size(), 100u);
  const fs::path ledger = freshLedger();
  const std::vector<std::string> arguments = {TOKVANE_CRASH_CHILD, "--home", home.string(), "--store",
                                              ledger.string(), "--chunk-size", chunkSize, "--group-events",
                                              groupEvents};
  std::mt19937_64 random(20261211);
  constexpr int rounds = 12;
  std::vector<size_t> written(files.size(), 0);
  for (int round = 1; round <= rounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    for (size_t i = 0; i < files.size(); ++i) {
      File& file = files[i];
      // A Grok usage file is rewritten whole; a log grows to a cut anywhere.
      const bool whole = file.to.filename() == "usage.json";
      size_t cut = file.bytes.size();
      if (!whole && round < rounds) {
        const size_t step = file.bytes.size() / rounds;
        cut = std::min(file.bytes.size(), step * round + random() % (step + 1));
      }
      if (cut <= written[i] && fs::exists(file.to)) continue;
      std::ofstream out(file.to, std::ios::binary | std::ios::app);
      out.write(file.bytes.data() + written[i], static_cast<std::streamsize>(cut - written[i]));
      out.close();
      ASSERT_TRUE(out) << file.to;
      written[i] = std::max(written[i], cut);
      fs::last_write_time(file.to, fs::last_write_time(file.from));
    }
    const Exit pass = run(arguments, ledger.parent_path() / "pass.out", ledger.parent_path() / "pass.log");
    ASSERT_TRUE(pass.ended()) << pass.describe();
    EXPECT_EQ(pass.log, "");
  }
  const Ledger found = readLedger(ledger);
  EXPECT_EQ(found.integrity, "'ok'\n");
  expectSameTable("daily", shared->reference.daily, found.daily);
  expectSameTable("sessions", shared->reference.sessions, found.sessions);
  expectSameTable("seen", shared->reference.seen, found.seen);
}

// What counts is each response's output once: a streamed Claude reply's
// final output (not the placeholders of its earlier lines), and a Codex
// response's whether its file has usage records or only running totals.
TEST_F(IndexCrash, EachResponsesOutputCountsOnce) {
  const std::string tree = readFile(folder() / "tree.json");
  const auto written = [&](const char* tool) {
    std::smatch match;
    const std::regex pattern(std::string("\"") + tool + "\":\\{[^}]*\"output\":([0-9]+)");
    return std::regex_search(tree, match, pattern) ? match[1].str() : "(none)";
  };
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2((folder() / "reference.sqlite").c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  EXPECT_EQ(rows(db, "SELECT SUM(output) FROM daily WHERE provider = 'claude'"),
            std::vector<std::string>{written("claude")});
  EXPECT_EQ(rows(db, "SELECT SUM(output) FROM daily WHERE provider = 'codex'"),
            std::vector<std::string>{written("codex")});
  // Both Codex forms are in the tree.
  EXPECT_EQ(rows(db, "SELECT COUNT(*) > 0 FROM seen WHERE key LIKE 'codex-total:%'"), std::vector<std::string>{"1"});
  EXPECT_EQ(rows(db, "SELECT COUNT(*) > 0 FROM seen WHERE key LIKE 'resp_%'"), std::vector<std::string>{"1"});
  sqlite3_close(db);
}

}  // namespace
}  // namespace tokvane
