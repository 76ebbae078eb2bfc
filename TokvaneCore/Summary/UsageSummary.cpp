#include "TokvaneCore/Summary/UsageSummary.hpp"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <numbers>
#include <unordered_map>


namespace tokvane {

using namespace keyed;

namespace {

JSON encodeProvider(ProviderID provider) { return JSON(std::string(rawValue(provider))); }

ProviderID decodeProvider(const JSON& value, std::string_view key) {
  const std::string text = decodeString(value, key);
  const auto provider = providerFromRawValue(text);
  if (!provider) {
    throw DecodingError("data corrupted at \"" + std::string(key) +
                        "\": Cannot initialize ProviderID from invalid String value " + text);
  }
  return *provider;
}

template <typename Element, typename Decode>
std::vector<Element> decodeList(const JSON& object, std::string_view key, Decode decode) {
  const JSON& list = required(object, key);
  if (!list.is_array()) {
    throw DecodingError("type mismatch for key \"" + std::string(key) + "\": expected an array");
  }
  std::vector<Element> elements;
  elements.reserve(list.size());
  for (const JSON& element : list) elements.push_back(decode(element));
  return elements;
}

template <typename Element, typename Encode>
JSON encodeList(const std::vector<Element>& elements, Encode encode) {
  JSON list = JSON::array();
  for (const Element& element : elements) list.push_back(encode(element));
  return list;
}

int decodeDays(const JSON& value) {
  const int64_t days = decodeInt64(value, "days");
  if (days < INT_MIN || days > INT_MAX) {
    throw DecodingError("data corrupted at \"days\": " + std::to_string(days) + " does not fit in Int");
  }
  return static_cast<int>(days);
}

}  // namespace

// MARK: Records

JSON UsageSummary::Tool::toJSON() const {
  JSON json = JSON::object();
  json["provider"] = encodeProvider(provider);
  json["sessions"] = sessions;
  json["tokens"] = tokens;
  json["costUSD"] = encodeDouble(costUSD);
  json["costShare"] = encodeDouble(costShare);
  json["tokenShare"] = encodeDouble(tokenShare);
  json["approximate"] = approximate;
  return json;
}

UsageSummary::Tool UsageSummary::Tool::fromJSON(const JSON& json) {
  Tool tool;
  tool.provider = decodeProvider(required(json, "provider"), "provider");
  tool.sessions = decodeInt64(required(json, "sessions"), "sessions");
  tool.tokens = decodeInt64(required(json, "tokens"), "tokens");
  tool.costUSD = decodeDouble(required(json, "costUSD"), "costUSD");
  tool.costShare = decodeDouble(required(json, "costShare"), "costShare");
  tool.tokenShare = decodeDouble(required(json, "tokenShare"), "tokenShare");
  tool.approximate = decodeBool(required(json, "approximate"), "approximate");
  return tool;
}

JSON UsageSummary::DayPoint::toJSON(DateCoding coding) const {
  JSON json = JSON::object();
  json["day"] = encodeDate(day, coding);
  json["provider"] = encodeProvider(provider);
  json["tokens"] = tokens;
  json["costUSD"] = encodeDouble(costUSD);
  return json;
}

UsageSummary::DayPoint UsageSummary::DayPoint::fromJSON(const JSON& json, DateCoding coding) {
  DayPoint point;
  point.day = decodeDate(required(json, "day"), coding, "day");
  point.provider = decodeProvider(required(json, "provider"), "provider");
  point.tokens = decodeInt64(required(json, "tokens"), "tokens");
  point.costUSD = decodeDouble(required(json, "costUSD"), "costUSD");
  return point;
}

JSON UsageSummary::ModelRow::toJSON() const {
  JSON json = JSON::object();
  json["provider"] = encodeProvider(provider);
  json["model"] = model;
  if (costUSD) json["costUSD"] = encodeDouble(*costUSD);
  json["costShare"] = encodeDouble(costShare);
  json["tokenShare"] = encodeDouble(tokenShare);
  json["tokens"] = tokens.toJSON();
  json["approximate"] = approximate;
  return json;
}

UsageSummary::ModelRow UsageSummary::ModelRow::fromJSON(const JSON& json) {
  ModelRow row;
  row.provider = decodeProvider(required(json, "provider"), "provider");
  row.model = decodeString(required(json, "model"), "model");
  row.costUSD = optionalDouble(json, "costUSD");
  row.costShare = decodeDouble(required(json, "costShare"), "costShare");
  row.tokenShare = decodeDouble(required(json, "tokenShare"), "tokenShare");
  row.tokens = TokenCounts::fromJSON(required(json, "tokens"));
  row.approximate = decodeBool(required(json, "approximate"), "approximate");
  return row;
}

JSON UsageSummary::DayRow::toJSON(DateCoding coding) const {
  JSON json = JSON::object();
  json["day"] = encodeDate(day, coding);
  json["costUSD"] = encodeDouble(costUSD);
  json["tokens"] = tokens;
  json["sessions"] = sessions;
  return json;
}

UsageSummary::DayRow UsageSummary::DayRow::fromJSON(const JSON& json, DateCoding coding) {
  DayRow row;
  row.day = decodeDate(required(json, "day"), coding, "day");
  row.costUSD = decodeDouble(required(json, "costUSD"), "costUSD");
  row.tokens = decodeInt64(required(json, "tokens"), "tokens");
  row.sessions = decodeInt64(required(json, "sessions"), "sessions");
  return row;
}

JSON UsageSummary::toJSON(DateCoding coding) const {
  JSON json = JSON::object();
  json["days"] = days;
  json["windowEnd"] = encodeDate(windowEnd, coding);
  json["totalCostUSD"] = encodeDouble(totalCostUSD);
  json["sessions"] = sessions;
  json["tools"] = encodeList(tools, [](const Tool& tool) { return tool.toJSON(); });
  json["daily"] = encodeList(daily, [coding](const DayPoint& point) { return point.toJSON(coding); });
  json["models"] = encodeList(models, [](const ModelRow& row) { return row.toJSON(); });
  json["perDay"] = encodeList(perDay, [coding](const DayRow& row) { return row.toJSON(coding); });
  json["tokens"] = tokens.toJSON();
  json["costByType"] = costByType.toJSON();
  json["cacheSavingsUSD"] = encodeDouble(cacheSavingsUSD);
  json["hasUnknownPrices"] = hasUnknownPrices;
  return json;
}

UsageSummary UsageSummary::fromJSON(const JSON& json, DateCoding coding) {
  UsageSummary summary;
  summary.days = decodeDays(required(json, "days"));
  summary.windowEnd = decodeDate(required(json, "windowEnd"), coding, "windowEnd");
  summary.totalCostUSD = decodeDouble(required(json, "totalCostUSD"), "totalCostUSD");
  summary.sessions = decodeInt64(required(json, "sessions"), "sessions");
  summary.tools = decodeList<Tool>(json, "tools", [](const JSON& e) { return Tool::fromJSON(e); });
  summary.daily = decodeList<DayPoint>(json, "daily", [coding](const JSON& e) { return DayPoint::fromJSON(e, coding); });
  summary.models = decodeList<ModelRow>(json, "models", [](const JSON& e) { return ModelRow::fromJSON(e); });
  summary.perDay = decodeList<DayRow>(json, "perDay", [coding](const JSON& e) { return DayRow::fromJSON(e, coding); });
  summary.tokens = TokenCounts::fromJSON(required(json, "tokens"));
  summary.costByType = CostBreakdown::fromJSON(required(json, "costByType"));
  summary.cacheSavingsUSD = decodeDouble(required(json, "cacheSavingsUSD"), "cacheSavingsUSD");
  summary.hasUnknownPrices = decodeBool(required(json, "hasUnknownPrices"), "hasUnknownPrices");
  return summary;
}

// MARK: Chart series

std::vector<UsageSummary::DayPoint> UsageSummary::lastDays(int n, ProviderID provider,
                                                           const Calendar& calendar) const {
  if (n < 1) return {};

  // The provider's points by exact instant; the first point of a day wins.
  // A NaN day equals no date, so such a point could never be looked up.
  std::unordered_map<double, const DayPoint*> byDay;
  for (const DayPoint& point : daily) {
    if (point.provider != provider || std::isnan(point.day.secondsSinceReferenceDate)) continue;
    byDay.try_emplace(point.day.secondsSinceReferenceDate, &point);
  }

  std::vector<DayPoint> series;
  series.reserve(static_cast<std::size_t>(std::min(n, 1 << 16)));
  for (int k = 1 - n; k <= 0; ++k) {
    const std::optional<Date> date = calendar.addingDays(windowEnd, k);
    if (!date) continue;
    const auto found = byDay.find(date->secondsSinceReferenceDate);
    if (found != byDay.end()) {
      series.push_back(*found->second);
    } else {
      series.push_back(DayPoint{*date, provider, 0, 0});
    }
  }
  return series;
}

// MARK: Fixed summaries

const UsageSummary& UsageSummary::empty() {
  static const UsageSummary value = [] {
    UsageSummary summary;
    summary.days = 30;
    summary.windowEnd = Date::fromUnix(0);
    return summary;
  }();
  return value;
}

namespace {

// One provider of the preview: a daily token volume, an average price, and
// how it splits over its models.
struct PreviewProvider {
  ProviderID provider;
  double tokensPerDay;
  double usdPerMillion;
  double phase;  // shifts its curve so the providers do not peak together
  double sessionsPerDay;
  bool approximate;
  struct Model {
    const char* name;
    double tokenPart;
    double costPart;
  };
  std::array<Model, 2> models;
};

double roundedToCents(double usd) { return std::round(usd * 100) / 100; }

UsageSummary makePreview() {
  constexpr int days = 30;
  // Monday 2025-06-30 00:00 UTC.
  const Date windowEnd = Date::fromUnix(1751241600.0);
  const FixedOffsetCalendar utc;

  const std::array<PreviewProvider, 3> providers = {{
      {ProviderID::claude, 46e6, 0.92, 0.0, 7, false,
       {{{"claude-sonnet-4-5", 0.78, 0.55}, {"claude-opus-4-1", 0.22, 0.45}}}},
      {ProviderID::codex, 24e6, 0.61, 1.9, 4, false,
       {{{"gpt-5-codex", 0.86, 0.9}, {"gpt-5", 0.14, 0.1}}}},
      {ProviderID::grok, 5.5e6, 0.34, 3.7, 2, true,
       {{{"grok-code-fast-1", 1.0, 1.0}, {"", 0, 0}}}},
  }};

  UsageSummary summary;
  summary.days = days;
  summary.windowEnd = windowEnd;

  struct Totals {
    int64_t tokens = 0;
    double cost = 0;
    int64_t sessions = 0;
  };
  std::array<Totals, 3> byProvider{};
  std::array<Totals, days> byDay{};
  std::array<Date, days> dates{};

  for (std::size_t p = 0; p < providers.size(); ++p) {
    const PreviewProvider& source = providers[p];
    for (int i = 0; i < days; ++i) {
      const Date day = *utc.addingDays(windowEnd, i - (days - 1));
      dates[static_cast<std::size_t>(i)] = day;
      // 1970-01-01 was a Thursday: 0 is Thursday, 2 Saturday, 3 Sunday.
      const auto weekday = static_cast<int64_t>(std::floor(day.unixSeconds() / 86400.0)) % 7;
      const double weekend = (weekday == 2 || weekday == 3) ? 0.35 : 1.0;
      const double curve = 1.0 + 0.3 * std::sin(2 * std::numbers::pi * i / 11.0 + source.phase);
      const auto tokens = static_cast<int64_t>(std::llround(source.tokensPerDay * curve * weekend));
      const double cost = roundedToCents(static_cast<double>(tokens) / 1e6 * source.usdPerMillion);
      const auto sessions = static_cast<int64_t>(std::llround(source.sessionsPerDay * curve * weekend));

      summary.daily.push_back(UsageSummary::DayPoint{day, source.provider, tokens, cost});
      byProvider[p].tokens += tokens;
      byProvider[p].cost += cost;
      byProvider[p].sessions += sessions;
      auto& dayTotals = byDay[static_cast<std::size_t>(i)];
      dayTotals.tokens += tokens;
      dayTotals.cost += cost;
      dayTotals.sessions += sessions;
    }
  }

  Totals total;
  for (const Totals& t : byProvider) {
    total.tokens += t.tokens;
    total.cost += t.cost;
    total.sessions += t.sessions;
  }
  summary.totalCostUSD = total.cost;
  summary.sessions = total.sessions;

  // Most of what coding tools process is read back from the prompt cache.
  const auto split = [](int64_t processed) {
    const auto part = [processed](double fraction) {
      return static_cast<int64_t>(std::llround(static_cast<double>(processed) * fraction));
    };
    TokenCounts counts;
    counts.uncachedInput = part(0.05);
    counts.cacheRead = part(0.84);
    counts.cacheWrite5m = part(0.06);
    counts.cacheWrite1h = part(0.02);
    counts.output = processed - counts.uncachedInput - counts.cacheRead - counts.cacheWrite5m - counts.cacheWrite1h;
    counts.reasoning = part(0.01);
    return counts;
  };

  for (std::size_t p = 0; p < providers.size(); ++p) {
    const Totals& t = byProvider[p];
    summary.tools.push_back(UsageSummary::Tool{providers[p].provider, t.sessions, t.tokens, t.cost,
                                               t.cost / total.cost,
                                               static_cast<double>(t.tokens) / static_cast<double>(total.tokens),
                                               providers[p].approximate});
    for (const auto& model : providers[p].models) {
      if (model.tokenPart <= 0) continue;
      const auto tokens = static_cast<int64_t>(std::llround(static_cast<double>(t.tokens) * model.tokenPart));
      const double cost = roundedToCents(t.cost * model.costPart);
      summary.models.push_back(UsageSummary::ModelRow{providers[p].provider, model.name, cost, cost / total.cost,
                                                      static_cast<double>(tokens) / static_cast<double>(total.tokens),
                                                      split(tokens), providers[p].approximate});
    }
  }
  std::stable_sort(summary.tools.begin(), summary.tools.end(),
                   [](const auto& a, const auto& b) { return a.costUSD > b.costUSD; });
  std::sort(summary.models.begin(), summary.models.end(), [](const auto& a, const auto& b) {
    if (*a.costUSD != *b.costUSD) return *a.costUSD > *b.costUSD;
    return a.tokens.processed() > b.tokens.processed();
  });

  for (int i = days - 1; i >= 0; --i) {
    const auto& t = byDay[static_cast<std::size_t>(i)];
    summary.perDay.push_back(UsageSummary::DayRow{dates[static_cast<std::size_t>(i)], t.cost, t.tokens, t.sessions});
  }

  summary.tokens = split(total.tokens);
  // Reported costs (the approximate provider's) are not split by kind.
  double reported = 0;
  for (std::size_t p = 0; p < providers.size(); ++p) {
    if (providers[p].approximate) reported += byProvider[p].cost;
  }
  const double priced = total.cost - reported;
  summary.costByType = CostBreakdown{priced * 0.14, priced * 0.31, priced * 0.19, priced * 0.36, reported};
  summary.cacheSavingsUSD = roundedToCents(priced * 3.8);
  summary.hasUnknownPrices = false;
  return summary;
}

}  // namespace

const UsageSummary& UsageSummary::preview() {
  static const UsageSummary value = makePreview();
  return value;
}

}  // namespace tokvane
