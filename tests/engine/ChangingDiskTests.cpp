// The engine as the programs build it, on the Linux runtime with the real
// inotify watcher, over a temporary home that changes the way real machines
// change: a tool installed after start, a project folder deleted and made
// again, a log rewritten in place by an editor. Whatever happened on the
// way, the ledger ends equal to a fresh index of the files left.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Tokvane/Engine/Indexing/IndexerService.hpp"
#include "Tokvane/Engine/Model/EngineComposition.hpp"
#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Foundation/ISO8601.hpp"
#include "TokvaneCore/Providers/ProviderLocations.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"
#include "platform/linux/LinuxEnv.hpp"
#include "tests/engine/support/AppModelHarness.hpp"
#include "tests/engine/support/FakeEnv.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/TestHTTPServer.hpp"

namespace tokvane {
namespace {

namespace fs = std::filesystem;
using testing::CannedResponse;
using testing::FakeNotificationCenter;
using testing::FakeWidgetCenter;
using testing::ledgerSQL;
using testing::RecordedRequest;
using testing::TempDir;
using testing::TestHTTPServer;
using testing::writeFile;
using Rows = std::vector<std::string>;

std::string claudeLine(const std::string& id, Date at) {
  return R"({"type":"assistant","sessionId":"s-)" + id.substr(0, 1) + R"(","timestamp":")" + ISO8601::format(at) +
         R"(","message":{"id":")" + id + R"(","model":"claude-sonnet-4-5","usage":{"input_tokens":100,)"
         R"("output_tokens":)" + std::to_string(10 + id.size()) + "}}}\n";
}

// `count` replies with ids `prefix`0, `prefix`1, ...
std::string replies(const std::string& prefix, int count, Date at) {
  std::string log;
  for (int i = 0; i < count; ++i) log += claudeLine(prefix + std::to_string(i), at);
  return log;
}

std::string codexLog(const std::string& id, Date at) {
  return R"({"timestamp":")" + ISO8601::format(at) + R"(","type":"session_meta","payload":{"id":"codex-1"}})" +
         "\n" + R"({"timestamp":")" + ISO8601::format(at) +
         R"(","type":"turn_context","payload":{"model":"gpt-5"}})" + "\n" + R"({"timestamp":")" +
         ISO8601::format(at) + R"(","type":"token_usage_record","payload":{"response_id":")" + id +
         R"(","usage":{"input_tokens":800,"output_tokens":10}}})" + "\n";
}

uint64_t inodeOf(const fs::path& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0 ? static_cast<uint64_t>(status.st_ino) : 0;
}

bool pumpUntil(LinuxEnv& env, const std::function<bool()>& done, double seconds = 20) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (env.mainLoop().runUntil(done, std::chrono::milliseconds(50))) return true;
  }
  return done();
}

// What a ledger counted, table by table, in an order two ledgers compare by.
Rows counted(const fs::path& ledger) {
  Rows rows;
  for (const char* sql : {"SELECT 'daily', provider, model, day, uncached, cache_read, w5m, w1h, output, reasoning, "
                          "reported_usd FROM daily ORDER BY 2, 3, 4",
                          "SELECT 'sessions', provider, session_id, day FROM sessions ORDER BY 2, 3",
                          "SELECT 'seen', key, day FROM seen ORDER BY 2"}) {
    const Rows part = ledgerSQL(ledger, sql);
    rows.insert(rows.end(), part.begin(), part.end());
  }
  return rows;
}

int seenCount(const fs::path& ledger) {
  const Rows rows = ledgerSQL(ledger, "SELECT count(*) FROM seen");
  return rows.size() == 1 && rows[0].find_first_not_of("0123456789") == std::string::npos ? std::stoi(rows[0]) : -1;
}

