#include "TokvaneCore/Parsers/CodexLogParser.hpp"

#include <charconv>
#include <iterator>
#include <system_error>
#include <utility>
#include <vector>

#include "TokvaneCore/Foundation/JSONNumbers.hpp"
#include "TokvaneCore/Foundation/Saturating.hpp"
#include "TokvaneCore/Foundation/TextCase.hpp"
#include "TokvaneCore/Parsers/LogJSON.hpp"

namespace tokvane {

namespace {

using logjson::Element;

// A usage object's five counts: a usage record's usage, or a token-count
// line's running total.
struct Usage {
  int64_t input = 0, cached = 0, writes = 0, output = 0, reasoning = 0;

  static Usage of(Element usage) {
    return Usage{logjson::count(usage, "input_tokens"), logjson::count(usage, "cached_input_tokens"),
                 logjson::count(usage, "cache_write_input_tokens"), logjson::count(usage, "output_tokens"),
                 logjson::count(usage, "reasoning_output_tokens")};
  }

  // The context's text of a total: the five counts in decimal, separated by
  // single blanks. None when the text is not such a total.
  static std::optional<Usage> parse(std::string_view text) {
    Usage usage;
    int64_t* fields[] = {&usage.input, &usage.cached, &usage.writes, &usage.output, &usage.reasoning};
    const char* at = text.data();
    const char* const end = text.data() + text.size();
    for (size_t i = 0; i < std::size(fields); ++i) {
      if (i > 0) {
        if (at == end || *at != ' ') return std::nullopt;
        ++at;
      }
      if (at == end || *at < '0' || *at > '9') return std::nullopt;
      const auto [next, error] = std::from_chars(at, end, *fields[i]);
      if (error != std::errc{}) return std::nullopt;
      at = next;
    }
    if (at != end) return std::nullopt;
    return usage;
  }

  std::string text(char separator) const {
    std::string out;
    for (const int64_t value : {input, cached, writes, output, reasoning}) {
      if (!out.empty()) out += separator;
      out += std::to_string(value);
    }
    return out;
  }

  bool noneBelow(const Usage& other) const {
    return input >= other.input && cached >= other.cached && writes >= other.writes && output >= other.output &&
           reasoning >= other.reasoning;
  }

  // What grew since `base`, which is nowhere above this.
  Usage since(const Usage& base) const {
    return Usage{input - base.input, cached - base.cached, writes - base.writes, output - base.output,
                 reasoning - base.reasoning};
  }

  // Cached input and cache writes are both parts of the input, reasoning a
  // part of the output; the uncached input is what remains of the input,
  // never below 0.
  TokenCounts counts() const {
    TokenCounts tokens;
    const int64_t uncached = saturating::sub(saturating::sub(input, cached), writes);
    tokens.uncachedInput = uncached < 0 ? 0 : uncached;
    tokens.cacheRead = cached;
    tokens.cacheWrite5m = writes;
    tokens.cacheWrite1h = 0;
    tokens.output = output;
    tokens.reasoning = reasoning;
    return tokens;
  }

