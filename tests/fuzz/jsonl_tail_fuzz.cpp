// The tail reader over any file contents, any chunk size and line cap, and
// any (possibly hostile) stored cursor, with the file growing between reads:
// never crashes, keeps the offset within the file, returns lines without
// their line feed and their one trailing carriage return, consumes every
// complete line exactly once (checked against a plain split of the file),
// skips only lines over the cap, and never holds more than the cap in memory.

#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "FuzzCheck.hpp"
#include "TokvaneCore/Logs/JSONLTail.hpp"

using namespace tokvane;

namespace {

std::filesystem::path& scratchDirectory() {
  static std::filesystem::path directory;
  return directory;
}

void removeScratch() {
  std::error_code ignored;
  std::filesystem::remove_all(scratchDirectory(), ignored);
}

// One file per fuzzing process, rewritten for every input.
const std::filesystem::path& logFile() {
  static const std::filesystem::path file = [] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tokvane-tail-fuzz-XXXXXX";
    FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
    scratchDirectory() = pattern;
    std::atexit(removeScratch);
    return scratchDirectory() / "session.jsonl";
  }();
  return file;
}

void writeFile(std::string_view bytes, bool append) {
  const int fd = ::open(logFile().c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC), 0600);
  FUZZ_CHECK(fd >= 0);
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    FUZZ_CHECK(written > 0);
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  ::close(fd);
}

int64_t atLeastOne(int64_t value) { return value < 1 ? 1 : value; }

// A complete line of the file as a plain split sees it.
struct ReferenceLine {
  int64_t offset;
  int64_t length;    // without the line feed
  std::string text;  // without one trailing carriage return
};

std::vector<ReferenceLine> split(std::string_view content, int64_t start) {
  std::vector<ReferenceLine> lines;
  size_t position = static_cast<size_t>(start);
  for (;;) {
    const size_t feed = content.find('\n', position);
    if (feed == std::string_view::npos) break;
    std::string_view text = content.substr(position, feed - position);
    const auto length = static_cast<int64_t>(text.size());
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    lines.push_back({static_cast<int64_t>(position), length, std::string(text)});
    position = feed + 1;
  }
  return lines;
}

// Walks the reference lines as the reader hands out lines and skipped lines.
class Expectation {
 public:
  Expectation(std::vector<ReferenceLine> lines, int64_t largestChunk)
      : lines_(std::move(lines)), largestChunk_(largestChunk) {}

  void returned(std::string_view line) {
    passEmpty();
    FUZZ_CHECK(next_ < lines_.size());
    FUZZ_CHECK(lines_[next_].text == line);
    ++next_;
  }

  void skipped(const JSONLTail::SkippedLine& line) {
    passEmpty();
    FUZZ_CHECK(next_ < lines_.size());
    FUZZ_CHECK(lines_[next_].offset == line.offset && lines_[next_].length == line.length);
    // Only a line that does not fit the largest chunk is passed over.
    FUZZ_CHECK(line.length + 1 > largestChunk_);
    ++next_;
  }

  void finished() {
    passEmpty();
    FUZZ_CHECK(next_ == lines_.size());
  }

 private:
  void passEmpty() {
    while (next_ < lines_.size() && lines_[next_].text.empty()) ++next_;
  }

  std::vector<ReferenceLine> lines_;
  int64_t largestChunk_;
  size_t next_ = 0;
};

bool sameChunk(const JSONLTail::Reader::Chunk& chunk, const JSONLTail::Result& result) {
  if (chunk.lines.size() != result.lines.size()) return false;
  for (size_t i = 0; i < chunk.lines.size(); ++i) {
    if (chunk.lines[i] != result.lines[i]) return false;
  }
  return chunk.cursor == result.cursor && chunk.reset == result.reset && chunk.atEOF == result.atEOF &&
         chunk.skipped == result.skipped;
}