TEST(ChangingDisk, TheLedgerKeepsUpWithFoldersThatComeAndGoAndLogsRewrittenInPlace) {
  TempDir home;
  TempDir data;
  const Date at = Date::now() - 1800;
  TestHTTPServer server;  // no login exists; nothing should be asked of it
  server.respondWith([](const RecordedRequest&) { return CannedResponse{404, {}, "{}"}; });

  LinuxEnv env;
  InMemoryUserDefaults defaults;
  Preferences preferences(defaults);
  FakeNotificationCenter notifications(env);
  FakeWidgetCenter widgets;
  EngineConfiguration configuration;
  configuration.home = home.path();
  configuration.dataHome = data.path();
  configuration.snapshotContainer = data / "container";
  configuration.securityTool = TOKVANE_SECURITY_TOOL;
  configuration.claudeBaseURL = server.baseURL();
  configuration.codexBaseURL = server.baseURL();
  std::unique_ptr<Engine> engine = buildModel({env, defaults, preferences, notifications, widgets}, configuration);
  AppModel& model = *engine->model;
  const fs::path ledger = data / "Tokvane" / "usage.sqlite";
  const auto counts = [&](int events) { return [&, events] { return seenCount(ledger) == events; }; };

  // Started on a machine with no coding tool at all.
  ASSERT_TRUE(pumpUntil(env, [&] { return model.watcher() != nullptr; }));
  EXPECT_EQ(seenCount(ledger), 0);

  // Claude Code is installed: its folders and a first log with 10 replies.
  const fs::path projects = home / ".claude" / "projects";
  const fs::path first = projects / "demo" / "a.jsonl";
  writeFile(first, replies("a", 10, at));
  EXPECT_TRUE(pumpUntil(env, counts(10))) << "a root made after start is read once it appears";

  // So is Codex, one folder at a time.
  fs::create_directories(home / ".codex");
  fs::create_directories(home / ".codex" / "sessions");
  writeFile(home / ".codex" / "sessions" / "2026" / "rollout-1.jsonl", codexLog("r1", at));
  EXPECT_TRUE(pumpUntil(env, counts(11)));

  // The whole projects folder is deleted and made again: the project comes
  // back (restored) with a second log of 10 new replies.
  fs::remove_all(projects);
  ASSERT_TRUE(pumpUntil(env, [&] { return !fs::exists(projects); }, 1));
  env.mainLoop().runUntil([] { return false; }, std::chrono::milliseconds(300));
  writeFile(first, replies("a", 10, at));
  writeFile(projects / "demo" / "b.jsonl", replies("b", 10, at));
  EXPECT_TRUE(pumpUntil(env, counts(21))) << "a root made again is watched again";

  // An editor saves the first log in place (truncated and rewritten longer,
  // the same inode): two new replies now come first.
  const uint64_t inode = inodeOf(first);
  writeFile(first, replies("c", 2, at) + replies("a", 10, at));
  ASSERT_EQ(inodeOf(first), inode);
  EXPECT_TRUE(pumpUntil(env, counts(23))) << "a log rewritten in place is read again from its start";

  // Appended to afterwards, it goes on from where that read stopped.
  testing::appendFile(first, claudeLine("d0", at));
  EXPECT_TRUE(pumpUntil(env, counts(24)));

  // Let the engine go quiet, then compare with a fresh index of the same files.
  auto quiet = [&] {
    if (model.isPublishing()) return false;
    for (ProviderID id : {ProviderID::claude, ProviderID::codex, ProviderID::grok}) {
      if (const auto state = engine->limitsService->state(id); state && state->inFlight) return false;
    }
    return true;
  };
  EXPECT_TRUE(pumpUntil(env, quiet));
  env.mainLoop().runUntil([] { return false; }, std::chrono::milliseconds(300));
  EXPECT_EQ(seenCount(ledger), 24) << "nothing counted twice";

  TempDir freshData;
  const fs::path freshLedger = freshData / "usage.sqlite";
  {
    testing::FakeEnv freshEnv;
    UsageStore store(freshLedger);
    const ProviderLocations locations(home.path());
    IndexerService indexer(store, locations, nullptr, std::make_shared<LocalCalendar>(), freshEnv);
    EXPECT_EQ(indexer.indexAll().get().newEvents, 24);
  }
  EXPECT_EQ(counted(ledger), counted(freshLedger));

  engine.reset();
  env.mainLoop().drain();
}

