#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "Tokvane/Engine/Indexing/ChunkResult.hpp"
#include "Tokvane/Engine/Indexing/IndexJob.hpp"
#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneCore/Logs/JSONLTail.hpp"
#include "TokvaneCore/Parsers/CodexLogParser.hpp"

namespace tokvane {

// Reads one file of an index run chunk after chunk and parses each chunk
// into a ChunkResult: a JSON-lines log from its stored cursor (lines
// filtered by their byte needles, then parsed; the Codex context carried
// from chunk to chunk), a Grok usage file whole. It touches nothing but the
// file: the ledger is the writer's. The results depend only on the file,
// the job and the settings, so whichever thread produces them, they are
// the same.
//
// A chunk is what one tail read of `chunkSize` bytes gives (its lines, the
// cursor after them, whether it reached the end of the file, the over-long
// lines it passed), but it is read in slices of about `sliceSize` bytes and
// each slice parsed as it comes, so a reader holds a slice, not a chunk.
class LogChunkProducer {
 public:
  struct Settings {
    // A caller that comes to wait for the ledger while the indexer writes
    // waits for the chunk in hand and a commit: 2 MiB of log (a few hundred
    // events) keeps that within a frame.
    int64_t chunkSize = int64_t{2} << 20;
    // The longest line held in memory, and the largest Grok file read.
    int64_t lineCap = JSONLTail::defaultLineCap;
    // The run's clock, for the Codex parser's limits records.
    Date now;
    // About how much of a chunk is held at once.
    int64_t sliceSize = int64_t{1} << 20;
  };

  // `job` and `reader` must outlive the producer.
  LogChunkProducer(const IndexJob& job, const Settings& settings, JSONLTail::Reader& reader);

  // The next chunk's result. Call no more after one with `last`.
  ChunkResult next();

  // The decimal text of a Grok cursor's last turn: an optional sign and at
  // least one digit, nothing else, within 64 bits.
  static std::optional<int64_t> parseTurn(std::string_view text);

  // A byte limit for messages: "64 MiB", or "1000 bytes" when it is not a
  // whole number of MiB.
  static std::string capText(int64_t bytes);

 private:
  ChunkResult nextLogChunk();
  ChunkResult grokFile();
  // Filters and parses lines of the chunk being read into `result`.
  void parse(std::span<const std::string_view> lines, ChunkResult& result);

  const IndexJob& job_;
  Settings settings_;
  JSONLTail::Reader& reader_;
  std::optional<FileCursor> cursor_;
  // The Codex parser of the chunk being read.
  std::optional<CodexLogParser> codex_;
};

}  // namespace tokvane
