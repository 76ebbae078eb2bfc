// Logs that the tools append to while the indexer reads them. The tools
// write a line in pieces: a pass may find a line cut anywhere, even inside
// a multibyte UTF-8 character or just before its line feed. Whatever the
// split, every complete line must end up counted exactly once, and the
// Codex session and model must carry over every cut.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Tokvane/Engine/Indexing/IndexerService.hpp"
#include "Tokvane/Engine/Indexing/LogFileTree.hpp"
#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"
#include "tests/engine/support/FakeEnv.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane {
namespace {

namespace fs = std::filesystem;
using testing::FakeEnv;
using testing::TempDir;

// Texts with characters of two, three and four bytes.
const char* const texts[] = {
    "café au lait",
    "em dash — between",
    "日本語のテキスト",
    "emoji 🙂 and 🚀 too",
    "naïve façade, señor",
};

// What the ledger must hold in the end, per provider and model.
struct Expected {
  std::map<std::string, std::pair<int64_t, int64_t>> tokens;  // "provider/model" -> input, output
  std::set<std::string> keys;
  std::set<std::string> sessions;  // "provider/session"
};

// One log file being written: its whole text, and where the writes cut it.
struct Log {
  fs::path path;
  std::string bytes;
  std::vector<size_t> cuts;  // ascending, inside (0, size)
};

std::string stamp(int second) {
  char text[32];
  std::snprintf(text, sizeof text, "2025-12-31T10:%02d:%02dZ", second / 60 % 60, second % 60);
  return text;
}

// Cuts that a random split might miss: inside a multibyte character, right
// before the line feed, and between a carriage return and its line feed.
void addAwkwardCuts(const std::string& line, size_t start, std::mt19937& random, std::vector<size_t>& cuts) {
  std::vector<size_t> inside;
  for (size_t i = 0; i < line.size(); ++i) {
    if ((static_cast<unsigned char>(line[i]) & 0xC0) == 0x80) inside.push_back(i);
  }
  if (!inside.empty()) cuts.push_back(start + inside[random() % inside.size()]);
  if (random() % 3 == 0) cuts.push_back(start + line.size() - 1);
  if (line.size() >= 2 && line[line.size() - 2] == '\r') cuts.push_back(start + line.size() - 1);
}

// Random cuts between the awkward ones, 1 to 300 bytes apart.
void finishCuts(Log& log, std::mt19937& random) {
  for (size_t at = 1 + random() % 300; at < log.bytes.size(); at += 1 + random() % 300) log.cuts.push_back(at);
  std::sort(log.cuts.begin(), log.cuts.end());
  log.cuts.erase(std::unique(log.cuts.begin(), log.cuts.end()), log.cuts.end());
  log.cuts.erase(std::remove_if(log.cuts.begin(), log.cuts.end(),
                                [&](size_t cut) { return cut == 0 || cut >= log.bytes.size(); }),
                 log.cuts.end());
}

void addLine(Log& log, const std::string& line, std::mt19937& random) {
  addAwkwardCuts(line, log.bytes.size(), random, log.cuts);
  log.bytes += line;
}

// A Claude Code session: assistant lines with usage, user lines without,
// some ending in CR LF.
Log claudeLog(const fs::path& path, const std::string& name, int lines, std::mt19937& random, Expected& expected) {
  Log log{path, {}, {}};
  const std::string session = "session-" + name;
  for (int i = 0; i < lines; ++i) {
    const std::string text = texts[random() % std::size(texts)];
    const char* ending = random() % 5 == 0 ? "\r\n" : "\n";
    if (random() % 3 == 0) {
      addLine(log,
              R"({"type":"user","sessionId":")" + session + R"(","timestamp":")" + stamp(i) +
                  R"(","message":{"role":"user","content":")" + text + "\"}}" + ending,
              random);
      continue;
    }
    const std::string key = "msg_" + name + "_" + std::to_string(i);
    const std::string model = i % 2 ? "claude-a" : "claude-b";
    const int input = 1 + i;
    const int output = 1000 + 7 * i;
    addLine(log,
            R"({"type":"assistant","sessionId":")" + session + R"(","timestamp":")" + stamp(i) +
                R"(","message":{"id":")" + key + R"(","model":")" + model + R"(","content":[{"type":"text","text":")" +
                text + R"("}],"usage":{"input_tokens":)" + std::to_string(input) +
                R"(,"output_tokens":)" + std::to_string(output) + "}}}" + ending,
            random);
    auto& sums = expected.tokens["claude/" + model];
    sums.first += input;
    sums.second += output;
    expected.keys.insert(key);
    expected.sessions.insert("claude/" + session);
  }
  finishCuts(log, random);
  return log;
}

// A Codex session: its id first, then usage records whose model is the last
// turn context's, with the model changing every few records.
Log codexLog(const fs::path& path, const std::string& name, int lines, std::mt19937& random, Expected& expected) {
  Log log{path, {}, {}};
  const std::string session = "codex-session-" + name;
  addLine(log, R"({"timestamp":")" + stamp(0) + R"(","type":"session_meta","payload":{"id":")" + session + "\"}}\n",
          random);
  std::string model;
  for (int i = 0; i < lines; ++i) {
    const std::string text = texts[random() % std::size(texts)];
    if (model.empty() || random() % 6 == 0) {
      model = "gpt-" + std::to_string(random() % 3);
      addLine(log,
              R"({"timestamp":")" + stamp(i) + R"(","type":"turn_context","payload":{"model":")" + model +
                  R"(","note":")" + text + "\"}}\n",
              random);
    }
    if (random() % 4 == 0) {
      // Passes the byte test and parses to nothing.
      addLine(log,
              R"({"timestamp":")" + stamp(i) +
                  R"(","type":"response_item","payload":{"type":"message","text":"token_count )" + text + "\"}}\n",
              random);
    }
    const std::string key = "resp_" + name + "_" + std::to_string(i);
    const int input = 10 + i;
    const int output = 500 + 3 * i;
    addLine(log,
            R"({"timestamp":")" + stamp(i) + R"(","type":"token_usage_record","payload":{"response_id":")" + key +
                R"(","usage":{"input_tokens":)" + std::to_string(input) +
                R"(,"output_tokens":)" + std::to_string(output) + "}}}\n",
            random);
    auto& sums = expected.tokens["codex/" + model];
    sums.first += input;
    sums.second += output;
    expected.keys.insert(key);
    expected.sessions.insert("codex/" + session);
  }
  finishCuts(log, random);
  return log;
}

