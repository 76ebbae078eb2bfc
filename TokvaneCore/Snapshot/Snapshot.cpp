#include "TokvaneCore/Snapshot/Snapshot.hpp"

#include <cmath>
#include <unordered_map>

#include "TokvaneCore/Foundation/Saturating.hpp"

namespace tokvane {

using namespace keyed;

namespace {

// Dates in the snapshot file are always whole-second UTC texts.
constexpr DateCoding dateCoding = DateCoding::iso8601;

ProviderID decodeProvider(const JSON& value, std::string_view key) {
  const std::string text = decodeString(value, key);
  const auto provider = providerFromRawValue(text);
  if (!provider) {
    throw DecodingError("data corrupted at \"" + std::string(key) +
                        "\": Cannot initialize ProviderID from invalid String value " + text);
  }
  return *provider;
}

const JSON& requiredArray(const JSON& object, std::string_view key) {
  const JSON& list = required(object, key);
  if (!list.is_array()) throw DecodingError("type mismatch for key \"" + std::string(key) + "\": expected an array");
  return list;
}

// A provider's token and cost sums over the summary's day points.
struct Usage {
  int64_t tokens = 0;
  double costUSD = 0;
};

}  // namespace

// MARK: - JSON

JSON Snapshot::Provider::toJSON() const {
  JSON json = JSON::object();
  json["id"] = std::string(rawValue(id));
  if (plan) json["plan"] = *plan;
  JSON list = JSON::array();
  for (const auto& window : windows) list.push_back(window.toJSON(dateCoding));
  json["windows"] = std::move(list);
  if (credits) json["credits"] = credits->toJSON();
  json["status"] = tokvane::toJSON(status);
  json["tokens30d"] = tokens30d;
  json["cost30dUSD"] = encodeDouble(cost30dUSD);
  json["approximate"] = approximate;
  return json;
}

Snapshot::Provider Snapshot::Provider::fromJSON(const JSON& json) {
  Provider provider;
  provider.id = decodeProvider(required(json, "id"), "id");
  provider.plan = optionalString(json, "plan");
  for (const JSON& window : requiredArray(json, "windows")) {
    provider.windows.push_back(LimitWindow::fromJSON(window, dateCoding));
  }
  if (const JSON* credits = optional(json, "credits")) provider.credits = Credits::fromJSON(*credits);
  provider.status = providerStatusFromJSON(required(json, "status"));
  provider.tokens30d = decodeInt64(required(json, "tokens30d"), "tokens30d");
  provider.cost30dUSD = decodeDouble(required(json, "cost30dUSD"), "cost30dUSD");
  provider.approximate = decodeBool(required(json, "approximate"), "approximate");
  return provider;
}

JSON Snapshot::toJSON() const {
  JSON json = JSON::object();
  json["generatedAt"] = encodeDate(generatedAt, dateCoding);
  JSON list = JSON::array();
  for (const auto& provider : providers) list.push_back(provider.toJSON());
  json["providers"] = std::move(list);
  json["costTodayUSD"] = encodeDouble(costTodayUSD);
  json["cost30dUSD"] = encodeDouble(cost30dUSD);
  JSON costs = JSON::array();
  for (double cost : dailyCost30) costs.push_back(encodeDouble(cost));
  json["dailyCost30"] = std::move(costs);
  return json;
}

Snapshot Snapshot::fromJSON(const JSON& json) {
  Snapshot snapshot;
  snapshot.generatedAt = decodeDate(required(json, "generatedAt"), dateCoding, "generatedAt");
  for (const JSON& provider : requiredArray(json, "providers")) {
    snapshot.providers.push_back(Provider::fromJSON(provider));
  }
  snapshot.costTodayUSD = decodeDouble(required(json, "costTodayUSD"), "costTodayUSD");
  snapshot.cost30dUSD = decodeDouble(required(json, "cost30dUSD"), "cost30dUSD");
  for (const JSON& cost : requiredArray(json, "dailyCost30")) {
    snapshot.dailyCost30.push_back(decodeDouble(cost, "dailyCost30"));
  }
  return snapshot;
}

std::string Snapshot::encoded() const {
  // Every text in a snapshot arrived through a validating JSON parser, so it
  // is UTF-8; should one not be, it is written with U+FFFD in place of the
  // bad bytes rather than costing the widget its whole snapshot.
  return toJSON().dump(-1, ' ', false, JSON::error_handler_t::replace);
}

Snapshot Snapshot::decode(std::string_view text) { return fromJSON(keyed::parse(text)); }

// MARK: - Building

Snapshot Snapshot::make(const UsageSummary& summary, const std::map<ProviderID, ProviderLimits>& limits,
                        const std::vector<ProviderID>& order, Date now, const Calendar& calendar) {
  // The cost of each day over all providers, keyed by the start of the day.
  std::map<Date, double> costByDay;
  std::unordered_map<ProviderID, Usage> usageByProvider;
  for (const auto& point : summary.daily) {
    if (const auto day = calendar.startOfDay(point.day)) costByDay[*day] += point.costUSD;
    Usage& usage = usageByProvider[point.provider];
    usage.tokens = saturating::add(usage.tokens, point.tokens);
    usage.costUSD += point.costUSD;
  }
  std::unordered_map<ProviderID, const UsageSummary::Tool*> toolByProvider;
  for (const auto& tool : summary.tools) toolByProvider.try_emplace(tool.provider, &tool);

  auto costOfDay = [&](std::optional<Date> date) -> double {
    if (!date) return 0;
    const auto day = calendar.startOfDay(*date);
    if (!day) return 0;
    const auto it = costByDay.find(*day);
    return it == costByDay.end() ? 0 : it->second;
  };

  Snapshot snapshot;
  snapshot.generatedAt = now;
  for (ProviderID id : order) {
    const auto limitsIt = limits.find(id);
    const ProviderLimits* providerLimits = limitsIt == limits.end() ? nullptr : &limitsIt->second;
    const auto toolIt = toolByProvider.find(id);
    const UsageSummary::Tool* tool = toolIt == toolByProvider.end() ? nullptr : toolIt->second;
    const auto usageIt = usageByProvider.find(id);
    const Usage* usage = usageIt == usageByProvider.end() ? nullptr : &usageIt->second;

    const bool hasUsage = usage && !(usage->tokens < 1 && usage->costUSD <= 0);
    if (!providerLimits && !tool && !hasUsage) continue;

    Provider entry;
    entry.id = id;
    if (providerLimits) {
      entry.plan = providerLimits->plan;
      entry.windows = providerLimits->windows;
      entry.credits = providerLimits->credits;
      entry.status = providerLimits->status;
    } else {
      entry.status = ProviderStatus::unavailable;
    }
    if (tool) {
      entry.tokens30d = tool->tokens;
      entry.cost30dUSD = tool->costUSD;
      entry.approximate = tool->approximate;
    } else if (usage) {
      entry.tokens30d = usage->tokens;
      entry.cost30dUSD = usage->costUSD;
    }
    snapshot.providers.push_back(std::move(entry));
  }

  const auto base = calendar.startOfDay(summary.windowEnd);
  snapshot.dailyCost30.reserve(30);
  for (int k = -29; k <= 0; ++k) {
    snapshot.dailyCost30.push_back(base ? costOfDay(calendar.addingDays(*base, k)) : 0);
  }
  snapshot.costTodayUSD = costOfDay(now);
  snapshot.cost30dUSD = summary.totalCostUSD;
  return snapshot;
}

// MARK: - Placeholder

namespace {

double roundedToCents(double value) { return std::round(value * 100) / 100; }

Snapshot makePlaceholder() {
  const Date g = Date::fromUnix(1'793'275'200);  // 2026-10-29 12:00:00 UTC

  Snapshot::Provider claude;
  claude.id = ProviderID::claude;
  claude.plan = "Max 5x";
  claude.windows = {
      LimitWindow("session", "Session", 0.15, 18'000, g + 780, LimitSource::live()),
      LimitWindow("weekly", "Weekly", 0.42, 604'800, g + 259'200, LimitSource::live()),
  };
  claude.status = ProviderStatus::ok;
  claude.tokens30d = 182'400'000;
  claude.cost30dUSD = 214.6;
  claude.approximate = false;

  Snapshot::Provider codex;
  codex.id = ProviderID::codex;
  codex.plan = "Plus";
  codex.windows = {LimitWindow("weekly", "Weekly", 0.01, 604'800, g + 511'200, LimitSource::live())};
  codex.credits = Credits{"Credits", 12.5, std::nullopt, std::nullopt, false};
  codex.status = ProviderStatus::ok;
  codex.tokens30d = 64'300'000;
  codex.cost30dUSD = 71.2;
  codex.approximate = false;

  Snapshot::Provider grok;
  grok.id = ProviderID::grok;
  grok.status = ProviderStatus::unavailable;
  grok.tokens30d = 5'200'000;
  grok.cost30dUSD = 6.8;
  grok.approximate = true;

  Snapshot snapshot;
  snapshot.generatedAt = g;
  snapshot.providers = {claude, codex, grok};
  // A wavy month between $3.50 and $10 a day.
  for (int i = 0; i < 30; ++i) {
    snapshot.dailyCost30.push_back(roundedToCents((std::abs(std::sin(0.9 * i)) * 0.65 + 0.35) * 10));
  }
  snapshot.costTodayUSD = snapshot.dailyCost30.back();
  snapshot.cost30dUSD = 292.6;
  return snapshot;
}

}  // namespace

const Snapshot& Snapshot::placeholder() {
  static const Snapshot value = makePlaceholder();
  return value;
}

}  // namespace tokvane