  friend bool operator==(const Usage&, const Usage&) = default;
};

UsageEvent codexEvent(const std::map<std::string, std::string>& context, Element payload, std::string key, Date time,
                      const TokenCounts& tokens) {
  UsageEvent event;
  event.provider = ProviderID::codex;
  const auto model = context.find("model");
  event.model = model != context.end() ? model->second : "unknown";
  if (const auto session = context.find("session"); session != context.end()) {
    event.sessionID = session->second;
  } else if (const auto fromPayload = logjson::string(payload, "session_id")) {
    event.sessionID = std::string(*fromPayload);
  }
  event.dedupKey = std::move(key);
  event.timestamp = time;
  event.tokens = tokens;
  return event;
}

std::optional<UsageEvent> usageEvent(Element root, Element payload,
                                     const std::map<std::string, std::string>& context) {
  const auto responseID = logjson::string(payload, "response_id");
  const auto usage = logjson::object(payload, "usage");
  const auto time = logjson::timestamp(root, "timestamp");
  if (!responseID || !usage || !time) return std::nullopt;
  return codexEvent(context, payload, std::string(*responseID), *time, Usage::of(*usage).counts());
}

// The usage of a token-count line of a file without usage records: the
// growth of the running total since the file's previous total, which the
// context keeps (the line's total becomes it). None when the line holds no
// total or the total did not grow.
std::optional<UsageEvent> totalGrowth(Element root, Element payload, std::map<std::string, std::string>& context) {
  const auto info = logjson::object(payload, "info");
  if (!info) return std::nullopt;
  const auto usage = logjson::object(*info, "total_token_usage");
  const auto time = logjson::timestamp(root, "timestamp");
  if (!usage || !time) return std::nullopt;

  const Usage total = Usage::of(*usage);
  std::optional<Usage> previous;
  if (const auto it = context.find(CodexLogParser::tokenTotalKey); it != context.end()) {
    previous = Usage::parse(it->second);
  }
  context[CodexLogParser::tokenTotalKey] = total.text(' ');
  Usage growth = total;
  if (previous) {
    // Unchanged: a repeated snapshot. Lower anywhere: the total was reset,
    // and only serves as the base from now on.
    if (total == *previous || !total.noneBelow(*previous)) return std::nullopt;
    growth = total.since(*previous);
  }
  if (growth == Usage{}) return std::nullopt;  // a first total of nothing
  return codexEvent(context, payload, "codex-total:" + total.text(':'), *time, growth.counts());
}

// A window from the object under `key`, or none when there is no such object
// or its used percent is not a usable number.
std::optional<LimitWindow> window(Element rateLimits, std::string_view key, std::string id, std::string label,
                                  LimitSource source) {
  const auto object = logjson::object(rateLimits, key);
  if (!object) return std::nullopt;
  const auto usedPercent = logjson::amount(*object, "used_percent");
  if (!usedPercent) return std::nullopt;

  std::optional<double> duration;
  if (const auto minutes = logjson::amount(*object, "window_minutes")) {
    const double seconds = *minutes * 60;
    if (JSONNumbers::isUsableAmount(seconds)) duration = seconds;
  }
  std::optional<Date> resetsAt;
  if (const auto unix = logjson::amount(*object, "resets_at")) {
    // Reset times are kept only within 1970-01-01 ... 9999-12-31 (UTC).
    if (Date::isPlausibleUnixTime(*unix)) resetsAt = Date::fromUnix(*unix);
  }
  // The window clamps the fraction to 0...1.
  return LimitWindow(std::move(id), std::move(label), *usedPercent / 100, duration, resetsAt, source);
}

std::optional<ProviderLimits> limitsRecord(Element root, Element payload, Date now) {
  const auto rateLimits = logjson::object(payload, "rate_limits");
  const auto time = logjson::timestamp(root, "timestamp");
  if (!rateLimits || !time) return std::nullopt;
  if (*time > now + CodexLogParser::maxLimitsClockSkew) return std::nullopt;

  const auto source = LimitSource::local(*time);
  ProviderLimits limits;
  if (auto session = window(*rateLimits, "primary", "session", "Session", source)) {
    limits.windows.push_back(std::move(*session));
  }
  if (auto weekly = window(*rateLimits, "secondary", "weekly", "Weekly", source)) {
    limits.windows.push_back(std::move(*weekly));
  }

  if (const auto credits = logjson::object(*rateLimits, "credits")) {
    const bool unlimited = logjson::flag(*credits, "unlimited");
    if (unlimited || logjson::flag(*credits, "has_credits")) {
      limits.credits = Credits{"Credits", logjson::amount(*credits, "balance"), std::nullopt, std::nullopt,
                               unlimited};
    }
  }
  if (limits.windows.empty() && !limits.credits) return std::nullopt;

  if (const auto plan = logjson::string(*rateLimits, "plan_type"); plan && !plan->empty()) {
    limits.plan = capitalizingFirstLetter(*plan);
  }
  limits.status = ProviderStatus::ok;
  limits.fetchedAt = *time;
  return limits;
}

}  // namespace

CodexLogParser::CodexLogParser(std::map<std::string, std::string> context, Date now)
    : context_(std::move(context)), now_(now) {}

std::optional<CodexLine> CodexLogParser::consume(std::string_view line, bool padded) {
  const auto root = logjson::threadParser().parse(line, padded);
  if (!root || !root->is_object()) return std::nullopt;
  const auto type = logjson::string(*root, "type");
  const auto payload = logjson::object(*root, "payload");
  if (!type || !payload) return std::nullopt;

  if (*type == "session_meta") {
    if (const auto id = logjson::string(*payload, "id")) context_["session"] = std::string(*id);
    return std::nullopt;
  }
  if (*type == "turn_context") {
    if (const auto model = logjson::string(*payload, "model")) context_["model"] = std::string(*model);
    return std::nullopt;
  }
  if (*type == "token_usage_record") {
    context_[usageRecordsKey] = "1";
    if (auto event = usageEvent(*root, *payload, context_)) return CodexLine::usage(std::move(*event));
    return std::nullopt;
  }
  if (*type == "event_msg") {
    if (logjson::string(*payload, "type") != std::optional<std::string_view>("token_count")) return std::nullopt;
    CodexLine line;
    if (!context_.contains(usageRecordsKey)) line.usage_ = totalGrowth(*root, *payload, context_);
    line.limits_ = limitsRecord(*root, *payload, now_);
    if (!line.usage_ && !line.limits_) return std::nullopt;
    return line;
  }
  return std::nullopt;
}

}  // namespace tokvane
