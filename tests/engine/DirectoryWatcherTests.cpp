#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "Tokvane/Engine/Indexing/DirectoryWatcher.hpp"
#include "platform/linux/LinuxEnv.hpp"
#include "tests/engine/support/FakeEnv.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::FakeEnv;
using testing::TempDir;

constexpr uint32_t kPlain = FileEventFlags::itemModified | FileEventFlags::itemIsFile;
constexpr uint32_t kNewFolder = FileEventFlags::itemCreated | FileEventFlags::itemIsDir;
constexpr uint32_t kMustScan = FileEventFlags::mustScanSubDirs;
constexpr uint32_t kUserDropped = FileEventFlags::userDropped;
constexpr uint32_t kKernelDropped = FileEventFlags::kernelDropped;

struct ChangedListCase {
  const char* name;
  std::vector<FileEvent> events;
  std::vector<std::string> expected;
};

const std::vector<std::string> kRoots = {"/u/.claude/projects", "/u/.grok/sessions"};

TEST(DirectoryWatcherChangedPaths, FollowsTheRulesForPlainAndRescanEvents) {
  const std::string claude = kRoots[0];
  const std::string grok = kRoots[1];
  const std::vector<ChangedListCase> cases = {
      {"empty batch", {}, {}},
      {"plain paths once each, first-seen order",
       {{"/x/a.jsonl", kPlain}, {"/x/b.jsonl", kPlain}, {"/x/a.jsonl", kPlain}},
       {"/x/a.jsonl", "/x/b.jsonl"}},
      {"trailing slashes dropped", {{"/r/sub//", kPlain}}, {"/r/sub"}},
      {"the same folder with and without a slash is one path",
       {{"/r/sub/", kNewFolder}, {"/r/sub", kNewFolder}},
       {"/r/sub"}},
      {"the root folder alone stays", {{"/", kPlain}, {"//", kPlain}}, {"/"}},
      {"plain path under no root is delivered unchanged", {{"/elsewhere/x.txt", kPlain}}, {"/elsewhere/x.txt"}},
      {"item flags alone are plain", {{"/u/.claude/projects/p/new", kNewFolder}}, {"/u/.claude/projects/p/new"}},
      {"rescan of a root's parent folder gives that root", {{"/u/.claude", kMustScan}}, {claude}},
      {"rescan of a folder inside a root gives the root", {{"/u/.claude/projects/abc", kMustScan}}, {claude}},
      {"rescan of the root itself", {{"/u/.grok/sessions", kMustScan}}, {grok}},
      {"rescan of the root with a trailing slash", {{"/u/.grok/sessions/", kMustScan}}, {grok}},
      {"rescan of a folder above both roots gives both, in root order", {{"/u", kMustScan}}, {claude, grok}},
      {"rescan of an unrelated folder gives every root", {{"/tmp/other", kMustScan}}, {claude, grok}},
      {"rescan of / gives every root", {{"/", kMustScan}}, {claude, grok}},
      {"a sibling sharing the root's prefix qualifies no root", {{"/u/.claude/projectsX", kMustScan}}, {claude, grok}},
      {"a parent sharing a prefix qualifies no root", {{"/u/.cla", kMustScan}}, {claude, grok}},
      {"events lost on our side", {{"/u/.grok/sessions/2026", kUserDropped}}, {grok}},
      {"events lost in the kernel", {{"/u/.claude/projects", kKernelDropped}}, {claude}},
      {"rescan flags among item flags", {{"/u/.grok/sessions", kMustScan | kNewFolder}}, {grok}},
      {"plain paths and roots share one list without repeats",
       {{"/u/.grok/sessions/a.json", kPlain},
        {"/u/.grok/sessions", kMustScan},
        {"/u/.grok/sessions", kPlain},
        {"/u/.claude/projects/abc", kUserDropped},
        {"/u/.grok/sessions/a.json", kPlain}},
       {"/u/.grok/sessions/a.json", grok, claude}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DirectoryWatcher::changedPaths(c.events, kRoots), c.expected) << c.name;
  }
}

