#include "TokvaneCore/Logs/JSONLTail.hpp"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <system_error>

#include "TokvaneCore/Foundation/FileDescriptor.hpp"
#include "TokvaneCore/Foundation/RetryOnEINTR.hpp"

namespace tokvane {

namespace {

[[noreturn]] void fail(const char* operation) {
  throw std::system_error(errno, std::generic_category(), operation);
}

// Extra bytes asked beyond the size the attributes reported, so that a file
// that grew a little since is still read in one go.
constexpr size_t growthSlack = 64 * 1024;
// Below this a buffer is worth keeping whatever the chunk size.
constexpr size_t keptBufferFloor = size_t{1} << 20;
// Linux moves at most this much in one read call.
constexpr size_t maxReadCall = 0x7ffff000;

// Reads up to `length` bytes at `offset`, stopping early only at the end of
// the file. Returns the number of bytes read.
size_t readAt(int fd, char* destination, size_t length, int64_t offset) {
  size_t total = 0;
  while (total < length) {
    if (total > static_cast<uint64_t>(std::numeric_limits<int64_t>::max() - offset)) break;
    const int64_t position = offset + static_cast<int64_t>(total);
    const size_t ask = std::min(length - total, maxReadCall);
    const ssize_t got =
        retryOnEINTR([&] { return ::pread(fd, destination + total, ask, static_cast<off_t>(position)); });
    if (got < 0) fail("read");
    if (got == 0) break;
    total += static_cast<size_t>(got);
  }
  return total;
}

size_t toSize(int64_t value) {
  if (value < 1) return 1;
  if (static_cast<uint64_t>(value) > std::numeric_limits<size_t>::max() / 4) {
    return std::numeric_limits<size_t>::max() / 4;
  }
  return static_cast<size_t>(value);
}

}  // namespace

void JSONLTail::Reader::reserve(size_t bytes, size_t keep) {
  if (storage_ && bytes <= capacity_) return;
  auto grown = std::make_unique_for_overwrite<char[]>(bytes + padding);
  if (keep > 0) std::memcpy(grown.get(), storage_.get(), keep);
  storage_ = std::move(grown);
  capacity_ = bytes;
}

size_t JSONLTail::Reader::fill(int fd, int64_t offset, size_t have, size_t want, int64_t expected) {
  if (have >= want) return have;
  // Size the buffer after what the file is expected to hold, not after the
  // chunk: a small file does not need a chunk-sized allocation.
  size_t first = want;
  if (expected >= 0 && static_cast<uint64_t>(expected) + growthSlack < want) {
    first = static_cast<size_t>(expected) + growthSlack;
  }
  reserve(std::max(first, have), have);
  while (have < want) {
    if (have == capacity_) {
      const size_t doubled = capacity_ > want / 2 ? want : capacity_ * 2;
      reserve(std::max(doubled, have + 1), have);
    }
    const size_t space = std::min(capacity_, want) - have;
    const size_t got = readAt(fd, storage_.get() + have, space, offset + static_cast<int64_t>(have));
    have += got;
    if (got < space) break;  // end of file
  }
  return have;
}

void JSONLTail::Reader::skipOverlongLine(int fd, size_t have) {
  // The line at the cursor holds no line feed in its first `have` bytes.
  // Look for its end with the buffer already allocated, overwriting it, so
  // the line is never held whole.
  const int64_t start = chunk_.cursor.offset;
  int64_t position = start + static_cast<int64_t>(have);
  char* data = storage_.get();
  for (;;) {
    const size_t got = readAt(fd, data, capacity_, position);
    if (const void* found = std::memchr(data, '\n', got)) {
      const int64_t lineEnd = position + (static_cast<const char*>(found) - data);
      chunk_.skipped.push_back({start, lineEnd - start});
      chunk_.cursor.offset = lineEnd + 1;
      chunk_.atEOF = false;
      return;
    }
    if (got < capacity_) {
      // The line is still being written: consume nothing.
      chunk_.atEOF = true;
      return;
    }
    position += static_cast<int64_t>(got);
  }
}

const JSONLTail::Reader::Chunk& JSONLTail::Reader::read(const std::filesystem::path& path,
                                                        const std::optional<FileCursor>& cursor,
                                                        int64_t maxBytes, int64_t lineCap) {
  chunk_.lines.clear();
  chunk_.skipped.clear();
  chunk_.reset = false;
  chunk_.atEOF = false;

  // Opened before its attributes are read, so the inode and size describe
  // the very file that is read even if the path is replaced meanwhile.
  const FileDescriptor file = FileDescriptor::openForReading(path);
  if (!file) fail("open");
  struct stat status;
  if (::fstat(file.get(), &status) != 0) fail("stat");
  const auto inode = static_cast<uint64_t>(status.st_ino);
  const auto size = static_cast<int64_t>(status.st_size);

  if (cursor && cursor->inode == inode && cursor->offset >= 0 && cursor->offset <= size) {
    chunk_.cursor = *cursor;
  } else {
    chunk_.reset = cursor.has_value();
    chunk_.cursor.path = path.string();
    chunk_.cursor.inode = inode;
    chunk_.cursor.offset = 0;
    chunk_.cursor.context.clear();
  }
  const int64_t offset = chunk_.cursor.offset;

  size_t chunkSize = toSize(maxBytes);
  // A line of lineCap bytes plus its line feed still fits the largest chunk.
  const size_t largest = std::max(chunkSize, toSize(lineCap) + 1);
  if (capacity_ > 2 * largest + keptBufferFloor) {
    // Let go of the memory an earlier overlong line needed.
    storage_.reset();
    capacity_ = 0;
  }

  size_t have = 0;
  const char* lastLineFeed = nullptr;
  for (;;) {
    const size_t searched = have;
    have = fill(file.get(), offset, have, chunkSize, size - offset);
    char* data = storage_.get();
    std::memset(data + have, 0, padding);
    lastLineFeed = static_cast<const char*>(memrchr(data + searched, '\n', have - searched));
    if (lastLineFeed) break;
    if (have < chunkSize) {
      // The rest of the file holds no complete line.
      chunk_.atEOF = true;
      return chunk_;
    }
    if (chunkSize >= largest) {
      skipOverlongLine(file.get(), have);
      return chunk_;
    }
    chunkSize = chunkSize > largest / 2 ? largest : chunkSize * 2;
  }

  const char* data = storage_.get();
  const char* const end = lastLineFeed + 1;
  for (const char* line = data; line < end;) {
    const auto* feed = static_cast<const char*>(std::memchr(line, '\n', static_cast<size_t>(end - line)));
    size_t length = static_cast<size_t>(feed - line);
    if (length > 0 && line[length - 1] == '\r') --length;
    if (length > 0) chunk_.lines.emplace_back(line, length);
    line = feed + 1;
  }
  chunk_.cursor.offset = offset + static_cast<int64_t>(end - data);
  chunk_.atEOF = have < chunkSize;
  return chunk_;
}

JSONLTail::Result JSONLTail::read(const std::filesystem::path& path, const std::optional<FileCursor>& cursor,
                                  int64_t maxBytes, int64_t lineCap) {
  Reader reader;
  const Reader::Chunk& chunk = reader.read(path, cursor, maxBytes, lineCap);
  Result result;
  result.lines.reserve(chunk.lines.size());
  for (const std::string_view line : chunk.lines) result.lines.emplace_back(line);
  result.cursor = chunk.cursor;
  result.reset = chunk.reset;
  result.atEOF = chunk.atEOF;
  result.skipped = chunk.skipped;
  return result;
}

}  // namespace tokvane
