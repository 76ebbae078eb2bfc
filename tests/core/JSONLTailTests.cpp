#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <simdjson.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <system_error>
#include <vector>

#include "TokvaneCore/Logs/JSONLTail.hpp"
#include "TokvaneCore/Parsers/LogJSON.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

class JSONLTailTest : public ::testing::Test {
 protected:
  fs::path log(std::string_view name = "session.jsonl") const { return dir_ / name; }

  static uint64_t inodeOf(const fs::path& path) {
    struct stat status;
    if (::stat(path.c_str(), &status) != 0) throw std::runtime_error("stat failed");
    return status.st_ino;
  }

  // Reads from `cursor` until the end of the file, collecting every line.
  static JSONLTail::Result readToEnd(const fs::path& path, std::optional<FileCursor> cursor, int64_t maxBytes,
                                     int64_t lineCap = JSONLTail::defaultLineCap) {
    JSONLTail::Result all;
    for (int call = 0; call < 10000; ++call) {
      auto result = JSONLTail::read(path, cursor, maxBytes, lineCap);
      all.lines.insert(all.lines.end(), result.lines.begin(), result.lines.end());
      all.skipped.insert(all.skipped.end(), result.skipped.begin(), result.skipped.end());
      all.reset = all.reset || result.reset;
      all.cursor = result.cursor;
      cursor = result.cursor;
      if (result.atEOF) {
        all.atEOF = true;
        return all;
      }
    }
    ADD_FAILURE() << "no end of file after 10000 reads";
    return all;
  }

  testing::TempDir dir_;
};

