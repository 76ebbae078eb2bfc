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

uint64_t fnv1a(std::string_view bytes) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ull;
  }
  return hash;
}

size_t coveredBefore(int64_t offset) {
  return offset <= 0 ? 0 : static_cast<size_t>(std::min<int64_t>(offset, JSONLTail::fingerprintWindow));
}

std::string fingerprintText(std::string_view covered) {
  static constexpr char digits[] = "0123456789abcdef";
  uint64_t hash = fnv1a(covered);
  std::string hex(16, '0');
  for (int i = 15; i >= 0; --i, hash >>= 4) hex[static_cast<size_t>(i)] = digits[hash & 15];
  return std::to_string(covered.size()) + ":" + hex;
}

// The fingerprint of `length` bytes just before `offset`, read from `fd`;
// none when fewer can be read.
std::optional<std::string> fingerprintFromFile(int fd, int64_t offset, size_t length) {
  char bytes[JSONLTail::fingerprintWindow];
  length = std::min(length, sizeof bytes);
  if (offset < static_cast<int64_t>(length)) return std::nullopt;
  if (readAt(fd, bytes, length, offset - static_cast<int64_t>(length)) != length) return std::nullopt;
  return fingerprintText(std::string_view(bytes, length));
}

// Whether the bytes before `offset` still match a stored fingerprint. One
// that cannot be read as such (written by hand, or by a later version in
// another form) proves nothing and is trusted, as a cursor without one is.
bool stillMatches(int fd, int64_t offset, std::string_view stored) {
  const size_t colon = stored.find(':');
  if (colon == std::string_view::npos || colon == 0 || stored.size() - colon - 1 != 16) return true;
  size_t length = 0;
  for (const char c : stored.substr(0, colon)) {
    if (c < '0' || c > '9' || length > JSONLTail::fingerprintWindow) return true;
    length = length * 10 + static_cast<size_t>(c - '0');
  }
  if (length == 0 || length > JSONLTail::fingerprintWindow || static_cast<int64_t>(length) > offset) return true;
  const auto now = fingerprintFromFile(fd, offset, length);
  return now && *now == stored;
}

}  // namespace

std::optional<std::string> JSONLTail::fingerprint(std::string_view endingAtOffset, int64_t offset) {
  const size_t length = coveredBefore(offset);
  if (length == 0 || endingAtOffset.size() < length) return std::nullopt;
  return fingerprintText(endingAtOffset.substr(endingAtOffset.size() - length));
}

std::optional<std::string> JSONLTail::fingerprintOfFile(const std::filesystem::path& path, uint64_t inode,
                                                        int64_t offset) {
  try {
    const FileDescriptor file = FileDescriptor::openForReading(path);
    if (!file) return std::nullopt;
    struct stat status;
    if (::fstat(file.get(), &status) != 0 || static_cast<uint64_t>(status.st_ino) != inode) return std::nullopt;
    if (offset > static_cast<int64_t>(status.st_size)) return std::nullopt;
    return fingerprintFromFile(file.get(), offset, coveredBefore(offset));
  } catch (const std::system_error&) {
    return std::nullopt;  // a failing read
  }
}

void JSONLTail::Reader::markOffset(int fd, const char* end, size_t available) {
  const int64_t offset = chunk_.cursor.offset;
  std::optional<std::string> mark = fingerprint(std::string_view(end - available, available), offset);
  if (!mark) mark = fingerprintFromFile(fd, offset, coveredBefore(offset));
  if (mark) {
    chunk_.cursor.context[fingerprintKey] = std::move(*mark);
  } else {
    chunk_.cursor.context.erase(fingerprintKey);
  }
}

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
      markOffset(fd, static_cast<const char*>(found) + 1, static_cast<size_t>(lineEnd + 1 - position));
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

  bool fits = cursor && cursor->inode == inode && cursor->offset >= 0 && cursor->offset <= size;
  if (fits && cursor->offset > 0) {
    // The same inode and room enough, but maybe other bytes: a file made
    // again under a reused inode, or truncated and rewritten longer.
    if (const auto mark = cursor->context.find(fingerprintKey); mark != cursor->context.end()) {
      fits = stillMatches(file.get(), cursor->offset, mark->second);
    }
  }
  if (fits) {
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
  markOffset(file.get(), end, static_cast<size_t>(end - data));
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
