#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneCore/Limits/ProviderLimits.hpp"
#include "TokvaneCore/Usage/UsageEvent.hpp"

namespace tokvane {

// What one Codex log line gave: a usage event or the rate-limit state the
// tool saw at that moment.
struct CodexLine {
  std::variant<UsageEvent, ProviderLimits> value;

  static CodexLine usage(UsageEvent event) { return CodexLine{std::move(event)}; }
  static CodexLine limits(ProviderLimits limits) { return CodexLine{std::move(limits)}; }

  bool isUsage() const { return std::holds_alternative<UsageEvent>(value); }
  bool isLimits() const { return std::holds_alternative<ProviderLimits>(value); }
  // The payload of that kind, or null for the other kind.
  const UsageEvent* usageEvent() const { return std::get_if<UsageEvent>(&value); }
  const ProviderLimits* limitsRecord() const { return std::get_if<ProviderLimits>(&value); }

  friend bool operator==(const CodexLine&, const CodexLine&) = default;
};

// Reads a Codex session log line by line. Usage lines name neither their
// model nor (always) their session; both come from earlier lines of the same
// file, so the parser carries them in a small context that the indexer keeps
// in the file's cursor between reads. Lines must be consumed in file order.
//
// The parser writes only the context keys "session" and "model"; every other
// key is passed through untouched. A malformed or foreign line never changes
// the context. Nothing is thrown.
class CodexLogParser {
 public:
  // How far past `now` a line's time may lie and still be taken as the
  // current limits. A reading dated later would look newer than every real
  // one and pin the stored limits.
  static constexpr double maxLimitsClockSkew = 300;

  // `now` bounds the time of limits records (see maxLimitsClockSkew).
  CodexLogParser(std::map<std::string, std::string> context, Date now);

  // Reads one line (without its newline). With `padded`, the caller
  // guarantees simdjson::SIMDJSON_PADDING readable bytes after the line, so
  // it is parsed in place.
  std::optional<CodexLine> consume(std::string_view line, bool padded = false);

  const std::map<std::string, std::string>& context() const { return context_; }

 private:
  std::map<std::string, std::string> context_;
  Date now_;
};

}  // namespace tokvane
