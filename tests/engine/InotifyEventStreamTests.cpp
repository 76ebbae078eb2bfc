#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/fsuid.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/InotifyEventStream.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::appendFile;
using testing::TempDir;
using testing::writeFile;

constexpr double kLatency = 0.2;

// Gathers the batches a stream delivers on its own thread, and the name of
// the thread that delivered them.
class Batches {
 public:
  FileEventCallback callback() {
    return [this](const std::vector<FileEvent>& batch) {
      char name[32] = {};
      pthread_getname_np(pthread_self(), name, sizeof name);
      std::lock_guard lock(mutex_);
      batches_.push_back(batch);
      threadNames_.insert(name);
      changed_.notify_all();
    };
  }

  // Waits (bounded) until some delivered event names `path` with all of
  // `flags`.
  bool waitForPath(const std::string& path, std::chrono::milliseconds timeout = 5s, uint32_t flags = 0) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return sawLocked(path, flags); });
  }

  bool saw(const std::string& path) const {
    std::lock_guard lock(mutex_);
    return sawLocked(path);
  }

  std::vector<std::vector<FileEvent>> all() const {
    std::lock_guard lock(mutex_);
    return batches_;
  }

  std::set<std::string> threadNames() const {
    std::lock_guard lock(mutex_);
    return threadNames_;
  }

  std::vector<FileEvent> rescans() const {
    std::vector<FileEvent> found;
    for (const auto& batch : all()) {
      for (const auto& event : batch) {
        if (event.flags & (FileEventFlags::mustScanSubDirs | FileEventFlags::userDropped |
                           FileEventFlags::kernelDropped)) {
          found.push_back(event);
        }
      }
    }
    return found;
  }

 private:
  bool sawLocked(const std::string& path, uint32_t flags = 0) const {
    for (const auto& batch : batches_) {
      for (const auto& event : batch) {
        if (event.path == path && (event.flags & flags) == flags) return true;
      }
    }
    return false;
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::vector<FileEvent>> batches_;
  std::set<std::string> threadNames_;
};

// A temporary folder with a watched root inside it and room beside the root
// for folders that are moved in or out.
class InotifyEventStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::canonical(dir_.path());
    root_ = base_ / "root";
    fs::create_directories(root_);
  }

  std::unique_ptr<InotifyEventStream> startStream(double latency = kLatency) {
    auto stream = InotifyEventStream::start({root_.string()}, latency, batches_.callback());
    EXPECT_NE(stream, nullptr);
    return stream;
  }

  std::string at(const std::string& relative) const { return (root_ / relative).string(); }

  TempDir dir_;
  fs::path base_;
  fs::path root_;
  Batches batches_;
};

TEST_F(InotifyEventStreamTest, ABurstOfWritesArrivesAsOneBatchWithEachPathOnce) {
  // A wider window, so that a busy machine does not split the burst.
  auto stream = startStream(0.5);
  writeFile(root_ / "a.jsonl", "{}\n");
  writeFile(root_ / "b.jsonl", "{}\n");
  appendFile(root_ / "a.jsonl", "{}\n");
  appendFile(root_ / "b.jsonl", "{}\n");
  ASSERT_TRUE(batches_.waitForPath(at("b.jsonl")));

  const auto first = batches_.all().front();
  std::vector<std::string> paths;
  for (const auto& event : first) paths.push_back(event.path);
  EXPECT_EQ(paths, (std::vector<std::string>{at("a.jsonl"), at("b.jsonl")}));
  // The flags of all the path's events are merged into its one event.
  const uint32_t flags = first.front().flags;
  EXPECT_TRUE(flags & FileEventFlags::itemCreated);
  EXPECT_TRUE(flags & FileEventFlags::itemModified);
  EXPECT_TRUE(flags & FileEventFlags::itemIsFile);
  EXPECT_EQ(batches_.threadNames(), (std::set<std::string>{InotifyEventStream::threadName}));
  EXPECT_STREQ(InotifyEventStream::threadName, "app.tokvane.dir");
}

