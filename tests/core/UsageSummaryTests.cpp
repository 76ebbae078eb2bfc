#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Foundation/ISO8601.hpp"
#include "TokvaneCore/Summary/UsageSummary.hpp"

namespace tokvane {
namespace {

using DayPoint = UsageSummary::DayPoint;

constexpr double day = 86'400;

Date utcDate(const char* text) { return *ISO8601::parse(text); }

// A 30-day summary ending 2025-03-31 (UTC days): Claude on every day with
// tokens 1...30, Codex on the last two days only, one priced and one unpriced
// model, and two days with usage.
UsageSummary makeSummary() {
  const Date end = utcDate("2025-03-31T00:00:00Z");
  UsageSummary s;
  s.days = 30;
  s.windowEnd = end;
  s.totalCostUSD = 12.5;
  s.sessions = 9;
  s.tools = {
      {ProviderID::claude, 7, 465, 10.0, 0.8, 0.9, false},
      {ProviderID::codex, 2, 52, 2.5, 0.2, 0.1, true},
  };
  for (int i = 0; i < 30; ++i) {
    s.daily.push_back(DayPoint{end - (29 - i) * day, ProviderID::claude, i + 1, (i + 1) * 0.25});
  }
  s.daily.push_back(DayPoint{end - day, ProviderID::codex, 20, 1.0});
  s.daily.push_back(DayPoint{end, ProviderID::codex, 32, 1.5});
  s.models = {
      {ProviderID::claude, "claude-sonnet-4-5", 10.0, 0.8, 0.5, TokenCounts{100, 300, 40, 5, 20, 3}, false},
      {ProviderID::codex, "mystery-model", std::nullopt, 0, 0.1, TokenCounts{10, 30, 2, 0, 10, 8}, true},
  };
  s.perDay = {
      {end, 9.0, 62, 4},
      {end - day, 3.5, 49, 5},
  };
  s.tokens = TokenCounts{110, 330, 42, 5, 30, 11};
  s.costByType = CostBreakdown{1, 2, 3, 4, 2.5};
  s.cacheSavingsUSD = 17.25;
  s.hasUnknownPrices = true;
  return s;
}

std::vector<DayPoint> pointsOf(const UsageSummary& s, ProviderID provider) {
  std::vector<DayPoint> points;
  for (const auto& p : s.daily) {
    if (p.provider == provider) points.push_back(p);
  }
  return points;
}

void expectZeroSeries(const std::vector<DayPoint>& series, ProviderID provider, Date last) {
  for (std::size_t i = 0; i < series.size(); ++i) {
    const double back = static_cast<double>(series.size() - 1 - i) * day;
    EXPECT_EQ(series[i], (DayPoint{last - back, provider, 0, 0})) << "point " << i;
  }
}

// MARK: lastDays

TEST(UsageSummaryLastDays, NothingForLessThanOneDay) {
  const UsageSummary s = makeSummary();
  const FixedOffsetCalendar utc;
  for (int n : {0, -3, INT_MIN}) EXPECT_TRUE(s.lastDays(n, ProviderID::claude, utc).empty()) << n;
}

TEST(UsageSummaryLastDays, ProviderWithoutPointsGetsZeroPoints) {
  const UsageSummary s = makeSummary();
  const auto series = s.lastDays(7, ProviderID::grok, FixedOffsetCalendar());
  ASSERT_EQ(series.size(), 7u);
  expectZeroSeries(series, ProviderID::grok, s.windowEnd);
}

TEST(UsageSummaryLastDays, TakesTheNewestPointsAndPadsOlderDays) {
  const UsageSummary s = makeSummary();
  const FixedOffsetCalendar utc;
  const auto claude = pointsOf(s, ProviderID::claude);

  EXPECT_EQ(s.lastDays(7, ProviderID::claude, utc), std::vector<DayPoint>(claude.end() - 7, claude.end()));
  EXPECT_EQ(s.lastDays(30, ProviderID::claude, utc), claude);

  const auto forty = s.lastDays(40, ProviderID::claude, utc);
  ASSERT_EQ(forty.size(), 40u);
  expectZeroSeries(std::vector<DayPoint>(forty.begin(), forty.begin() + 10), ProviderID::claude,
                   s.windowEnd - 30 * day);
  EXPECT_EQ(std::vector<DayPoint>(forty.begin() + 10, forty.end()), claude);

  // Codex has points on the last two days only; the other providers' points never leak in.
  const auto codex = s.lastDays(3, ProviderID::codex, utc);
  ASSERT_EQ(codex.size(), 3u);
  EXPECT_EQ(codex[0], (DayPoint{s.windowEnd - 2 * day, ProviderID::codex, 0, 0}));
  EXPECT_EQ(codex[1], (DayPoint{s.windowEnd - day, ProviderID::codex, 20, 1.0}));
  EXPECT_EQ(codex[2], (DayPoint{s.windowEnd, ProviderID::codex, 32, 1.5}));
}

TEST(UsageSummaryLastDays, FirstPointOfADayWinsAndOnlyExactDaysMatch) {
  UsageSummary s = makeSummary();
  s.daily.push_back(DayPoint{s.windowEnd, ProviderID::claude, 1000, 99});       // duplicate of the last day
  s.daily.push_back(DayPoint{s.windowEnd - day + 1, ProviderID::grok, 5, 1});  // not at a day's start
  const FixedOffsetCalendar utc;

  const auto claude = s.lastDays(1, ProviderID::claude, utc);
  ASSERT_EQ(claude.size(), 1u);
  EXPECT_EQ(claude[0], (DayPoint{s.windowEnd, ProviderID::claude, 30, 7.5}));

  const auto grok = s.lastDays(2, ProviderID::grok, utc);
  ASSERT_EQ(grok.size(), 2u);
  expectZeroSeries(grok, ProviderID::grok, s.windowEnd);
}

TEST(UsageSummaryLastDays, OnEmptyEndsAtTheUnixEpoch) {
  const auto series = UsageSummary::empty().lastDays(3, ProviderID::codex, LocalCalendar());
  ASSERT_EQ(series.size(), 3u);
  expectZeroSeries(series, ProviderID::codex, Date::fromUnix(0));
}

// Days are calendar days of the calendar passed in, not 86,400-second steps:
// across a daylight-saving change (in a zone that has one) a point built at a
// local midnight is still found.
TEST(UsageSummaryLastDays, FollowsTheCalendarAcrossDaylightSaving) {
  const LocalCalendar local;
  UsageSummary s;
  s.days = 10;
  s.windowEnd = *local.startOfDay(utcDate("2025-03-14T20:00:00Z"));
  // Each day's local midnight, found from about its noon (whole 24-hour
  // steps from windowEnd, off by at most the daylight-saving hour).
  for (int k = -9; k <= 0; ++k) {
    const Date noon = s.windowEnd + k * day + 12 * 3600;
    s.daily.push_back(DayPoint{*local.startOfDay(noon), ProviderID::claude, 100 + k, 1});
  }
  EXPECT_EQ(s.lastDays(10, ProviderID::claude, local), s.daily);
}

// MARK: Fixed summaries

TEST(UsageSummary, EmptyIsAllZeroAndBuiltOnce) {
  const UsageSummary& e = UsageSummary::empty();
  EXPECT_EQ(&e, &UsageSummary::empty());
  EXPECT_EQ(e.days, 30);
  EXPECT_EQ(e.windowEnd, Date::fromUnix(0));
  EXPECT_EQ(e.totalCostUSD, 0);
  EXPECT_EQ(e.sessions, 0);
  EXPECT_TRUE(e.tools.empty());
  EXPECT_TRUE(e.daily.empty());
  EXPECT_TRUE(e.models.empty());
  EXPECT_TRUE(e.perDay.empty());
  EXPECT_EQ(e.tokens, TokenCounts::zero());
  EXPECT_EQ(e.costByType, CostBreakdown{});
  EXPECT_EQ(e.cacheSavingsUSD, 0);
  EXPECT_FALSE(e.hasUnknownPrices);
}

TEST(UsageSummary, PreviewIsAPlausibleThirtyDaySample) {
  const UsageSummary& p = UsageSummary::preview();
  const FixedOffsetCalendar utc;
  EXPECT_EQ(&p, &UsageSummary::preview());
  EXPECT_EQ(p.days, 30);
  EXPECT_EQ(*utc.startOfDay(p.windowEnd), p.windowEnd);
  ASSERT_FALSE(p.tools.empty());
  ASSERT_EQ(p.perDay.size(), 30u);
  EXPECT_EQ(p.perDay.front().day, p.windowEnd);

  double toolCost = 0;
  for (std::size_t i = 0; i < p.tools.size(); ++i) {
    const auto& tool = p.tools[i];
    toolCost += tool.costUSD;
    if (i > 0) {
      EXPECT_GE(p.tools[i - 1].costUSD, tool.costUSD);
    }

    // Every tool has one point per day, oldest first, which lastDays gives back unchanged.
    const auto points = pointsOf(p, tool.provider);
    EXPECT_EQ(p.lastDays(30, tool.provider, utc), points);

    int64_t tokens = 0;
    double weekday = 0, weekend = 0;
    int weekdays = 0, weekends = 0;
    for (const auto& point : points) {
      tokens += point.tokens;
      const int dow = static_cast<int>(static_cast<int64_t>(point.day.unixSeconds() / day) % 7);  // 0 = Thursday
      if (dow == 2 || dow == 3) {
        weekend += static_cast<double>(point.tokens);
        ++weekends;
      } else {
        weekday += static_cast<double>(point.tokens);
        ++weekdays;
      }
    }
    EXPECT_EQ(tokens, tool.tokens);
    EXPECT_LT(weekend / weekends, 0.6 * weekday / weekdays) << rawValue(tool.provider);
  }
  EXPECT_NEAR(toolCost, p.totalCostUSD, 1e-6);
  EXPECT_NEAR(p.costByType.total(), p.totalCostUSD, 1e-6);
  EXPECT_GT(p.tokens.processed(), 0);
  EXPECT_FALSE(p.models.empty());
}

// MARK: Equality

TEST(UsageSummary, EqualityCoversEveryField) {
  const UsageSummary base = makeSummary();
  const UsageSummary copy = base;
  EXPECT_EQ(copy, base);

  const std::vector<std::pair<const char*, std::function<void(UsageSummary&)>>> changes = {
      {"days", [](UsageSummary& s) { s.days = 7; }},
      {"windowEnd", [](UsageSummary& s) { s.windowEnd = s.windowEnd + 0.001; }},
      {"totalCostUSD", [](UsageSummary& s) { s.totalCostUSD += 0.01; }},
      {"sessions", [](UsageSummary& s) { s.sessions += 1; }},
      {"tool approximate", [](UsageSummary& s) { s.tools[1].approximate = false; }},
      {"tool order", [](UsageSummary& s) { std::swap(s.tools[0], s.tools[1]); }},
      {"daily point cost", [](UsageSummary& s) { s.daily[3].costUSD = 0; }},
      {"model cost absent vs 0", [](UsageSummary& s) { s.models[1].costUSD = 0.0; }},
      {"model reasoning", [](UsageSummary& s) { s.models[0].tokens.reasoning += 1; }},
      {"day row sessions", [](UsageSummary& s) { s.perDay[1].sessions = 6; }},
      {"tokens", [](UsageSummary& s) { s.tokens.cacheWrite1h = 0; }},
      {"costByType", [](UsageSummary& s) { s.costByType.other = 0; }},
      {"cacheSavingsUSD", [](UsageSummary& s) { s.cacheSavingsUSD = 0; }},
      {"hasUnknownPrices", [](UsageSummary& s) { s.hasUnknownPrices = false; }},
  };
  for (const auto& [what, change] : changes) {
    UsageSummary changed = base;
    change(changed);
    EXPECT_NE(changed, base) << what;
  }
}

// MARK: Keyed JSON

TEST(UsageSummaryJSON, RoundTripsInBothDateForms) {
  for (const UsageSummary* s : {&UsageSummary::empty(), &UsageSummary::preview()}) {
    for (DateCoding coding : {DateCoding::referenceSeconds, DateCoding::iso8601}) {
      const std::string text = s->toJSON(coding).dump();
      EXPECT_EQ(UsageSummary::fromJSON(keyed::parse(text), coding), *s) << text.substr(0, 200);
    }
  }
  const UsageSummary fixture = makeSummary();
  const JSON json = fixture.toJSON(DateCoding::referenceSeconds);
  EXPECT_EQ(UsageSummary::fromJSON(keyed::parse(json.dump()), DateCoding::referenceSeconds), fixture);
}

TEST(UsageSummaryJSON, KeysInFieldOrderWithTheirForms) {
  const JSON json = makeSummary().toJSON(DateCoding::iso8601);
  std::vector<std::string> keys;
  for (const auto& item : json.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"days", "windowEnd", "totalCostUSD", "sessions", "tools", "daily",
                                            "models", "perDay", "tokens", "costByType", "cacheSavingsUSD",
                                            "hasUnknownPrices"}));
  EXPECT_EQ(json["windowEnd"], "2025-03-31T00:00:00Z");
  EXPECT_EQ(json["tools"][0].dump(),
            R"({"provider":"claude","sessions":7,"tokens":465,"costUSD":10.0,"costShare":0.8,"tokenShare":0.9,"approximate":false})");
  EXPECT_EQ(json["daily"][0].dump(), R"({"day":"2025-03-02T00:00:00Z","provider":"claude","tokens":1,"costUSD":0.25})");
  EXPECT_EQ(json["perDay"][1].dump(), R"({"day":"2025-03-30T00:00:00Z","costUSD":3.5,"tokens":49,"sessions":5})");
  EXPECT_EQ(json["costByType"].dump(), R"({"input":1.0,"cacheRead":2.0,"cacheWrite":3.0,"output":4.0,"other":2.5})");

