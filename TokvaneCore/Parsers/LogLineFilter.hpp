#pragma once

#include <string_view>

namespace tokvane {

// Cheap byte tests that run before a log line is parsed: a line that cannot
// hold usage is never handed to a parser. Plain substring searches anywhere
// in the line; the line is not decoded.
struct LogLineFilter {
  // Claude Code: the seven bytes "usage" including both double quotes.
  static bool claude(std::string_view line);
  // Codex: any of "token_usage_record", "token_count", "turn_context", "session_meta".
  static bool codex(std::string_view line);
};

}  // namespace tokvane
