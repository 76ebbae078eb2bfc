#pragma once

#include <exception>
#include <optional>
#include <vector>

#include "TokvaneCore/Limits/ProviderLimits.hpp"
#include "TokvaneCore/Logs/FileCursor.hpp"
#include "TokvaneCore/Logs/JSONLTail.hpp"
#include "TokvaneCore/Usage/UsageEvent.hpp"

namespace tokvane {

// What reading and parsing one chunk of a log file gave: everything the
// writer needs to ingest it and move the file's cursor, without the chunk's
// bytes. A Grok usage file is one chunk.
struct ChunkResult {
  // The chunk's usage events, in file order.
  std::vector<UsageEvent> events;
  // Codex: the chunk's latest limits record (the first of equal times).
  std::optional<ProviderLimits> limits;
  // The cursor to store once the events are in, context keys included.
  std::optional<FileCursor> cursor;
  // The stored cursor no longer fitted and the file started over.
  bool reset = false;
  // Lines longer than the line cap that were passed over.
  std::vector<JSONLTail::SkippedLine> skipped;
  // No chunk of this file follows.
  bool last = false;
  // Reading failed: no cursor, and the file stops here.
  std::exception_ptr error;
};

}  // namespace tokvane
