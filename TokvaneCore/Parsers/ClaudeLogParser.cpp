#include "TokvaneCore/Parsers/ClaudeLogParser.hpp"

#include <string>

#include "TokvaneCore/Parsers/LogJSON.hpp"

namespace tokvane {

std::optional<UsageEvent> ClaudeLogParser::event(std::string_view line, bool padded) noexcept {
  try {
    const auto root = logjson::threadParser().parse(line, padded);
    if (!root || !root->is_object()) return std::nullopt;

    const auto type = logjson::string(*root, "type");
    if (!type || *type != "assistant") return std::nullopt;
    const auto message = logjson::object(*root, "message");
    if (!message) return std::nullopt;
    const auto usage = logjson::object(*message, "usage");
    if (!usage) return std::nullopt;

    auto key = logjson::string(*message, "id");
    if (!key) key = logjson::string(*root, "requestId");
    if (!key) return std::nullopt;

    const auto timestamp = logjson::timestamp(*root, "timestamp");
    if (!timestamp) return std::nullopt;

    const std::string_view model = logjson::string(*message, "model").value_or("unknown");
    if (model == "<synthetic>") return std::nullopt;

    TokenCounts tokens;
    tokens.uncachedInput = logjson::count(*usage, "input_tokens");
    tokens.cacheRead = logjson::count(*usage, "cache_read_input_tokens");
    tokens.output = logjson::count(*usage, "output_tokens");
    if (const auto details = logjson::object(*usage, "output_tokens_details")) {
      tokens.reasoning = logjson::count(*details, "thinking_tokens");
    }
    // The split by lifetime, when present, replaces the single total.
    if (const auto cacheCreation = logjson::object(*usage, "cache_creation")) {
      tokens.cacheWrite5m = logjson::count(*cacheCreation, "ephemeral_5m_input_tokens");
      tokens.cacheWrite1h = logjson::count(*cacheCreation, "ephemeral_1h_input_tokens");
    } else {
      tokens.cacheWrite5m = logjson::count(*usage, "cache_creation_input_tokens");
    }
    // Counts are never negative, so a saturated sum of 0 means nothing was processed.
    if (tokens.processed() <= 0) return std::nullopt;

    UsageEvent event;
    event.provider = ProviderID::claude;
    event.model = std::string(model);
    event.sessionID = std::string(logjson::string(*root, "sessionId").value_or(""));
    event.dedupKey = std::string(*key);
    event.timestamp = *timestamp;
    event.tokens = tokens;
    return event;
  } catch (...) {
    // Only allocation can fail here; a line that cannot be turned into an
    // event yields nothing.
    return std::nullopt;
  }
}

}  // namespace tokvane