// A log made again, or saved in place, at exactly the size that was read
// holds no unread bytes by its size: the change the watcher reports for it
// has its bytes looked at, and it is read again from its start.
TEST(ChangingDisk, ALogRewrittenToItsOldSizeIsReadAgainWhenReportedChanged) {
  TempDir home;
  const Date at = Date::fromUnix(1767225600.0);
  const fs::path log = home / ".claude" / "projects" / "p" / "a.jsonl";
  writeFile(log, replies("a", 3, at));
  testing::FakeEnv env;
  UsageStore store(":memory:");
  const ProviderLocations locations(home.path());
  IndexerService indexer(store, locations, nullptr, std::make_shared<LocalCalendar>(), env);
  ASSERT_EQ(indexer.indexAll().get().newEvents, 3);

  const auto size = fs::file_size(log);
  writeFile(log, replies("b", 3, at));  // other ids of the same length
  ASSERT_EQ(fs::file_size(log), size);
  EXPECT_EQ(indexer.indexAll().get().newEvents, 0) << "a full run goes by the size alone";
  EXPECT_EQ(indexer.index({log.string()}).get().newEvents, 3);
  // Unchanged since, it is not read again.
  EXPECT_EQ(indexer.index({log.string()}).get().newEvents, 0);
  EXPECT_THAT(env.logLines(), ::testing::IsEmpty());
}

// Makes something on a thread whose file-system user is nobody, so that
// permissions apply even when the tests run as root; the threads it starts
// inherit that user.
template <class Make>
auto madeAsNobody(Make make) {
  decltype(make()) made;
  std::thread([&] {
    if (geteuid() == 0) {
      setfsgid(65534);
      setfsuid(65534);
    }
    made = make();
  }).join();
  return made;
}

// A folder under a log root that cannot be read is logged once, like a
// file that cannot be, and read by a later run once it can be.
TEST(ChangingDisk, AnUnreadableFolderIsLoggedOnceAndReadOnceItCanBe) {
  TempDir home;
  fs::permissions(home.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                   fs::perms::others_read | fs::perms::others_exec);
  const Date at = Date::fromUnix(1767225600.0);
  const fs::path projects = home / ".claude" / "projects";
  writeFile(projects / "open" / "a.jsonl", replies("a", 1, at));
  writeFile(projects / "locked" / "b.jsonl", replies("b", 2, at));
  const fs::path locked = fs::canonical(projects / "locked");
  fs::permissions(locked, fs::perms::none);

  testing::FakeEnv env;
  UsageStore store(":memory:");
  const ProviderLocations locations(home.path());
  auto indexer = madeAsNobody([&] {
    return std::make_unique<IndexerService>(store, locations, nullptr, std::make_shared<LocalCalendar>(), env);
  });
  const std::string line = "Tokvane: indexing " + locked.string() + " failed: open: Permission denied";

  EXPECT_EQ(indexer->indexAll().get().newEvents, 1);
  EXPECT_THAT(env.logLines(), ::testing::ElementsAre(line));
  // Once while it stays unreadable, in full runs and in change runs alike.
  EXPECT_EQ(indexer->indexAll().get().newEvents, 0);
  EXPECT_EQ(indexer->index({locked.string(), projects.string()}).get().newEvents, 0);
  EXPECT_EQ(env.logLines().size(), 1u);

  // Readable again: the watcher's run over the folder reads it.
  fs::permissions(locked, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
  EXPECT_EQ(indexer->index({locked.string()}).get().newEvents, 2);
  EXPECT_EQ(indexer->indexAll().get().newEvents, 0);
  EXPECT_EQ(env.logLines().size(), 1u);

  // Unreadable once more after a full run read it: logged again.
  fs::permissions(locked, fs::perms::none);
  EXPECT_EQ(indexer->indexAll().get().newEvents, 0);
  EXPECT_THAT(env.logLines(), ::testing::ElementsAre(line, line));
  fs::permissions(locked, fs::perms::owner_all);
}

}  // namespace
}  // namespace tokvane