  const JSON seconds = makeSummary().toJSON(DateCoding::referenceSeconds);
  EXPECT_EQ(seconds["windowEnd"], utcDate("2025-03-31T00:00:00Z").secondsSinceReferenceDate);
}

TEST(UsageSummaryJSON, ModelRowCostIsLeftOutWhenAbsent) {
  const JSON json = makeSummary().toJSON(DateCoding::referenceSeconds);
  EXPECT_EQ(json["models"][0].dump(),
            R"({"provider":"claude","model":"claude-sonnet-4-5","costUSD":10.0,"costShare":0.8,"tokenShare":0.5,)"
            R"("tokens":{"uncachedInput":100,"cacheRead":300,"cacheWrite5m":40,"cacheWrite1h":5,"output":20,)"
            R"("reasoning":3},"approximate":false})");
  EXPECT_FALSE(json["models"][1].contains("costUSD"));
  EXPECT_EQ(UsageSummary::ModelRow::fromJSON(json["models"][1]).costUSD, std::nullopt);

  JSON withNull = json["models"][1];
  withNull["costUSD"] = nullptr;
  EXPECT_EQ(UsageSummary::ModelRow::fromJSON(withNull).costUSD, std::nullopt);
}

// Every key is required, at every level, except a model row's costUSD.
TEST(UsageSummaryJSON, EveryOtherKeyIsRequired) {
  const JSON json = makeSummary().toJSON(DateCoding::referenceSeconds);
  const auto decode = [](const JSON& j) { return UsageSummary::fromJSON(j, DateCoding::referenceSeconds); };

  for (const auto& item : json.items()) {
    JSON broken = json;
    broken.erase(item.key());
    EXPECT_THROW(decode(broken), DecodingError) << item.key();
  }
  for (const char* list : {"tools", "daily", "models", "perDay"}) {
    for (const auto& item : json[list][0].items()) {
      if (std::string(list) == "models" && item.key() == "costUSD") continue;
      JSON broken = json;
      broken[list][0].erase(item.key());
      EXPECT_THROW(decode(broken), DecodingError) << list << "." << item.key();
    }
  }
  for (const char* key : {"tokens", "costByType"}) {
    JSON broken = json;
    broken[key].erase(broken[key].begin());
    EXPECT_THROW(decode(broken), DecodingError) << key;
  }
}