TEST(DirectoryWatcherChangedPaths, RescanWithoutRootsGivesNothing) {
  EXPECT_THAT(DirectoryWatcher::changedPaths({{"/u", kMustScan}}, {}), IsEmpty());
  EXPECT_THAT(DirectoryWatcher::changedPaths({{"/u/a", kPlain}}, {}), ElementsAre("/u/a"));
}

// Records what the watcher hands over.
struct Received {
  std::vector<std::vector<std::string>> lists;
  DirectoryWatcher::ChangeHandler handler() {
    return [this](const std::vector<std::string>& paths) { lists.push_back(paths); };
  }
};

TEST(DirectoryWatcher, StartsOneStreamOverThePathsInOrder) {
  FakeEnv env;
  Received received;
  DirectoryWatcher watcher({"/u/.claude/projects", "/u/.codex/sessions"}, 2.0, received.handler(), env);
  EXPECT_FALSE(watcher.isWatching());
  EXPECT_EQ(env.streamsMade(), 0);

  watcher.start();
  watcher.start();
  EXPECT_TRUE(watcher.isWatching());
  EXPECT_EQ(env.streamsMade(), 1);
  const auto stream = env.lastStream();
  EXPECT_THAT(stream->roots, ElementsAre("/u/.claude/projects", "/u/.codex/sessions"));
  EXPECT_DOUBLE_EQ(stream->latency, 2.0);
}

TEST(DirectoryWatcher, AnEmptyPathListNeverWatches) {
  FakeEnv env;
  Received received;
  DirectoryWatcher watcher({}, 2.0, received.handler(), env);
  watcher.start();
  EXPECT_FALSE(watcher.isWatching());
  EXPECT_EQ(env.streamsMade(), 0);
}

// An environment whose first stream requests fail, one by returning none and
// one by throwing; later requests go to the fake.
class FlakyStreamEnv final : public Env {
 public:
  void postToMain(std::function<void()> work) override { fake.postToMain(std::move(work)); }
  bool isMainThread() const override { return fake.isMainThread(); }
  Date now() override { return fake.now(); }
  std::shared_ptr<Cancellable> scheduleOnMain(double delay, std::function<void()> work) override {
    return fake.scheduleOnMain(delay, std::move(work));
  }
  void runInBackground(std::function<void()> work) override { fake.runInBackground(std::move(work)); }
  void log(std::string_view line) override { fake.log(line); }
  std::unique_ptr<FileEventStream> watchFiles(const std::vector<std::string>& roots, double latency,
                                              FileEventCallback onBatch) override {
    ++requests;
    if (requests == 1) return nullptr;
    if (requests == 2) throw std::runtime_error("no thread");
    return fake.watchFiles(roots, latency, std::move(onBatch));
  }

  FakeEnv fake;
  int requests = 0;
};

TEST(DirectoryWatcher, AFailedStartIsQuietAndALaterStartTriesAgain) {
  FlakyStreamEnv env;
  Received received;
  DirectoryWatcher watcher({"/u/.claude/projects"}, 2.0, received.handler(), env);
  watcher.start();
  EXPECT_FALSE(watcher.isWatching());
  watcher.start();
  EXPECT_FALSE(watcher.isWatching());
  watcher.start();
  EXPECT_TRUE(watcher.isWatching());
  watcher.start();
  EXPECT_EQ(env.requests, 3);
  EXPECT_THAT(env.fake.logLines(), IsEmpty());
}

TEST(DirectoryWatcher, HandsOverOnlyNonEmptyLists) {
  FakeEnv env;
  Received received;
  DirectoryWatcher watcher({"/u/.claude/projects"}, 2.0, received.handler(), env);
  watcher.start();
  const auto stream = env.lastStream();

  stream->onBatch({});
  EXPECT_THAT(received.lists, IsEmpty());

  stream->onBatch({{"/u/.claude/projects/p/a.jsonl", kPlain}, {"/u/.claude/projects/p/a.jsonl", kPlain}});
  ASSERT_EQ(received.lists.size(), 1u);
  EXPECT_THAT(received.lists[0], ElementsAre("/u/.claude/projects/p/a.jsonl"));
}