TEST_F(InotifyEventStreamTest, AFolderCreatedLaterIsReportedAndWatched) {
  auto stream = startStream();
  fs::create_directory(root_ / "sub");
  ASSERT_TRUE(batches_.waitForPath(at("sub")));
  writeFile(root_ / "sub" / "later.jsonl", "{}\n");
  EXPECT_TRUE(batches_.waitForPath(at("sub/later.jsonl")));
}

TEST_F(InotifyEventStreamTest, ANestedTreeCreatedAtOnceIsNotMissed) {
  auto stream = startStream();
  fs::create_directories(root_ / "a" / "b" / "c");
  writeFile(root_ / "a" / "b" / "c" / "first.jsonl", "{}\n");
  // The file may land before its folder is watched: the new top folder is
  // reported so that the receiver scans it.
  ASSERT_TRUE(batches_.waitForPath(at("a")));
  // Every level is watched from then on.
  appendFile(root_ / "a" / "b" / "c" / "first.jsonl", "{}\n");
  EXPECT_TRUE(batches_.waitForPath(at("a/b/c/first.jsonl")));
  EXPECT_TRUE(batches_.rescans().empty());
}

TEST_F(InotifyEventStreamTest, AFolderMovedInIsReportedAndWatched) {
  writeFile(base_ / "outside" / "proj" / "old.jsonl", "{}\n");
  auto stream = startStream();
  fs::rename(base_ / "outside" / "proj", root_ / "proj");
  ASSERT_TRUE(batches_.waitForPath(at("proj")));
  appendFile(root_ / "proj" / "old.jsonl", "{}\n");
  EXPECT_TRUE(batches_.waitForPath(at("proj/old.jsonl")));
}

TEST_F(InotifyEventStreamTest, AFolderRenamedInsideTheRootIsWatchedUnderItsNewName) {
  writeFile(root_ / "old" / "deep" / "f.jsonl", "{}\n");
  auto stream = startStream();
  fs::rename(root_ / "old", root_ / "new");
  ASSERT_TRUE(batches_.waitForPath(at("new")));
  appendFile(root_ / "new" / "deep" / "f.jsonl", "{}\n");
  EXPECT_TRUE(batches_.waitForPath(at("new/deep/f.jsonl")));
  EXPECT_FALSE(batches_.saw(at("old/deep/f.jsonl")));
}

TEST_F(InotifyEventStreamTest, AFolderMovedOutIsNoLongerReportedUnderItsOldPath) {
  writeFile(root_ / "proj" / "f.jsonl", "{}\n");
  fs::create_directories(base_ / "outside");
  auto stream = startStream();
  fs::rename(root_ / "proj", base_ / "outside" / "proj");
  ASSERT_TRUE(batches_.waitForPath(at("proj")));
  appendFile(base_ / "outside" / "proj" / "f.jsonl", "{}\n");
  writeFile(root_ / "marker.jsonl", "{}\n");
  ASSERT_TRUE(batches_.waitForPath(at("marker.jsonl")));
  // Events are handled in order, so the write outside came in before the
  // marker's batch was delivered.
  EXPECT_FALSE(batches_.saw(at("proj/f.jsonl")));
}

TEST_F(InotifyEventStreamTest, RemovingAWatchedFolderDoesNotBreakTheStream) {
  writeFile(root_ / "sub" / "deep" / "f.jsonl", "{}\n");
  auto stream = startStream();
  fs::remove_all(root_ / "sub");
  ASSERT_TRUE(batches_.waitForPath(at("sub"), 5s, FileEventFlags::itemRemoved));
  writeFile(root_ / "after.jsonl", "{}\n");
  EXPECT_TRUE(batches_.waitForPath(at("after.jsonl")));
  // A folder made again under the same name is watched again (once its
  // creation was reported, not before).
  fs::create_directory(root_ / "sub");
  ASSERT_TRUE(batches_.waitForPath(at("sub"), 5s, FileEventFlags::itemCreated));
  writeFile(root_ / "sub" / "again.jsonl", "{}\n");
  EXPECT_TRUE(batches_.waitForPath(at("sub/again.jsonl")));
  EXPECT_TRUE(batches_.rescans().empty());
}

