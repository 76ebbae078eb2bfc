// Listing a tool's log tree on several threads gives exactly what the walk
// on one thread gives: the same files, in the same order.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Tokvane/Engine/Indexing/LogFileTree.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::writeFile;

std::vector<std::string> paths(const std::vector<LogFile>& files) {
  std::vector<std::string> out;
  for (const LogFile& file : files) out.push_back(file.path + " " + std::to_string(file.size));
  return out;
}

class LogFileTreeOnThreads : public ::testing::TestWithParam<int> {};

TEST_P(LogFileTreeOnThreads, ListsWhatTheWalkOnOneThreadLists) {
  TempDir dir;
  const fs::path root = dir / "projects";
  // Folders deep and wide, names that sort around one another ("a" < "a-b"
  // < "a.jsonl" < "ab"), hidden entries, other files, and a link below the
  // top (never followed).
  for (int project = 0; project < 12; ++project) {
    const fs::path folder = root / ("p" + std::to_string(project));
    for (int file = 0; file < project; ++file) {
      writeFile(folder / (std::to_string(file) + ".jsonl"), std::string(static_cast<size_t>(file + 1), 'x'));
    }
    writeFile(folder / "deep" / "er" / "still" / "log.jsonl", "y");
  }
  writeFile(root / "a" / "1.jsonl", "1");
  writeFile(root / "a-b" / "2.jsonl", "22");
  writeFile(root / "a.jsonl", "333");
  writeFile(root / "ab" / "3.jsonl", "4444");
  writeFile(root / ".hidden" / "4.jsonl", "hidden folder");
  writeFile(root / "p1" / ".5.jsonl", "hidden file");
  writeFile(root / "p1" / "notes.txt", "not a log");
  fs::create_directories(root / "empty" / "and" / "deeper");
  fs::create_directory_symlink(root / "p3", root / "p1" / "linked");

  const std::vector<LogFile> serial = LogFileTree::candidates(root.string(), ProviderID::claude);
  ASSERT_EQ(serial.size(), 66u + 12u + 4u);
  EXPECT_EQ(paths(LogFileTree::candidates(root.string(), ProviderID::claude, nullptr, GetParam())), paths(serial));

  // Grok's tree: one usage file in each of many session folders.
  const fs::path sessions = dir / "sessions";
  for (int session = 0; session < 40; ++session) {
    writeFile(sessions / ("s" + std::to_string(session)) / "usage.json", "{}");
  }
  EXPECT_EQ(paths(LogFileTree::candidates(sessions.string(), ProviderID::grok, nullptr, GetParam())),
            paths(LogFileTree::candidates(sessions.string(), ProviderID::grok)));
}

TEST_P(LogFileTreeOnThreads, AMissingFolderOrAFileGivesNothing) {
  TempDir dir;
  writeFile(dir / "file.jsonl", "x");
  std::vector<LogFileTree::UnreadableFolder> unreadable;
  for (const fs::path& top : {dir / "missing", dir / "file.jsonl"}) {
    SCOPED_TRACE(top.string());
    EXPECT_TRUE(LogFileTree::candidates(top.string(), ProviderID::claude, &unreadable, GetParam()).empty());
  }
  EXPECT_TRUE(unreadable.empty());
}

INSTANTIATE_TEST_SUITE_P(Threads, LogFileTreeOnThreads, ::testing::Values(1, 2, 4, 16),
                         [](const ::testing::TestParamInfo<int>& info) { return std::to_string(info.param); });

}  // namespace
}  // namespace tokvane
