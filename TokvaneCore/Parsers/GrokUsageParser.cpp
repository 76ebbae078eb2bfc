#include "TokvaneCore/Parsers/GrokUsageParser.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "TokvaneCore/Foundation/ISO8601.hpp"
#include "TokvaneCore/Foundation/Saturating.hpp"
#include "TokvaneCore/Parsers/LogJSON.hpp"

namespace tokvane {

namespace {

using logjson::Element;
using simdjson::dom::element_type;

// A turn number: any JSON number (not a boolean) as a signed 64-bit integer,
// the fraction truncated toward zero and values beyond the range saturated.
std::optional<int64_t> turnNumber(Element turn) {
  Element value;
  if (turn.at_key("turnNumber").get(value) != simdjson::SUCCESS) return std::nullopt;
  switch (value.type()) {
    case element_type::INT64:
      return value.get_int64().value_unsafe();
    case element_type::UINT64:
      return saturating::fromUnsigned(value.get_uint64().value_unsafe());
    case element_type::DOUBLE:
      return saturating::fromDouble(value.get_double().value_unsafe());
    default:
      return std::nullopt;
  }
}

struct Turn {
  int64_t number;
  Element object;
};

UsageEvent modelEvent(std::string_view sessionID, int64_t turn, std::string_view model, Element entry,
                      Date endedAt) {
  const int64_t input = logjson::count(entry, "inputTokens");
  const int64_t cachedRead = logjson::count(entry, "cachedReadTokens");

  UsageEvent event;
  event.provider = ProviderID::grok;
  event.model = std::string(model);
  event.sessionID = std::string(sessionID);
  event.dedupKey = std::string(sessionID) + "#" + std::to_string(turn) + "#" + std::string(model);
  event.timestamp = endedAt;
  const int64_t uncached = saturating::sub(input, cachedRead);
  event.tokens.uncachedInput = uncached < 0 ? 0 : uncached;
  event.tokens.cacheRead = cachedRead;
  event.tokens.cacheWrite5m = logjson::count(entry, "cacheCreationTokens");
  event.tokens.cacheWrite1h = 0;
  event.tokens.output = logjson::count(entry, "outputTokens");
  event.tokens.reasoning = logjson::count(entry, "reasoningTokens");
  // A cost beyond range (1e400 in the file) is left out rather than carried
  // as an infinity into sums and stored JSON; the tokens still count.
  if (const auto ticks = logjson::amount(entry, "costUsdTicks")) {
    const double usd = *ticks * 1e-10;
    if (std::isfinite(usd)) event.reportedCostUSD = usd;
  }
  return event;
}

}  // namespace

GrokUsageParser::Result GrokUsageParser::events(std::string_view data, int64_t afterTurn) {
  Result result{{}, afterTurn};
  const auto root = logjson::threadParser().parse(data);
  if (!root || !root->is_object()) return result;
  const auto sessionID = logjson::string(*root, "sessionId");
  simdjson::dom::array turnsArray;
  if (!sessionID || root->at_key("turns").get(turnsArray) != simdjson::SUCCESS) return result;

  std::vector<Turn> turns;
  for (const Element turn : turnsArray) {
    if (!turn.is_object()) return result;
    if (const auto number = turnNumber(turn); number && *number > afterTurn) turns.push_back({*number, turn});
  }
  std::stable_sort(turns.begin(), turns.end(), [](const Turn& a, const Turn& b) { return a.number < b.number; });

  bool sawUnfinished = false;
  std::vector<std::pair<std::string_view, Element>> models;
  for (const auto& turn : turns) {
    const auto endedAtText = logjson::string(turn.object, "endedAt");
    const bool finished = endedAtText && !endedAtText->empty();
    if (!finished) {
      sawUnfinished = true;
    } else if (!sawUnfinished) {
      result.lastTurn = turn.number;
    }

    const auto modelUsage = logjson::object(turn.object, "modelUsage");
    if (!modelUsage || !endedAtText) continue;
    const auto endedAt = ISO8601::parse(*endedAtText);
    if (!endedAt) continue;

    simdjson::dom::object entries;
    if (modelUsage->get(entries) != simdjson::SUCCESS) continue;
    models.clear();
    for (const auto field : entries) models.emplace_back(field.key, field.value);
    std::stable_sort(models.begin(), models.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 0; i < models.size(); ++i) {
      // A name written twice in one object is one model: the first entry wins,
      // as it does for every other key lookup.
      if (i > 0 && models[i].first == models[i - 1].first) continue;
      if (!models[i].second.is_object()) continue;
      result.events.push_back(modelEvent(*sessionID, turn.number, models[i].first, models[i].second, *endedAt));
    }
  }
  return result;
}

}  // namespace tokvane
