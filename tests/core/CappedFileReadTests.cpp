#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "TokvaneCore/Foundation/CappedFileRead.hpp"
#include "TokvaneCore/Foundation/FileDescriptor.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::writeFile;
using Outcome = CappedFileRead::Outcome;

TEST(CappedFileRead, ReadsWholeFilesUpToTheCapAndRefusesLargerOnesFromTheirSize) {
  struct Case {
    const char* name;
    int64_t size;
    int64_t cap;
    Outcome outcome;
  };
  const Case cases[] = {
      {"empty", 0, 10, Outcome::read},
      {"below the cap", 9, 10, Outcome::read},
      {"at the cap", 10, 10, Outcome::read},
      {"one byte over", 11, 10, Outcome::tooLarge},
      {"a cap of nothing", 1, 0, Outcome::tooLarge},
      // Sparse: refused from its size, nothing of it is read.
      {"eight gigabytes against a mebibyte", int64_t{8} << 30, 1 << 20, Outcome::tooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const fs::path path = dir / "file";
    std::string bytes;
    for (int64_t i = 0; i < std::min<int64_t>(c.size, 64); ++i) bytes.push_back(static_cast<char>('a' + i % 26));
    writeFile(path, bytes);
    fs::resize_file(path, static_cast<std::uintmax_t>(c.size));
    const FileDescriptor file = FileDescriptor::openForReading(path);
    ASSERT_TRUE(file.valid());
    const CappedFileRead read = CappedFileRead::from(file, c.cap);
    EXPECT_EQ(read.outcome, c.outcome);
    EXPECT_EQ(read.size, c.size);
    if (c.outcome == Outcome::read) {
      EXPECT_EQ(read.bytes, bytes);
    } else {
      EXPECT_EQ(read.bytes, "");
    }
  }
}

TEST(CappedFileRead, RefusesWhatIsNotARegularFileUnlessAskedNotTo) {
  TempDir dir;
  const fs::path pipe = dir / "pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  // A named pipe opens at once (no writer needed) and is never waited on.
  const FileDescriptor file = FileDescriptor::openForReading(pipe);
  ASSERT_TRUE(file.valid());
  EXPECT_EQ(CappedFileRead::from(file, 100).outcome, Outcome::notRegular);

  const FileDescriptor folder = FileDescriptor::openForReading(dir.path());
  ASSERT_TRUE(folder.valid());
  EXPECT_EQ(CappedFileRead::from(folder, 100).outcome, Outcome::notRegular);
  const CappedFileRead anyway = CappedFileRead::from(folder, 1 << 20, false);
  EXPECT_EQ(anyway.outcome, Outcome::failed);
  EXPECT_EQ(anyway.error, EISDIR);
}

TEST(FileDescriptor, OwnsOneDescriptorAndClosesItOnce) {
  TempDir dir;
  writeFile(dir / "a", "x");
  EXPECT_FALSE(FileDescriptor::openForReading(dir / "missing").valid());
  EXPECT_EQ(errno, ENOENT);

  int raw = -1;
  {
    FileDescriptor first = FileDescriptor::openForReading(dir / "a");
    ASSERT_TRUE(first.valid());
    raw = first.get();
    FileDescriptor second = std::move(first);
    EXPECT_FALSE(first.valid());  // NOLINT(bugprone-use-after-move): moved-from is empty
    EXPECT_EQ(second.get(), raw);
    EXPECT_NE(::fcntl(raw, F_GETFD), -1);
  }
  EXPECT_EQ(::fcntl(raw, F_GETFD), -1);
  EXPECT_EQ(errno, EBADF);
}

}  // namespace
}  // namespace tokvane