// The writes of all logs, interleaved: each a piece of one log.
struct Write {
  size_t log;
  size_t begin;
  size_t end;
};

std::vector<Write> interleave(const std::vector<Log>& logs, std::mt19937& random) {
  std::vector<size_t> next(logs.size(), 0);  // per log: the next cut to write up to
  std::vector<size_t> written(logs.size(), 0);
  std::vector<Write> writes;
  for (;;) {
    std::vector<size_t> open;
    for (size_t i = 0; i < logs.size(); ++i) {
      if (written[i] < logs[i].bytes.size()) open.push_back(i);
    }
    if (open.empty()) return writes;
    const size_t i = open[random() % open.size()];
    const size_t end = next[i] < logs[i].cuts.size() ? logs[i].cuts[next[i]++] : logs[i].bytes.size();
    writes.push_back({i, written[i], end});
    written[i] = end;
  }
}

// Appends with one write() call, as a tool does.
class Appender {
 public:
  explicit Appender(const std::vector<Log>& logs) : logs_(logs) {
    for (const Log& log : logs) {
      fs::create_directories(log.path.parent_path());
      fds_.push_back(::open(log.path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
      EXPECT_GE(fds_.back(), 0) << log.path;
    }
  }
  ~Appender() {
    for (const int fd : fds_) ::close(fd);
  }

  void write(const Write& piece) {
    const std::string& bytes = logs_[piece.log].bytes;
    const ssize_t wrote = ::write(fds_[piece.log], bytes.data() + piece.begin, piece.end - piece.begin);
    EXPECT_EQ(wrote, static_cast<ssize_t>(piece.end - piece.begin));
  }

 private:
  const std::vector<Log>& logs_;
  std::vector<int> fds_;
};

std::vector<std::string> query(const fs::path& ledger, const char* sql) {
  sqlite3* db = nullptr;
  std::vector<std::string> rows;
  EXPECT_EQ(sqlite3_open_v2(ledger.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* statement = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &statement, nullptr), SQLITE_OK) << sql;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    std::string row;
    for (int column = 0; column < sqlite3_column_count(statement); ++column) {
      const auto* text = sqlite3_column_text(statement, column);
      row += (column ? "|" : "") + std::string(text ? reinterpret_cast<const char*>(text) : "NULL");
    }
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return rows;
}

enum class Timing {
  // Passes run between writes, at chosen points: every cut is seen by a pass.
  lockstep,
  // A writer thread appends while passes run back to back.
  concurrent,
};

struct Case {
  const char* name;
  Timing timing;
  int parseThreads;
  int64_t chunkSize;
  unsigned seed;
};

TEST(ConcurrentAppend, EveryCompleteLineIsCountedOnceWhateverTheSplitOfTheWrites) {
  const Case cases[] = {
      {"lockstep, read on the writer, small chunks", Timing::lockstep, 0, 700, 1},
      {"lockstep, parse threads, small chunks", Timing::lockstep, 2, 700, 2},
      {"lockstep, parse threads, whole chunks", Timing::lockstep, 2, int64_t{8} << 20, 3},
      {"concurrent, read on the writer, small chunks", Timing::concurrent, 0, 700, 4},
      {"concurrent, parse threads, small chunks", Timing::concurrent, 2, 700, 5},
      {"concurrent, parse threads, whole chunks", Timing::concurrent, 2, int64_t{8} << 20, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const fs::path home = dir / "home";
    const fs::path ledger = dir / "usage.sqlite";
    std::mt19937 random(c.seed);
    Expected expected;
    std::vector<Log> logs;
    logs.push_back(claudeLog(home / ".claude/projects/p/one.jsonl", "one", 150, random, expected));
    logs.push_back(claudeLog(home / ".claude/projects/q/two.jsonl", "two", 100, random, expected));
    logs.push_back(codexLog(home / ".codex/sessions/2025/12/31/rollout-a.jsonl", "a", 150, random, expected));
    const std::vector<Write> writes = interleave(logs, random);

    UsageStore store(ledger);
    FakeEnv env;
    IndexerService::Options options;
    options.parseThreads = c.parseThreads;
    options.chunkSize = c.chunkSize;
    auto service = std::make_unique<IndexerService>(store, ProviderLocations(home), nullptr,
                                                    std::make_shared<FixedOffsetCalendar>(), env,
                                                    IndexerService::IngestEvents{}, options);
    int counted = 0;
    int passes = 0;
    // Full runs and runs over the changed files, by turns.
    const auto pass = [&] {
      std::vector<std::string> changed;
      for (const Log& log : logs) changed.push_back(log.path.string());
      counted += (++passes % 2 ? service->indexAll() : service->index(changed)).get().newEvents;
    };

    Appender appender(logs);
    if (c.timing == Timing::lockstep) {
      for (size_t i = 0; i < writes.size(); ++i) {
        appender.write(writes[i]);
        if (random() % 3 == 0) pass();
      }
    } else {
      std::atomic<bool> done{false};
      std::thread writer([&] {
        std::mt19937 pauses(c.seed + 100);
        for (const Write& piece : writes) {
          appender.write(piece);
          std::this_thread::sleep_for(std::chrono::microseconds(pauses() % 200));
        }
        done = true;
      });
      while (!done) pass();
      writer.join();
    }
    pass();
    pass();  // nothing is left for a second one

    EXPECT_EQ(counted, static_cast<int>(expected.keys.size()));
    EXPECT_THAT(env.logLines(), ::testing::IsEmpty());
    const auto keys = query(ledger, "SELECT key FROM seen ORDER BY key");
    EXPECT_EQ(std::set<std::string>(keys.begin(), keys.end()), expected.keys);
    EXPECT_EQ(keys.size(), expected.keys.size());
    std::vector<std::string> sums;
    for (const auto& [row, tokens] : expected.tokens) {
      sums.push_back(row + "|" + std::to_string(tokens.first) + "|" + std::to_string(tokens.second));
    }
    EXPECT_EQ(query(ledger,
                    "SELECT provider || '/' || model, SUM(uncached), SUM(output) FROM daily "
                    "GROUP BY provider, model ORDER BY provider || '/' || model"),
              sums);
    const auto sessions = query(ledger, "SELECT provider || '/' || session_id FROM sessions");
    EXPECT_EQ(std::set<std::string>(sessions.begin(), sessions.end()), expected.sessions);
    // Every cursor stands at the end of its file.
    for (const Log& log : logs) {
      const auto cursor = store.cursor(LogFileTree::resolved(log.path.string()));
      ASSERT_TRUE(cursor.has_value()) << log.path;
      EXPECT_EQ(cursor->offset, static_cast<int64_t>(log.bytes.size())) << log.path;
    }
    service.reset();
  }
}

}  // namespace
}  // namespace tokvane