// A cursor's context apart from the reader's own fingerprint, which moves
// with the offset.
std::map<std::string, std::string> withoutFingerprint(std::map<std::string, std::string> context) {
  context.erase(JSONLTail::fingerprintKey);
  return context;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const int64_t maxBytes = input.ConsumeBool() ? int64_t{8} << 20 : input.ConsumeIntegralInRange<int64_t>(-2, 300);
  const int64_t lineCap = input.ConsumeIntegralInRange<int64_t>(-2, 300);
  const auto cursorKind = input.ConsumeIntegralInRange<int>(0, 3);  // none, same file, other file, no file number
  const bool nearOffset = input.ConsumeBool();
  const auto rawOffset = input.ConsumeIntegral<int64_t>();
  const auto rawSplit = input.ConsumeIntegral<uint16_t>();
  const std::string cursorPath = input.ConsumeRandomLengthString(24);
  const std::string contextKey = input.ConsumeRandomLengthString(12);
  const std::string contextValue = input.ConsumeRandomLengthString(12);
  const std::string content = input.ConsumeRemainingBytesAsString();

  // The file holds a first part, is read to its end, then grows by the rest.
  const size_t firstPart = rawSplit % (content.size() + 1);
  writeFile(std::string_view(content).substr(0, firstPart), false);
  struct stat status;
  FUZZ_CHECK(::stat(logFile().c_str(), &status) == 0);
  const auto inode = static_cast<uint64_t>(status.st_ino);
  const auto firstSize = static_cast<int64_t>(firstPart);

  std::optional<FileCursor> cursor;
  if (cursorKind != 0) {
    FileCursor stored;
    stored.path = cursorPath;
    stored.inode = cursorKind == 1 ? inode : cursorKind == 2 ? inode + 1 + (rawSplit & 7) : 0;
    stored.offset = nearOffset ? static_cast<int64_t>(static_cast<uint64_t>(rawOffset) % (firstPart + 7)) - 3
                               : rawOffset;
    stored.context[contextKey] = contextValue;
    cursor = stored;
  }
  bool fits = cursor && cursor->inode == inode && cursor->offset >= 0 && cursor->offset <= firstSize;
  if (fits && cursor->offset > 0) {
    // A stored fingerprint of the bytes before the offset must still match
    // them; one that does not read as a fingerprint proves nothing.
    if (const auto mark = cursor->context.find(JSONLTail::fingerprintKey); mark != cursor->context.end()) {
      const std::string& stored = mark->second;
      const size_t colon = stored.find(':');
      size_t length = 0;
      bool wellFormed = colon != std::string::npos && colon > 0 && colon <= 3 && stored.size() - colon - 1 == 16;
      for (size_t i = 0; wellFormed && i < colon; ++i) {
        wellFormed = stored[i] >= '0' && stored[i] <= '9';
        length = length * 10 + static_cast<size_t>(stored[i] - '0');
      }
      if (wellFormed && length > 0 && length <= JSONLTail::fingerprintWindow &&
          static_cast<int64_t>(length) <= cursor->offset) {
        const std::string_view covered =
            std::string_view(content).substr(static_cast<size_t>(cursor->offset) - length, length);
        fits = JSONLTail::fingerprint(covered, static_cast<int64_t>(length)) == stored;
      }
    }
  }
  const bool expectReset = cursor && !fits;
  const FileCursor expectedStart = fits ? *cursor : FileCursor{logFile().string(), inode, 0, {}};

  const int64_t largestChunk = std::max(atLeastOne(maxBytes), atLeastOne(lineCap) + 1);
  Expectation expectation(split(content, expectedStart.offset), largestChunk);
  JSONLTail::Reader reader;
  bool firstCall = true;
  int64_t fileSize = firstSize;

  const auto readOnce = [&]() -> bool {
    const JSONLTail::Reader::Chunk& chunk = reader.read(logFile(), cursor, maxBytes, lineCap);
    FUZZ_CHECK(sameChunk(chunk, JSONLTail::read(logFile(), cursor, maxBytes, lineCap)));

    const int64_t before = firstCall ? expectedStart.offset : cursor->offset;
    if (firstCall) {
      FUZZ_CHECK(chunk.reset == expectReset);
      FUZZ_CHECK(chunk.cursor.path == expectedStart.path);
      FUZZ_CHECK(withoutFingerprint(chunk.cursor.context) == withoutFingerprint(expectedStart.context));
    } else {
      FUZZ_CHECK(!chunk.reset);
      FUZZ_CHECK(chunk.cursor.path == cursor->path &&
                 withoutFingerprint(chunk.cursor.context) == withoutFingerprint(cursor->context));
    }
    // The cursor's fingerprint is that of the bytes just before its offset.
    if (const auto mark = chunk.cursor.context.find(JSONLTail::fingerprintKey);
        mark != chunk.cursor.context.end() && chunk.cursor.offset > 0 && chunk.cursor.offset <= fileSize) {
      FUZZ_CHECK(JSONLTail::fingerprint(std::string_view(content).substr(0, static_cast<size_t>(chunk.cursor.offset)),
                                        chunk.cursor.offset) == mark->second);
    }
    firstCall = false;
    FUZZ_CHECK(chunk.cursor.inode == inode);
    FUZZ_CHECK(chunk.cursor.offset >= before && chunk.cursor.offset <= fileSize);
    // A call that is not at the end always consumes something, so the loop ends.
    if (!chunk.atEOF) FUZZ_CHECK(chunk.cursor.offset > before);

    const std::span<const char> buffer = reader.buffer();
    FUZZ_CHECK(buffer.size() <= static_cast<size_t>(largestChunk) + JSONLTail::padding);
    FUZZ_CHECK(chunk.skipped.empty() || chunk.lines.empty());
    FUZZ_CHECK(chunk.skipped.size() <= 1);
    for (const std::string_view line : chunk.lines) {
      FUZZ_CHECK(!line.empty());
      FUZZ_CHECK(line.find('\n') == std::string_view::npos);
      FUZZ_CHECK(line.data() >= buffer.data() &&
                 line.data() + line.size() + JSONLTail::padding <= buffer.data() + buffer.size());
      // Exactly one trailing carriage return is gone (a line that ended in
      // two keeps one): the reference split strips the same.
      expectation.returned(line);
    }
    for (const auto& skipped : chunk.skipped) expectation.skipped(skipped);
    cursor = chunk.cursor;
    return chunk.atEOF;
  };

  while (!readOnce()) {
  }
  if (firstPart < content.size()) {
    writeFile(std::string_view(content).substr(firstPart), true);
    fileSize = static_cast<int64_t>(content.size());
    while (!readOnce()) {
    }
  }
  expectation.finished();
  // Nothing complete is left behind the cursor.
  FUZZ_CHECK(content.find('\n', static_cast<size_t>(cursor->offset)) == std::string::npos);

  // At the end, a further read changes nothing.
  const FileCursor atEnd = *cursor;
  const auto& last = reader.read(logFile(), cursor, maxBytes, lineCap);
  FUZZ_CHECK(last.lines.empty() && last.skipped.empty() && last.atEOF && !last.reset);
  FUZZ_CHECK(last.cursor == atEnd);
  return 0;
}