TEST_F(InotifyEventStreamTest, FoldersThatVanishAtOnceAskForNoRescan) {
  auto stream = startStream();
  // Tools make and remove scratch folders; one gone before its watch could
  // be added has nothing to scan, and must not send the whole root to be
  // read again.
  for (int i = 0; i < 200; ++i) {
    const auto scratch = root_ / ("scratch" + std::to_string(i));
    fs::create_directories(scratch / "inner");
    fs::remove_all(scratch);
  }
  writeFile(root_ / "marker.jsonl", "{}\n");
  ASSERT_TRUE(batches_.waitForPath(at("marker.jsonl")));
  EXPECT_TRUE(batches_.rescans().empty());
}

// A tool installed after Tokvane: its root, and folders above it, do not
// exist at start. The root is reported once it is made, by its own path so
// that the receiver scans it, and watched from then on.
TEST_F(InotifyEventStreamTest, AMissingRootIsWaitedForAndWatchedOnceItAppears) {
  for (const char* made : {"tool/logs", "tool/logs/deep/root"}) {
    SCOPED_TRACE(made);
    Batches batches;
    const fs::path tool = base_ / "tool";
    fs::remove_all(tool);
    const fs::path missing = base_ / made;
    auto stream = InotifyEventStream::start({missing.string(), root_.string()}, kLatency, batches.callback());
    ASSERT_NE(stream, nullptr);
    writeFile(root_ / "a.jsonl", "{}\n");
    ASSERT_TRUE(batches.waitForPath(at("a.jsonl")));
    EXPECT_FALSE(batches.saw(missing.string()));

    // Made in steps, the way a tool makes its folders, with a log at once.
    fs::create_directory(tool);
    fs::create_directories(missing);
    writeFile(missing / "first.jsonl", "{}\n");
    ASSERT_TRUE(batches.waitForPath(missing.string(), 5s, FileEventFlags::itemCreated));
    appendFile(missing / "first.jsonl", "{}\n");
    EXPECT_TRUE(batches.waitForPath((missing / "first.jsonl").string(), 5s, FileEventFlags::itemModified));
    EXPECT_TRUE(batches.rescans().empty());
  }
}