TEST(DirectoryWatcher, RootsAreCanonicalAndFixedAtTheFirstBatch) {
  TempDir dir;
  const fs::path real = fs::canonical(dir.path()) / "real";
  fs::create_directories(real);
  const fs::path link = fs::canonical(dir.path()) / "link";
  fs::create_directory_symlink(real, link);
  const fs::path missing = fs::canonical(dir.path()) / "missing" / ".." / "gone";

  FakeEnv env;
  Received received;
  // A link and a relative component resolve; a path that cannot be resolved
  // stays as given.
  DirectoryWatcher watcher({link / ".", missing}, 2.0, received.handler(), env);
  watcher.start();
  const auto stream = env.lastStream();
  stream->onBatch({{"/", kKernelDropped}});
  ASSERT_EQ(received.lists.size(), 1u);
  EXPECT_THAT(received.lists[0], ElementsAre(real.string(), missing.string()));

  // Moving the link elsewhere later changes nothing: the roots were fixed.
  fs::remove(link);
  fs::create_directories(dir.path() / "other");
  fs::create_directory_symlink(dir.path() / "other", link);
  stream->onBatch({{(real / "p").string(), kMustScan}});
  ASSERT_EQ(received.lists.size(), 2u);
  EXPECT_THAT(received.lists[1], ElementsAre(real.string()));
}

TEST(DirectoryWatcher, AFailingReceiverIsLoggedAndTheNextBatchStillArrives) {
  FakeEnv env;
  int calls = 0;
  DirectoryWatcher watcher(
      {"/u/.claude/projects"}, 2.0,
      [&](const std::vector<std::string>&) {
        if (++calls == 1) throw std::runtime_error("queue full");
      },
      env);
  watcher.start();
  const auto stream = env.lastStream();
  stream->onBatch({{"/u/.claude/projects/a.jsonl", kPlain}});
  stream->onBatch({{"/u/.claude/projects/b.jsonl", kPlain}});
  EXPECT_EQ(calls, 2);
  EXPECT_THAT(env.logLines(), ElementsAre("Tokvane: handling changed log files failed: queue full"));
}

TEST(DirectoryWatcher, DestroyingTheWatcherStopsItsStream) {
  FakeEnv env;
  Received received;
  auto watcher = std::make_unique<DirectoryWatcher>(std::vector<fs::path>{"/u/.claude/projects"}, 2.0,
                                                    received.handler(), env);
  watcher->start();
  const auto stream = env.lastStream();
  EXPECT_TRUE(stream->alive);
  watcher.reset();
  EXPECT_FALSE(stream->alive);
}

// The watcher over the real inotify stream: changes under a linked root
// arrive on the watcher's thread, by their canonical paths.
TEST(DirectoryWatcher, ReportsRealChangesOnItsOwnThread) {
  TempDir dir;
  const fs::path base = fs::canonical(dir.path());
  fs::create_directories(base / "real");
  fs::create_directory_symlink(base / "real", base / "link");

  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<std::vector<std::string>> lists;
  std::string threadName;
  LinuxEnv env;
  DirectoryWatcher watcher(
      {base / "link"}, 0.5,
      [&](const std::vector<std::string>& paths) {
        char name[32] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        std::lock_guard lock(mutex);
        lists.push_back(paths);
        threadName = name;
        arrived.notify_all();
      },
      env);
  watcher.start();
  ASSERT_TRUE(watcher.isWatching());

  testing::writeFile(base / "real" / "a.jsonl", "{}\n");
  testing::appendFile(base / "real" / "a.jsonl", "{}\n");
  testing::writeFile(base / "real" / "b.jsonl", "{}\n");
  std::unique_lock lock(mutex);
  ASSERT_TRUE(arrived.wait_for(lock, std::chrono::seconds(5), [&] { return !lists.empty(); }));
  EXPECT_THAT(lists[0], ElementsAre((base / "real" / "a.jsonl").string(), (base / "real" / "b.jsonl").string()));
  EXPECT_EQ(threadName, "app.tokvane.dir");
}

}  // namespace
}  // namespace tokvane
