#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "TokvaneCore/Foundation/ISO8601.hpp"
#include "TokvaneCore/Foundation/KeyedJSON.hpp"
#include "TokvaneCore/Snapshot/SnapshotStore.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

// Sets (or, with none, unsets) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

std::vector<std::string> entriesOf(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  return names;
}

Snapshot otherSnapshot() {
  Snapshot snapshot = Snapshot::placeholder();
  snapshot.generatedAt = snapshot.generatedAt + 60;
  snapshot.providers.pop_back();
  snapshot.costTodayUSD = 1;
  return snapshot;
}

TEST(SnapshotStore, AppGroupContainerFollowsTheDataHome) {
  EXPECT_EQ(SnapshotStore::appGroup, "K7QX4TLM2B.app.tokvane");
  struct Case {
    const char* name;
    std::optional<std::string> xdgDataHome;
    std::optional<std::string> home;
    std::optional<fs::path> expected;
  };
  const std::vector<Case> cases = {
      {"XDG_DATA_HOME when absolute", "/data/xdg", "/home/u", fs::path("/data/xdg/K7QX4TLM2B.app.tokvane")},
      {"relative XDG_DATA_HOME falls back to HOME", "rel/xdg", "/home/u",
       fs::path("/home/u/.local/share/K7QX4TLM2B.app.tokvane")},
      {"empty XDG_DATA_HOME", "", "/home/u", fs::path("/home/u/.local/share/K7QX4TLM2B.app.tokvane")},
      {"no XDG_DATA_HOME", std::nullopt, "/home/u", fs::path("/home/u/.local/share/K7QX4TLM2B.app.tokvane")},
      {"XDG_DATA_HOME without HOME", "/data/xdg", std::nullopt, fs::path("/data/xdg/K7QX4TLM2B.app.tokvane")},
      {"relative HOME", std::nullopt, "home/u", std::nullopt},
      {"empty HOME", "relative", "", std::nullopt},
      {"neither", std::nullopt, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    ScopedEnv xdg("XDG_DATA_HOME", c.xdgDataHome);
    ScopedEnv home("HOME", c.home);
    EXPECT_EQ(SnapshotStore::appGroupContainer(), c.expected) << c.name;
    EXPECT_EQ(SnapshotStore().directory(), c.expected) << c.name;
  }
}

TEST(SnapshotStore, WritesCompactTextAndReadsItBack) {
  TempDir temp;
  const SnapshotStore store(temp.path());
  EXPECT_EQ(store.read(), std::nullopt) << "nothing written yet";

  store.write(Snapshot::placeholder());
  EXPECT_EQ(readFile(temp / "snapshot.json"), Snapshot::placeholder().encoded());
  EXPECT_EQ(store.read(), Snapshot::placeholder());

  store.write(otherSnapshot());
  EXPECT_EQ(store.read(), otherSnapshot());
  EXPECT_EQ(entriesOf(temp.path()), std::vector<std::string>{"snapshot.json"}) << "no temporary file is left";
  struct stat info {};
  ASSERT_EQ(stat((temp / "snapshot.json").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST(SnapshotStore, CreatesAMissingDirectoryFirst) {
  TempDir temp;
  const fs::path folder = temp / "share" / "K7QX4TLM2B.app.tokvane";
  SnapshotStore(folder).write(Snapshot::placeholder());
  EXPECT_TRUE(fs::is_regular_file(folder / "snapshot.json"));
  EXPECT_EQ(SnapshotStore(folder).read(), Snapshot::placeholder());
}

TEST(SnapshotStore, WithoutAContainerWritingThrowsAndCreatesNothing) {
  TempDir temp;
  ScopedEnv xdg("XDG_DATA_HOME", std::nullopt);
  ScopedEnv home("HOME", "");
  const std::string cwd = fs::current_path().string();
  fs::current_path(temp.path());  // a relative path would land here
  const SnapshotStore store;
  EXPECT_FALSE(store.directory().has_value());
  try {
    store.write(Snapshot::placeholder());
    ADD_FAILURE() << "expected noContainer";
  } catch (const SnapshotStore::StoreError& error) {
    EXPECT_EQ(error, SnapshotStore::StoreError(SnapshotStore::StoreError::Code::noContainer));
    EXPECT_EQ(error.code(), SnapshotStore::StoreError::Code::noContainer);
  }
  EXPECT_EQ(store.read(), std::nullopt);
  fs::current_path(cwd);
  EXPECT_TRUE(entriesOf(temp.path()).empty());

  EXPECT_THROW(SnapshotStore(std::nullopt).write(Snapshot::placeholder()), SnapshotStore::StoreError);
}

TEST(SnapshotStore, AFailedWriteLeavesTheOldFile) {
  TempDir temp;
  const SnapshotStore store(temp.path());
  store.write(Snapshot::placeholder());
  const std::string before = readFile(temp / "snapshot.json");

  Snapshot bad = otherSnapshot();
  bad.cost30dUSD = std::numeric_limits<double>::quiet_NaN();
  EXPECT_THROW(store.write(bad), EncodingError);
  EXPECT_EQ(readFile(temp / "snapshot.json"), before);
  EXPECT_EQ(entriesOf(temp.path()), std::vector<std::string>{"snapshot.json"});

  // The directory's place is taken by a file: the file system's error.
  writeFile(temp / "blocked", "not a folder");
  EXPECT_THROW(SnapshotStore(temp / "blocked").write(Snapshot::placeholder()), std::system_error);
  EXPECT_THROW(SnapshotStore(temp / "blocked" / "below").write(Snapshot::placeholder()), std::system_error);
  EXPECT_EQ(readFile(temp / "blocked"), "not a folder");
}

TEST(SnapshotStore, AWriteIntoAReadOnlyFolderFailsAndKeepsTheOldFile) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  TempDir temp;
  const SnapshotStore store(temp.path());
  store.write(Snapshot::placeholder());
  fs::permissions(temp.path(), fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_THROW(store.write(otherSnapshot()), std::system_error);
  fs::permissions(temp.path(), fs::perms::owner_all);
  EXPECT_EQ(store.read(), Snapshot::placeholder());
}

TEST(SnapshotStore, ADamagedFileReadsAsNoSnapshot) {
  const std::string good = Snapshot::placeholder().encoded();
  JSON withoutApproximate = Snapshot::placeholder().toJSON();
  withoutApproximate["providers"][2].erase("approximate");
  JSON withExtra = Snapshot::placeholder().toJSON();
  withExtra["theme"] = "dark";
  withExtra["providers"][0]["badge"] = 3;

  struct Case {
    const char* name;
    std::string content;
    bool readable;
  };
  const std::vector<Case> cases = {
      {"the written text", good, true},
      {"an unknown key", withExtra.dump(), true},
      {"pretty printed with a newline", Snapshot::placeholder().toJSON().dump(2) + "\n", true},
      {"truncated", good.substr(0, good.size() / 2), false},
      {"one byte short", good.substr(0, good.size() - 1), false},
      {"no approximate in a provider", withoutApproximate.dump(), false},
      {"empty", "", false},
      {"not JSON", "snapshot", false},
      {"binary", std::string("\0\xff\xfe{", 4), false},
      {"a JSON array", "[]", false},
      {"trailing garbage", good + "}", false},
      {"just over 1 MiB", good + std::string((1 << 20) - good.size() + 1, ' '), false},
      {"exactly 1 MiB", good + std::string((1 << 20) - good.size(), ' '), true},
  };
  for (const auto& c : cases) {
    TempDir temp;
    writeFile(temp / "snapshot.json", c.content);
    const auto read = SnapshotStore(temp.path()).read();
    if (c.readable) {
      EXPECT_EQ(read, Snapshot::placeholder()) << c.name;
    } else {
      EXPECT_EQ(read, std::nullopt) << c.name;
    }
  }
}

TEST(SnapshotStore, OnlyARegularFileIsRead) {
  TempDir temp;
  EXPECT_EQ(SnapshotStore(temp / "absent").read(), std::nullopt) << "a folder that does not exist";

  fs::create_directory(temp / "folder");
  fs::create_directory(temp / "folder" / "snapshot.json");
  EXPECT_EQ(SnapshotStore(temp / "folder").read(), std::nullopt);

  fs::create_directory(temp / "fifo");
  ASSERT_EQ(mkfifo((temp / "fifo" / "snapshot.json").c_str(), 0600), 0);
  EXPECT_EQ(SnapshotStore(temp / "fifo").read(), std::nullopt) << "and does not block";

  // A link to a good file is followed; a dangling one is no snapshot.
  SnapshotStore(temp / "real").write(Snapshot::placeholder());
  fs::create_directory(temp / "linked");
  fs::create_symlink(temp / "real" / "snapshot.json", temp / "linked" / "snapshot.json");
  EXPECT_EQ(SnapshotStore(temp / "linked").read(), Snapshot::placeholder());
  fs::create_directory(temp / "dangling");
  fs::create_symlink(temp / "nowhere", temp / "dangling" / "snapshot.json");
  EXPECT_EQ(SnapshotStore(temp / "dangling").read(), std::nullopt);
}

TEST(SnapshotStore, UnreadableFileIsNoSnapshot) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  TempDir temp;
  SnapshotStore(temp.path()).write(Snapshot::placeholder());
  fs::permissions(temp / "snapshot.json", fs::perms::none);
  EXPECT_EQ(SnapshotStore(temp.path()).read(), std::nullopt);
}

TEST(SnapshotStore, AReaderSeesTheOldOrTheNewSnapshotNeverAPart) {
  TempDir temp;
  const SnapshotStore store(temp.path());
  const Snapshot a = Snapshot::placeholder();
  const Snapshot b = otherSnapshot();
  store.write(a);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 60; ++i) store.write(i % 2 ? a : b);
    done = true;
  });
  int reads = 0;
  while (!done || reads == 0) {
    const auto read = store.read();
    ++reads;
    if (!read) {
      ADD_FAILURE() << "no snapshot at read " << reads;
      break;
    }
    EXPECT_TRUE(*read == a || *read == b);
  }
  writer.join();
}

}  // namespace
}  // namespace tokvane