// A root deleted (or moved away) and made again while the program runs is
// waited for again, reported when it is back, and watched once more; so is
// one whose parent folder went with it.
TEST_F(InotifyEventStreamTest, ARootRemovedAndMadeAgainIsWatchedAgain) {
  const fs::path tool = base_ / "tool";
  const fs::path logs = tool / "logs";
  struct Case {
    const char* name;
    std::function<void()> remove;
  };
  const Case cases[] = {
      {"the root deleted", [&] { fs::remove_all(logs); }},
      {"its parent deleted", [&] { fs::remove_all(tool); }},
      {"the root moved away", [&] { fs::rename(logs, base_ / ("moved-" + std::to_string(::rand()))); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(tool);
    writeFile(logs / "proj" / "old.jsonl", "{}\n");
    Batches batches;
    auto stream = InotifyEventStream::start({logs.string()}, kLatency, batches.callback());
    ASSERT_NE(stream, nullptr);

    c.remove();
    ASSERT_TRUE(batches.waitForPath(logs.string()));  // its removal or its move
    writeFile(logs / "new" / "again.jsonl", "{}\n");
    ASSERT_TRUE(batches.waitForPath(logs.string(), 5s, FileEventFlags::itemCreated));
    appendFile(logs / "new" / "again.jsonl", "{}\n");
    EXPECT_TRUE(batches.waitForPath((logs / "new" / "again.jsonl").string()));
    EXPECT_TRUE(batches.rescans().empty());
  }
}

// Starts a stream on a thread whose file-system user is nobody (its own
// thread inherits it), so that permissions apply even when run as root.
std::unique_ptr<InotifyEventStream> startAsNobody(const std::vector<std::string>& roots, Batches& batches) {
  std::unique_ptr<InotifyEventStream> stream;
  std::thread([&] {
    if (geteuid() == 0) {
      setfsgid(65534);
      setfsuid(65534);
    }
    stream = InotifyEventStream::start(roots, kLatency, batches.callback());
  }).join();
  return stream;
}

// A folder that could not be watched for want of permission is watched and
// reported once its permissions allow it; a root in that state too.
TEST_F(InotifyEventStreamTest, AFolderThatCouldNotBeWatchedIsWatchedOnceItsPermissionsAllow) {
  const auto readable = fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec;
  fs::permissions(base_, readable);
  fs::permissions(root_, readable);
  const fs::path lockedRoot = base_ / "locked-root";
  const fs::path locked = root_ / "locked";
  writeFile(locked / "a.jsonl", "{}\n");
  writeFile(lockedRoot / "b.jsonl", "{}\n");
  fs::permissions(locked, fs::perms::none);
  fs::permissions(lockedRoot, fs::perms::none);
  Batches batches;
  auto stream = startAsNobody({root_.string(), lockedRoot.string()}, batches);
  ASSERT_NE(stream, nullptr);
  ASSERT_TRUE(batches.waitForPath(root_.string(), 5s, FileEventFlags::mustScanSubDirs));
  ASSERT_TRUE(batches.waitForPath(lockedRoot.string(), 5s, FileEventFlags::mustScanSubDirs));

  fs::permissions(locked, readable);
  ASSERT_TRUE(batches.waitForPath(locked.string(), 5s, FileEventFlags::itemModified | FileEventFlags::itemIsDir));
  appendFile(locked / "a.jsonl", "{}\n");
  EXPECT_TRUE(batches.waitForPath((locked / "a.jsonl").string(), 5s, FileEventFlags::itemModified));

  fs::permissions(lockedRoot, readable);
  ASSERT_TRUE(batches.waitForPath(lockedRoot.string(), 5s, FileEventFlags::itemCreated));
  appendFile(lockedRoot / "b.jsonl", "{}\n");
  EXPECT_TRUE(batches.waitForPath((lockedRoot / "b.jsonl").string(), 5s, FileEventFlags::itemModified));
}

TEST_F(InotifyEventStreamTest, ARootThatCannotBeWatchedIsReportedForARescan) {
  writeFile(base_ / "not-a-folder", "x");
  const auto unwatchable = (base_ / "not-a-folder").string();
  auto stream = InotifyEventStream::start({unwatchable, root_.string()}, kLatency, batches_.callback());
  ASSERT_NE(stream, nullptr);
  ASSERT_TRUE(batches_.waitForPath(unwatchable, 5s, FileEventFlags::mustScanSubDirs));
  writeFile(root_ / "a.jsonl", "{}\n");
  EXPECT_TRUE(batches_.waitForPath(at("a.jsonl")));
}

TEST_F(InotifyEventStreamTest, RootsAreReportedByTheirCanonicalPaths) {
  fs::create_symlink(root_, base_ / "link");
  auto stream =
      InotifyEventStream::start({(base_ / "link" / ".").string()}, kLatency, batches_.callback());
  ASSERT_NE(stream, nullptr);
  writeFile(root_ / "a.jsonl", "{}\n");
  EXPECT_TRUE(batches_.waitForPath(at("a.jsonl")));
}

TEST_F(InotifyEventStreamTest, NothingArrivesAfterTheStreamIsDestroyed) {
  auto stream = startStream();
  writeFile(root_ / "a.jsonl", "{}\n");
  // Destroyed inside its batch window: the pending batch is dropped with the
  // thread, and the callback is never called once the destructor returned.
  stream.reset();
  const auto delivered = batches_.all().size();
  writeFile(root_ / "b.jsonl", "{}\n");
  // Proving that nothing comes needs a wait: two batch windows.
  EXPECT_FALSE(batches_.waitForPath(at("b.jsonl"), std::chrono::milliseconds(static_cast<int>(2000 * kLatency))));
  EXPECT_EQ(batches_.all().size(), delivered);
}

}  // namespace
}  // namespace tokvane
