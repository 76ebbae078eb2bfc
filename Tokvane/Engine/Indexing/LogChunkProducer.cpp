#include "Tokvane/Engine/Indexing/LogChunkProducer.hpp"

#include <simdjson.h>

#include <cerrno>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <span>
#include <stdexcept>
#include <string>
#include <system_error>

#include "TokvaneCore/Foundation/CappedFileRead.hpp"
#include "TokvaneCore/Foundation/FileDescriptor.hpp"
#include "TokvaneCore/Parsers/ClaudeLogParser.hpp"
#include "TokvaneCore/Parsers/CodexLogParser.hpp"
#include "TokvaneCore/Parsers/GrokUsageParser.hpp"
#include "TokvaneCore/Parsers/LogLineFilter.hpp"

namespace tokvane {

// Lines from the reader are parsed in place.
static_assert(JSONLTail::padding >= simdjson::SIMDJSON_PADDING);

namespace {

// The whole file, refusing one larger than `cap` bytes.
std::string readWhole(const LogFile& file, int64_t cap) {
  const auto tooLarge = [&](int64_t size) {
    return std::runtime_error("file of " + std::to_string(size) + " bytes larger than " +
                              LogChunkProducer::capText(cap));
  };
  if (file.size > cap) throw tooLarge(file.size);
  const FileDescriptor fd = FileDescriptor::openForReading(file.path);
  if (!fd) throw std::system_error(errno, std::generic_category(), "open");
  CappedFileRead whole = CappedFileRead::from(fd, cap, false);
  switch (whole.outcome) {
    case CappedFileRead::Outcome::read: break;
    case CappedFileRead::Outcome::tooLarge: throw tooLarge(whole.size);
    case CappedFileRead::Outcome::notRegular:
    case CappedFileRead::Outcome::failed:
      throw std::system_error(whole.error, std::generic_category(), "read");
  }
  return std::move(whole.bytes);
}

}  // namespace

LogChunkProducer::LogChunkProducer(const IndexJob& job, const Settings& settings, JSONLTail::Reader& reader)
    : job_(job), settings_(settings), reader_(reader), cursor_(job.cursor) {}

std::optional<int64_t> LogChunkProducer::parseTurn(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  uint64_t magnitude = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  constexpr auto largest = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  if (!negative) {
    if (magnitude > largest) return std::nullopt;
    return static_cast<int64_t>(magnitude);
  }
  if (magnitude > largest + 1) return std::nullopt;
  return magnitude == largest + 1 ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(magnitude);
}

std::string LogChunkProducer::capText(int64_t bytes) {
  constexpr int64_t mebibyte = int64_t{1} << 20;
  if (bytes > 0 && bytes % mebibyte == 0) return std::to_string(bytes / mebibyte) + " MiB";
  return std::to_string(bytes) + " bytes";
}

ChunkResult LogChunkProducer::next() {
  ChunkResult result;
  if (job_.cursorError) {
    result.error = job_.cursorError;
    result.last = true;
    return result;
  }
  try {
    ChunkResult read = job_.provider == ProviderID::grok ? grokFile() : nextLogChunk();
    // A result may wait a while for the writer, among many others: it keeps
    // no spare room.
    read.events.shrink_to_fit();
    return read;
  } catch (...) {
    result.error = std::current_exception();
    result.last = true;
    return result;
  }
}

void LogChunkProducer::parse(std::span<const std::string_view> lines, ChunkResult& result) {
  if (codex_) {
    for (const std::string_view line : lines) {
      if (!LogLineFilter::codex(line)) continue;
      auto parsed = codex_->consume(line, /*padded=*/true);
      if (!parsed) continue;
      if (UsageEvent* event = parsed->usageEvent()) result.events.push_back(std::move(*event));
      if (ProviderLimits* limits = parsed->limitsRecord()) {
        // A later reading replaces an earlier one; of equal times the first stays.
        if (!result.limits || limits->fetchedAt > result.limits->fetchedAt) result.limits = std::move(*limits);
      }
    }
    return;
  }
  for (const std::string_view line : lines) {
    if (!LogLineFilter::claude(line)) continue;
    if (auto event = ClaudeLogParser::event(line, /*padded=*/true)) result.events.push_back(std::move(*event));
  }
}

ChunkResult LogChunkProducer::nextLogChunk() {
  const int64_t chunk = std::max<int64_t>(settings_.chunkSize, 1);
  // The slice: the chunk halved while it stays above the wanted size and
  // even, so that a slice read that grows (doubling) past a line longer
  // than itself meets the chunk's own sizes.
  int64_t slice = chunk;
  while (slice / 2 >= std::max<int64_t>(settings_.sliceSize, 1) && slice % 2 == 0) slice /= 2;
  // A line the chunk holds whole is never skipped as over-long.
  const int64_t lineCap = std::max(settings_.lineCap, chunk - 1);
  const std::string& path = job_.file.path;

  // The first slice decides where the chunk starts, and returns the whole
  // chunk's result when its line is longer than the chunk itself.
  const JSONLTail::Reader::Chunk& first = reader_.read(path, cursor_, slice, lineCap);
  ChunkResult result;
  result.reset = first.reset;
  result.skipped = first.skipped;
  FileCursor next = first.cursor;
  const int64_t start = first.reset || !cursor_ ? 0 : cursor_->offset;
  const int64_t end =
      start > std::numeric_limits<int64_t>::max() - chunk ? std::numeric_limits<int64_t>::max() : start + chunk;
  // The fingerprint of the bytes before the chunk's end, as the slice that
  // ends it left it.
  const auto fingerprintIn = [](const FileCursor& cursor) -> std::optional<std::string> {
    const auto it = cursor.context.find(JSONLTail::fingerprintKey);
    if (it == cursor.context.end()) return std::nullopt;
    return it->second;
  };
  std::optional<std::string> fingerprint = fingerprintIn(next);
  if (job_.provider == ProviderID::codex) codex_.emplace(std::move(next.context), settings_.now);
  parse(first.lines, result);
  bool atEOF = first.atEOF;

  // Later slices, up to the chunk's end. A slice read grows past its size
  // over a long line, maybe past the chunk's end: then only its lines up to
  // the last line feed before the end belong to this chunk.
  FileCursor from{next.path, next.inode, next.offset, {}};
  while (!atEOF && from.offset < end) {
    const int64_t rest = end - from.offset;
    const JSONLTail::Reader::Chunk& part = reader_.read(path, from, std::min(slice, rest), lineCap);
    if (part.reset) break;  // replaced meanwhile: the next chunk starts over
    if (part.cursor.offset <= end) {
      parse(part.lines, result);
      if (part.cursor.offset != from.offset) fingerprint = fingerprintIn(part.cursor);
      from.offset = part.cursor.offset;
      atEOF = part.atEOF;
      continue;
    }
    // A skipped line held no line feed up to the end; otherwise the buffer
    // holds the file from the slice's start to past the end.
    if (!part.skipped.empty()) break;
    const char* const data = reader_.buffer().data();
    const auto* feed = static_cast<const char*>(memrchr(data, '\n', static_cast<size_t>(rest)));
    if (!feed) break;
    size_t count = 0;
    while (count < part.lines.size() && part.lines[count].data() < feed) ++count;
    parse(std::span(part.lines.data(), count), result);
    const auto consumed = static_cast<size_t>(feed + 1 - data);
    from.offset += static_cast<int64_t>(consumed);
    fingerprint = JSONLTail::fingerprint(std::string_view(data, consumed), from.offset);
    if (!fingerprint) fingerprint = JSONLTail::fingerprintOfFile(path, next.inode, from.offset);
    break;
  }
  next.offset = from.offset;
  result.last = atEOF;

  if (codex_) {
    next.context = codex_->context();
    codex_.reset();
  }
  if (fingerprint) {
    next.context[JSONLTail::fingerprintKey] = std::move(*fingerprint);
  } else {
    next.context.erase(JSONLTail::fingerprintKey);
  }
  next.context["provider"] = std::string(rawValue(job_.provider));
  cursor_ = next;
  result.cursor = std::move(next);

  // Let go of a buffer that grew far beyond a slice for a long line.
  if (reader_.buffer().size() > static_cast<size_t>(4 * slice) + (size_t{1} << 20)) reader_ = JSONLTail::Reader();
  return result;
}

ChunkResult LogChunkProducer::grokFile() {
  ChunkResult result;
  result.last = true;
  int64_t afterTurn = 0;
  if (cursor_) {
    const auto it = cursor_->context.find("lastTurn");
    if (it != cursor_->context.end()) afterTurn = parseTurn(it->second).value_or(0);
  }
  const std::string data = readWhole(job_.file, settings_.lineCap);
  GrokUsageParser::Result parsed = GrokUsageParser::events(data, afterTurn);
  result.events = std::move(parsed.events);

  // Only the context of a Grok cursor matters; path, inode and offset stay
  // those of the earlier cursor.
  FileCursor next = cursor_ ? *cursor_ : FileCursor{job_.file.path, 0, 0, {}};
  next.context["provider"] = std::string(rawValue(ProviderID::grok));
  next.context["lastTurn"] = std::to_string(parsed.lastTurn);
  next.context["mtime"] = job_.file.modificationTimeText();
  next.context["size"] = job_.file.sizeText();
  result.cursor = std::move(next);
  return result;
}

}  // namespace tokvane