TEST(UsageSummaryJSON, RejectsMalformedValues) {
  const JSON good = makeSummary().toJSON(DateCoding::referenceSeconds);
  const std::vector<std::pair<const char*, std::function<void(JSON&)>>> cases = {
      {"provider in other letter case", [](JSON& j) { j["tools"][0]["provider"] = "Claude"; }},
      {"unknown provider", [](JSON& j) { j["daily"][0]["provider"] = "copilot"; }},
      {"provider as number", [](JSON& j) { j["models"][0]["provider"] = 0; }},
      {"days beyond Int", [](JSON& j) { j["days"] = int64_t{1} << 40; }},
      {"days fractional", [](JSON& j) { j["days"] = 1.5; }},
      {"list as object", [](JSON& j) { j["perDay"] = JSON::object(); }},
      {"list element not an object", [](JSON& j) { j["tools"][0] = 3; }},
      {"cost as text", [](JSON& j) { j["totalCostUSD"] = "12.5"; }},
      {"model cost as text", [](JSON& j) { j["models"][0]["costUSD"] = "10"; }},
      {"tokens beyond Int64", [](JSON& j) { j["daily"][0]["tokens"] = uint64_t{1} << 63; }},
      {"date in the other form", [](JSON& j) { j["windowEnd"] = "2025-03-31T00:00:00Z"; }},
      {"flag as number", [](JSON& j) { j["hasUnknownPrices"] = 1; }},
      {"not an object", [](JSON& j) { j = JSON::array(); }},
  };
  for (const auto& [what, mutate] : cases) {
    JSON broken = good;
    mutate(broken);
    EXPECT_THROW(UsageSummary::fromJSON(broken, DateCoding::referenceSeconds), DecodingError) << what;
  }

  // Keys that name no field are ignored.
  JSON extra = good;
  extra["note"] = "ignored";
  extra["tools"][0]["colour"] = "orange";
  EXPECT_EQ(UsageSummary::fromJSON(extra, DateCoding::referenceSeconds), makeSummary());
}

TEST(UsageSummaryJSON, NonFiniteNumbersCannotBeWritten) {
  const std::vector<std::pair<const char*, std::function<void(UsageSummary&)>>> cases = {
      {"total", [](UsageSummary& s) { s.totalCostUSD = NAN; }},
      {"model cost", [](UsageSummary& s) { s.models[0].costUSD = INFINITY; }},
      {"day point", [](UsageSummary& s) { s.daily[0].costUSD = -INFINITY; }},
      {"window end", [](UsageSummary& s) { s.windowEnd = Date{NAN}; }},
  };
  for (const auto& [what, mutate] : cases) {
    UsageSummary s = makeSummary();
    mutate(s);
    EXPECT_THROW(s.toJSON(DateCoding::referenceSeconds), EncodingError) << what;
  }
}

}  // namespace
}  // namespace tokvane
