#pragma once

#include <optional>
#include <string_view>

#include "TokvaneCore/Usage/UsageEvent.hpp"

namespace tokvane {

// Turns one line of a Claude Code session log into a usage event. Only an
// "assistant" line whose message carries a "usage" object counts; every
// other line, and every malformed or partial one, yields nothing. Each line
// stands alone: the parser keeps no state and never throws.
struct ClaudeLogParser {
  // `line` is one log line without its line feed. With `padded`, the caller
  // guarantees simdjson::SIMDJSON_PADDING readable bytes after it (as
  // JSONLTail::Reader does), and the line is parsed in place.
  static std::optional<UsageEvent> event(std::string_view line, bool padded = false) noexcept;
};

}  // namespace tokvane
