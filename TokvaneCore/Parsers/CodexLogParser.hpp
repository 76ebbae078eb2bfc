#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneCore/Limits/ProviderLimits.hpp"
#include "TokvaneCore/Usage/UsageEvent.hpp"

namespace tokvane {

// What one Codex log line gave: a usage event, the rate-limit state the tool
// saw at that moment, or both (a token-count line of a file without usage
// records carries the usage of the response and the limits).
struct CodexLine {
  std::optional<UsageEvent> usage_;
  std::optional<ProviderLimits> limits_;

  static CodexLine usage(UsageEvent event) { return CodexLine{std::move(event), std::nullopt}; }
  static CodexLine limits(ProviderLimits limits) { return CodexLine{std::nullopt, std::move(limits)}; }

  bool isUsage() const { return usage_.has_value(); }
  bool isLimits() const { return limits_.has_value(); }
  // The payload of that kind, or null when the line gave none.
  const UsageEvent* usageEvent() const { return usage_ ? &*usage_ : nullptr; }
  const ProviderLimits* limitsRecord() const { return limits_ ? &*limits_ : nullptr; }
  UsageEvent* usageEvent() { return usage_ ? &*usage_ : nullptr; }
  ProviderLimits* limitsRecord() { return limits_ ? &*limits_ : nullptr; }

  friend bool operator==(const CodexLine&, const CodexLine&) = default;
};

// Reads a Codex session log line by line. Usage lines name neither their
// model nor (always) their session; both come from earlier lines of the same
// file, so the parser carries them in a small context that the indexer keeps
// in the file's cursor between reads. Lines must be consumed in file order.
//
// Usage comes from two kinds of line. Newer tools write a usage record per
// response; older ones write a response's usage only in the token-count
// event, as the session's running total. Until a file has shown a usage
// record, each growth of that total counts as usage (the first total of a
// file counts whole; a repeated or unchanged total counts nothing; a total
// that went down counts nothing and becomes the new base). Once a file has
// shown a usage record, its token-count lines count nothing: the record of a
// response comes before its token count. The usage of a total is keyed by
// the total itself, so a total that another file replays (a sub-agent's log
// repeats its parent's lines) is counted once.
//
// The parser writes only the context keys "session", "model", "usageRecords"
// and "tokenTotal"; every other key is passed through untouched. A malformed
// or foreign line never changes the context. Nothing is thrown.
class CodexLogParser {
 public:
  // How far past `now` a line's time may lie and still be taken as the
  // current limits. A reading dated later would look newer than every real
  // one and pin the stored limits.
  static constexpr double maxLimitsClockSkew = 300;

  // Context keys: "1" once the file has shown a usage record, and the last
  // running total read from a token-count line.
  static constexpr const char* usageRecordsKey = "usageRecords";
  static constexpr const char* tokenTotalKey = "tokenTotal";

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
