#include "TokvaneCore/Parsers/CodexLogParser.hpp"

#include <utility>
#include <vector>

#include "TokvaneCore/Foundation/JSONNumbers.hpp"
#include "TokvaneCore/Foundation/Saturating.hpp"
#include "TokvaneCore/Foundation/TextCase.hpp"
#include "TokvaneCore/Parsers/LogJSON.hpp"

namespace tokvane {

namespace {

using logjson::Element;

std::optional<UsageEvent> usageEvent(Element root, Element payload,
                                     const std::map<std::string, std::string>& context) {
  const auto responseID = logjson::string(payload, "response_id");
  const auto usage = logjson::object(payload, "usage");
  const auto time = logjson::timestamp(root, "timestamp");
  if (!responseID || !usage || !time) return std::nullopt;

  const int64_t input = logjson::count(*usage, "input_tokens");
  const int64_t cached = logjson::count(*usage, "cached_input_tokens");

  UsageEvent event;
  event.provider = ProviderID::codex;
  const auto model = context.find("model");
  event.model = model != context.end() ? model->second : "unknown";
  if (const auto session = context.find("session"); session != context.end()) {
    event.sessionID = session->second;
  } else if (const auto fromPayload = logjson::string(payload, "session_id")) {
    event.sessionID = std::string(*fromPayload);
  }
  event.dedupKey = std::string(*responseID);
  event.timestamp = *time;
  const int64_t uncached = saturating::sub(input, cached);
  event.tokens.uncachedInput = uncached < 0 ? 0 : uncached;
  event.tokens.cacheRead = cached;
  event.tokens.cacheWrite5m = logjson::count(*usage, "cache_write_input_tokens");
  event.tokens.cacheWrite1h = 0;
  event.tokens.output = logjson::count(*usage, "output_tokens");
  event.tokens.reasoning = logjson::count(*usage, "reasoning_output_tokens");
  return event;
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
    if (auto event = usageEvent(*root, *payload, context_)) return CodexLine::usage(std::move(*event));
    return std::nullopt;
  }
  if (*type == "event_msg") {
    if (logjson::string(*payload, "type") != std::optional<std::string_view>("token_count")) return std::nullopt;
    if (auto limits = limitsRecord(*root, *payload, now_)) return CodexLine::limits(std::move(*limits));
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace tokvane