TEST_F(JSONLTailTest, SplitsLinesAndDropsOneTrailingCarriageReturn) {
  struct Case {
    const char* name;
    std::string content;
    Lines lines;
    int64_t offset;
  };
  const Case cases[] = {
      {"empty file", "", {}, 0},
      {"LF", "a\nbc\n", {"a", "bc"}, 5},
      {"CRLF", "a\r\nbc\r\n", {"a", "bc"}, 7},
      {"mixed endings", "a\r\nb\nc\r\n", {"a", "b", "c"}, 8},
      {"line of only CR", "a\n\r\nb\n", {"a", "b"}, 6},
      {"double CR keeps one", "a\r\r\n", {"a\r"}, 4},
      {"CR inside a line stays", "a\rb\n", {"a\rb"}, 4},
      {"runs of LF", "\n\n\na\n\n\nb\n\n", {"a", "b"}, 10},
      {"unfinished last line", "a\nbc", {"a"}, 2},
      {"only an unfinished line", "abc", {}, 0},
      {"lone CR without LF", "\r", {}, 0},
      {"NUL bytes are kept", std::string("a\0b\n", 4), {std::string("a\0b", 3)}, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::writeFile(log(), c.content);
    const auto result = JSONLTail::read(log(), std::nullopt, 1024);
    EXPECT_EQ(result.lines, c.lines);
    EXPECT_EQ(result.cursor.offset, c.offset);
    EXPECT_EQ(result.cursor.path, log().string());
    EXPECT_EQ(result.cursor.inode, inodeOf(log()));
    // Nothing but the fingerprint of the bytes before the offset, once it moved.
    EXPECT_EQ(result.cursor.context.size(), c.offset > 0 ? 1u : 0u);
    EXPECT_EQ(result.cursor.context.count(JSONLTail::fingerprintKey), c.offset > 0 ? 1u : 0u);
    EXPECT_FALSE(result.reset);
    EXPECT_TRUE(result.atEOF);
    EXPECT_THAT(result.skipped, IsEmpty());
  }
}

// Whatever the chunk size, reading to the end yields the same lines and
// stops at the same offset, through the copying call and a reused reader.
TEST_F(JSONLTailTest, EveryChunkSizeYieldsTheSameLines) {
  const std::string content = "{\"a\":1}\r\n\n\nbb\n" + std::string(37, 'x') + "\r\r\nc\nunfinished";
  const Lines expected = {"{\"a\":1}", "bb", std::string(37, 'x') + "\r", "c"};
  const auto expectedOffset = static_cast<int64_t>(content.size() - std::string_view("unfinished").size());
  testing::writeFile(log(), content);
  JSONLTail::Reader reader;
  for (const int64_t maxBytes : {1, 2, 3, 5, 8, 13, 38, 39, 64, 4096}) {
    SCOPED_TRACE(maxBytes);
    const auto copied = readToEnd(log(), std::nullopt, maxBytes);
    EXPECT_EQ(copied.lines, expected);
    EXPECT_EQ(copied.cursor.offset, expectedOffset);

    Lines viewed;
    std::optional<FileCursor> cursor;
    for (int call = 0; call < 1000; ++call) {
      const auto& chunk = reader.read(log(), cursor, maxBytes);
      viewed.insert(viewed.end(), chunk.lines.begin(), chunk.lines.end());
      cursor = chunk.cursor;
      if (chunk.atEOF) break;
    }
    EXPECT_EQ(viewed, expected);
    EXPECT_EQ(cursor->offset, expectedOffset);
  }
}

TEST_F(JSONLTailTest, ChunkSmallerThanTheFirstLineGrowsUntilALineFeedFits) {
  // 4 bytes hold no line feed; the doubled chunk of 8 holds two lines.
  testing::writeFile(log(), "abcde\nf\nghijklmnop\nqrstu\n");
  const auto first = JSONLTail::read(log(), std::nullopt, 4);
  EXPECT_THAT(first.lines, ElementsAre("abcde", "f"));
  EXPECT_EQ(first.cursor.offset, 8);
  EXPECT_FALSE(first.atEOF);

  const auto second = JSONLTail::read(log(), first.cursor, 4);
  EXPECT_THAT(second.lines, ElementsAre("ghijklmnop"));
  EXPECT_EQ(second.cursor.offset, 19);
  EXPECT_FALSE(second.atEOF);  // the grown chunk of 16 came back full

  const auto third = JSONLTail::read(log(), second.cursor, 4);
  EXPECT_THAT(third.lines, ElementsAre("qrstu"));
  EXPECT_EQ(third.cursor.offset, 25);
  EXPECT_TRUE(third.atEOF);
}

TEST_F(JSONLTailTest, ChunkEndingExactlyAtTheEndOfTheFileIsNotShort) {
  testing::writeFile(log(), "ab\ncd\n");
  const auto first = JSONLTail::read(log(), std::nullopt, 6);
  EXPECT_THAT(first.lines, ElementsAre("ab", "cd"));
  EXPECT_EQ(first.cursor.offset, 6);
  EXPECT_FALSE(first.atEOF);

  const auto second = JSONLTail::read(log(), first.cursor, 6);
  EXPECT_THAT(second.lines, IsEmpty());
  EXPECT_EQ(second.cursor, first.cursor);
  EXPECT_FALSE(second.reset);
  EXPECT_TRUE(second.atEOF);
}

TEST_F(JSONLTailTest, ContinuesFromAFittingCursorAndKeepsItsPathAndContext) {
  testing::writeFile(log(), "a\nbc");
  const auto first = JSONLTail::read(log(), std::nullopt, 1024);
  EXPECT_THAT(first.lines, ElementsAre("a"));

  // The stored cursor's own path and context travel on unchanged.
  FileCursor stored = first.cursor;
  stored.path = "/elsewhere/alias.jsonl";
  stored.context = {{"provider", "codex"}, {"session", "s-1"}};

  testing::appendFile(log(), "d\r\n");
  const auto second = JSONLTail::read(log(), stored, 1024);
  EXPECT_THAT(second.lines, ElementsAre("bcd"));
  EXPECT_FALSE(second.reset);
  EXPECT_TRUE(second.atEOF);
  EXPECT_EQ(second.cursor.path, stored.path);
  auto expected = stored.context;
  expected[JSONLTail::fingerprintKey] = *JSONLTail::fingerprint("a\nbcd\r\n", 7);
  EXPECT_EQ(second.cursor.context, expected);
  EXPECT_EQ(second.cursor.offset, 7);

  // An offset equal to the size is continued from and yields nothing.
  const auto third = JSONLTail::read(log(), second.cursor, 1024);
  EXPECT_THAT(third.lines, IsEmpty());
  EXPECT_FALSE(third.reset);
  EXPECT_TRUE(third.atEOF);
  EXPECT_EQ(third.cursor, second.cursor);
}

// A file can be made again under the same inode (ext4 hands a freed one
// out again), or truncated and rewritten longer (an editor's save): the
// bytes before the stored offset then differ from those that were read, and
// the file is read again from its start.
TEST_F(JSONLTailTest, AFileRewrittenUnderTheSameInodeStartsOver) {
  struct Case {
    const char* name;
    std::string first;
    std::string rewritten;
    bool startsOver;
    Lines lines;
  };
  const std::string longLine(400, 'x');
  const Case cases[] = {
      {"other bytes before the offset", "aaaa\n", "bbbb\ncc\n", true, {"bbbb", "cc"}},
      {"the same bytes before the offset, more after", "aaaa\n", "aaaa\ncc\n", false, {"cc"}},
      {"a change far before the offset", "head\n" + longLine + "\n", "HEAD\n" + longLine + "\nmore\n", false,
       {"more"}},
      {"a change inside the fingerprint", "head\n" + longLine + "\n", "head\n" + longLine.substr(1) + "y\nmore\n",
       true, {"head", longLine.substr(1) + "y", "more"}},
      {"rewritten as it was, longer", "one\ntwo\n", "one\ntwo\nthree\n", false, {"three"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::writeFile(log(), c.first);
    const auto first = JSONLTail::read(log(), std::nullopt, 1024);
    testing::writeFile(log(), c.rewritten);  // truncates and rewrites the same inode
    ASSERT_EQ(inodeOf(log()), first.cursor.inode);
    auto stored = first.cursor;
    stored.context["provider"] = "claude";
    const auto second = JSONLTail::read(log(), stored, 1024);
    EXPECT_EQ(second.reset, c.startsOver);
    EXPECT_EQ(second.lines, c.lines);
    EXPECT_EQ(second.cursor.offset, static_cast<int64_t>(c.rewritten.size()));
    EXPECT_EQ(second.cursor.context.count("provider"), c.startsOver ? 0u : 1u);
    EXPECT_EQ(second.cursor.context.at(JSONLTail::fingerprintKey),
              *JSONLTail::fingerprint(c.rewritten, static_cast<int64_t>(c.rewritten.size())));
  }
}

TEST_F(JSONLTailTest, ACursorWithoutOrWithAnUnreadableFingerprintIsTrustedAsBefore) {
  for (const char* stored : {"", "garbage", "999:0000000000000000", "5:zz", "5:0000000000000000"}) {
    SCOPED_TRACE(stored);
    testing::writeFile(log(), "aaaa\n");
    auto cursor = JSONLTail::read(log(), std::nullopt, 1024).cursor;
    testing::writeFile(log(), "bbbb\ncc\n");
    if (*stored) {
      cursor.context[JSONLTail::fingerprintKey] = stored;
    } else {
      cursor.context.erase(JSONLTail::fingerprintKey);
    }
    const auto result = JSONLTail::read(log(), cursor, 1024);
    // "5:" and 16 hex digits is a well-formed fingerprint that does not match.
    const bool wellFormed = std::string_view(stored) == "5:0000000000000000";
    EXPECT_EQ(result.reset, wellFormed);
    EXPECT_EQ(result.lines, (wellFormed ? Lines{"bbbb", "cc"} : Lines{"cc"}));
  }
}

TEST_F(JSONLTailTest, TheFingerprintCoversTheLastBytesBeforeTheOffset) {
  EXPECT_EQ(JSONLTail::fingerprint("", 0), std::nullopt);
  EXPECT_EQ(JSONLTail::fingerprint("ab", 5), std::nullopt) << "fewer bytes than it covers";
  EXPECT_EQ(JSONLTail::fingerprint("zzab\n", 3), JSONLTail::fingerprint("ab\n", 3));
  const std::string many(1000, 'q');
  EXPECT_EQ(JSONLTail::fingerprint("x" + many, 5000), JSONLTail::fingerprint(many, 5000));
  EXPECT_EQ(JSONLTail::fingerprint(many, 5000)->rfind("256:", 0), 0u);
  EXPECT_EQ(JSONLTail::fingerprint(many, 5000)->size(), 4u + 16u);
  EXPECT_NE(JSONLTail::fingerprint("ab\n", 3), JSONLTail::fingerprint("ac\n", 3));
  // Skipped over-long lines and every chunk size leave the fingerprint a
  // single read of the whole file leaves.
  testing::writeFile(log(), "one\n" + many + "\ntwo\n");
  const auto whole = JSONLTail::read(log(), std::nullopt, 4096);
  for (const int64_t maxBytes : {1, 7, 64, 300}) {
    SCOPED_TRACE(maxBytes);
    const auto chunked = readToEnd(log(), std::nullopt, maxBytes, 100);
    EXPECT_EQ(chunked.cursor.offset, whole.cursor.offset);
    EXPECT_EQ(chunked.cursor.context, whole.cursor.context);
  }
  EXPECT_EQ(JSONLTail::fingerprintOfFile(log(), whole.cursor.inode, whole.cursor.offset),
            whole.cursor.context.at(JSONLTail::fingerprintKey));
  EXPECT_EQ(JSONLTail::fingerprintOfFile(log(), whole.cursor.inode + 1, whole.cursor.offset), std::nullopt);
  EXPECT_EQ(JSONLTail::fingerprintOfFile(dir_ / "gone.jsonl", 1, 4), std::nullopt);
}

TEST_F(JSONLTailTest, CursorThatNoLongerFitsStartsOverWithAnEmptyContext) {
  struct Case {
    const char* name;
    // Changes the file and/or the stored cursor after a first full read.
    std::function<void(const fs::path&, FileCursor&)> change;
  };
  const Case cases[] = {
      {"replaced by rename (new inode)",
       [](const fs::path& path, FileCursor&) {
         const fs::path replacement = path.string() + ".new";
         testing::writeFile(replacement, "one\ntwo\nthree\n");
         fs::rename(replacement, path);
       }},
      {"truncated below the offset",
       [](const fs::path& path, FileCursor&) { testing::writeFile(path, "one\ntwo\nthree\n"); }},
      {"stored inode differs", [](const fs::path&, FileCursor& cursor) { cursor.inode += 1; }},
      {"negative offset", [](const fs::path&, FileCursor& cursor) { cursor.offset = -1; }},
      {"most negative offset",
       [](const fs::path&, FileCursor& cursor) { cursor.offset = std::numeric_limits<int64_t>::min(); }},
      {"offset beyond the size", [](const fs::path&, FileCursor& cursor) { cursor.offset += 1; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string original = "one\ntwo\nthree\nfour and more text\n";
    testing::writeFile(log(), original);
    auto stored = JSONLTail::read(log(), std::nullopt, 1024).cursor;
    stored.path = "/old/path.jsonl";
    stored.context = {{"provider", "claude"}};
    c.change(log(), stored);

    const auto result = JSONLTail::read(log(), stored, 1024);
    EXPECT_TRUE(result.reset);
    ASSERT_FALSE(result.lines.empty());
    EXPECT_EQ(result.lines.front(), "one");
    EXPECT_EQ(result.lines, JSONLTail::read(log(), std::nullopt, 1024).lines);
    EXPECT_EQ(result.cursor.path, log().string());
    EXPECT_EQ(result.cursor.inode, inodeOf(log()));
    EXPECT_EQ(result.cursor.context.size(), 1u) << "only the new fingerprint";
    EXPECT_EQ(result.cursor.offset, static_cast<int64_t>(fs::file_size(log())));
  }
}

TEST_F(JSONLTailTest, FailuresThrowTheSystemError) {
  struct Case {
    const char* name;
    std::function<fs::path(const fs::path&)> make;
    int code;
    std::string what;
  };
  const Case cases[] = {
      {"missing file", [](const fs::path& dir) { return dir / "gone.jsonl"; }, ENOENT,
       "open: No such file or directory"},
      {"vanished file",
       [](const fs::path& dir) {
         testing::writeFile(dir / "vanished.jsonl", "a\n");
         fs::remove(dir / "vanished.jsonl");
         return dir / "vanished.jsonl";
       },
       ENOENT, "open: No such file or directory"},
      {"directory",
       [](const fs::path& dir) {
         fs::create_directories(dir / "folder.jsonl");
         return dir / "folder.jsonl";
       },
       EISDIR, "read: Is a directory"},
      // A named pipe must not block the reader waiting for a writer.
      {"named pipe",
       [](const fs::path& dir) {
         const auto path = dir / "pipe.jsonl";
         if (::mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
         return path;
       },
       ESPIPE, "read: Illegal seek"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = c.make(dir_.path());
    try {
      (void)JSONLTail::read(path, std::nullopt, 1024);
      ADD_FAILURE() << "no error thrown";
    } catch (const std::system_error& error) {
      EXPECT_EQ(error.code().value(), c.code);
      EXPECT_EQ(std::string(error.what()), c.what);
    }
  }
}

TEST_F(JSONLTailTest, UnreadableFileThrowsOnOpen) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not apply to root";
  testing::writeFile(log(), "a\n");
  fs::permissions(log(), fs::perms::none);
  try {
    (void)JSONLTail::read(log(), std::nullopt, 1024);
    ADD_FAILURE() << "no error thrown";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code().value(), EACCES);
  }
}

TEST_F(JSONLTailTest, MaxBytesBelowOneBehavesAsOne) {
  testing::writeFile(log(), "ab\ncd\n");
  const auto one = JSONLTail::read(log(), std::nullopt, 1);
  EXPECT_THAT(one.lines, ElementsAre("ab"));  // chunks of 1, 2, 4 bytes
  EXPECT_EQ(one.cursor.offset, 3);
  EXPECT_FALSE(one.atEOF);
  for (const int64_t maxBytes : {int64_t{0}, int64_t{-7}, std::numeric_limits<int64_t>::min()}) {
    SCOPED_TRACE(maxBytes);
    const auto result = JSONLTail::read(log(), std::nullopt, maxBytes);
    EXPECT_EQ(result.lines, one.lines);
    EXPECT_EQ(result.cursor, one.cursor);
    EXPECT_EQ(result.atEOF, one.atEOF);
  }
}

TEST_F(JSONLTailTest, HugeMaxBytesDoesNotAllocateTheWholeChunk) {
  testing::writeFile(log(), "ab\ncd\n");
  JSONLTail::Reader reader;
  const auto& chunk = reader.read(log(), std::nullopt, std::numeric_limits<int64_t>::max());
  EXPECT_THAT(chunk.lines, ElementsAre("ab", "cd"));
  EXPECT_TRUE(chunk.atEOF);
  EXPECT_LT(reader.buffer().size(), size_t{1} << 20);
}

// A line longer than the cap is passed over once its line feed is there; the
// lines around it are read as usual, and the reader never holds it whole.
TEST_F(JSONLTailTest, LineLongerThanTheCapIsSkippedOnceFinished) {
  constexpr int64_t cap = 8;
  struct Case {
    const char* name;
    std::string content;
    int64_t maxBytes;
    Lines lines;
    std::vector<JSONLTail::SkippedLine> skipped;
  };
  const Case cases[] = {
      {"line of exactly the cap is kept", "short\n12345678\nend\n", 2, {"short", "12345678", "end"}, {}},
      {"one byte over the cap is skipped", "short\n123456789\nend\n", 2, {"short", "end"}, {{6, 9}}},
      {"CR counts toward the length", "12345678\r\nend\n", 2, {"end"}, {{0, 9}}},
      {"much longer line", "a\n" + std::string(1000, 'x') + "\nb\n", 3, {"a", "b"}, {{2, 1000}}},
      {"two long lines in a row", std::string(20, 'x') + "\n" + std::string(30, 'y') + "\nz\n", 1, {"z"},
       {{0, 20}, {21, 30}}},
      {"first chunk larger than the cap keeps its lines", std::string(20, 'x') + "\nz\n", 64,
       {std::string(20, 'x'), "z"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::writeFile(log(), c.content);
    const auto result = readToEnd(log(), std::nullopt, c.maxBytes, cap);
    EXPECT_EQ(result.lines, c.lines);
    EXPECT_EQ(result.skipped, c.skipped);
    EXPECT_EQ(result.cursor.offset, static_cast<int64_t>(c.content.size()));
  }
}

TEST_F(JSONLTailTest, UnfinishedOverlongLineConsumesNothingUntilItsLineFeed) {
  constexpr int64_t cap = 16;
  testing::writeFile(log(), "first\n" + std::string(100, 'x'));
  JSONLTail::Reader reader;

  const auto& start = reader.read(log(), std::nullopt, 4, cap);
  EXPECT_THAT(start.lines, ElementsAre("first"));
  const FileCursor afterFirst = start.cursor;

  for (int pass = 0; pass < 2; ++pass) {
    const auto& waiting = reader.read(log(), afterFirst, 4, cap);
    EXPECT_THAT(waiting.lines, IsEmpty());
    EXPECT_THAT(waiting.skipped, IsEmpty());
    EXPECT_EQ(waiting.cursor, afterFirst);
    EXPECT_TRUE(waiting.atEOF);
  }

  testing::appendFile(log(), std::string(50, 'x') + "\nnext\n");
  const auto& skipping = reader.read(log(), afterFirst, 4, cap);
  EXPECT_THAT(skipping.lines, IsEmpty());
  EXPECT_THAT(skipping.skipped, ElementsAre(JSONLTail::SkippedLine{6, 150}));
  EXPECT_EQ(skipping.cursor.offset, 157);
  EXPECT_FALSE(skipping.atEOF);
  // Memory stays bounded by the cap, not by the line.
  EXPECT_LE(reader.buffer().size(), 2 * (cap + 1) + JSONLTail::padding);

  const auto& next = reader.read(log(), skipping.cursor, 4, cap);
  EXPECT_THAT(next.lines, ElementsAre("next"));
}

TEST_F(JSONLTailTest, ReaderBufferStaysBoundedOnALongLine) {
  constexpr int64_t cap = 1024;
  testing::writeFile(log(), std::string(1 << 20, 'x') + "\nok\n");
  JSONLTail::Reader reader;
  const auto& skipped = reader.read(log(), std::nullopt, 64, cap);
  EXPECT_THAT(skipped.skipped, ElementsAre(JSONLTail::SkippedLine{0, 1 << 20}));
  EXPECT_LE(reader.buffer().size(), 2 * (cap + 1) + JSONLTail::padding);
}

// Every line the reader returns can be parsed in place: padding bytes follow
// it inside the reader's buffer, on every call, as the buffer is reused.
TEST_F(JSONLTailTest, ReaderLinesAreFollowedByParserPadding) {
  static_assert(JSONLTail::padding >= simdjson::SIMDJSON_PADDING);
  std::string content;
  for (int i = 0; i < 200; ++i) {
    content += "{\"n\":" + std::to_string(i) + ",\"text\":\"" + std::string(static_cast<size_t>(i % 37), 'q') + "\"}";
    content += (i % 3 == 0) ? "\r\n" : "\n";
  }
  testing::writeFile(log(), content);
  JSONLTail::Reader reader;
  std::optional<FileCursor> cursor;
  int seen = 0;
  for (int call = 0; call < 1000; ++call) {
    const auto& chunk = reader.read(log(), cursor, 100);
    const auto buffer = reader.buffer();
    for (const std::string_view line : chunk.lines) {
      ASSERT_GE(line.data(), buffer.data());
      ASSERT_LE(line.data() + line.size() + JSONLTail::padding, buffer.data() + buffer.size());
      const auto root = logjson::threadParser().parse(line, /*padded=*/true);
      ASSERT_TRUE(root.has_value()) << line;
      EXPECT_EQ(logjson::count(*root, "n"), seen);
      ++seen;
    }
    cursor = chunk.cursor;
    if (chunk.atEOF) break;
  }
  EXPECT_EQ(seen, 200);
}

TEST_F(JSONLTailTest, ReusedReaderKeepsNothingFromTheLastFile) {
  testing::writeFile(log("a.jsonl"), std::string(300, 'a') + "\nA\n");
  testing::writeFile(log("b.jsonl"), "b\nunfinished");
  JSONLTail::Reader reader;
  EXPECT_THAT(reader.read(log("a.jsonl"), std::nullopt, 4096).lines, ElementsAre(std::string(300, 'a'), "A"));
  const auto& b = reader.read(log("b.jsonl"), std::nullopt, 4096);
  EXPECT_THAT(b.lines, ElementsAre("b"));
  EXPECT_EQ(b.cursor.path, log("b.jsonl").string());
  EXPECT_EQ(b.cursor.offset, 2);
  EXPECT_THAT(b.skipped, IsEmpty());
  EXPECT_FALSE(b.reset);
}

}  // namespace
}  // namespace tokvane
