#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Foundation/ISO8601.hpp"
#include "TokvaneCore/Foundation/KeyedJSON.hpp"
#include "TokvaneCore/Snapshot/Snapshot.hpp"

namespace tokvane {
namespace {

using DayPoint = UsageSummary::DayPoint;
using Tool = UsageSummary::Tool;

constexpr double day = 86'400;

Date utc(const char* text) {
  const auto date = ISO8601::parse(text);
  EXPECT_TRUE(date.has_value()) << text;
  return date.value_or(Date{});
}

const FixedOffsetCalendar utcCalendar;

// A summary whose window ends on 2025-03-31 (UTC), with only the given
// points and tools.
UsageSummary summaryWith(std::vector<DayPoint> daily, std::vector<Tool> tools = {}, double total = 0) {
  UsageSummary summary;
  summary.days = 30;
  summary.windowEnd = utc("2025-03-31T00:00:00Z");
  summary.totalCostUSD = total;
  summary.daily = std::move(daily);
  summary.tools = std::move(tools);
  return summary;
}

ProviderLimits someLimits() {
  ProviderLimits limits;
  limits.plan = "Pro";
  limits.windows = {LimitWindow("weekly", "Weekly", 0.3, 604'800, utc("2025-04-02T00:00:00Z"), LimitSource::live())};
  limits.credits = Credits{"Extra usage", std::nullopt, 4.0, 20.0, false};
  limits.status = ProviderStatus::rateLimited;
  limits.fetchedAt = utc("2025-03-31T09:00:00Z");
  return limits;
}

// MARK: - Choosing the providers

struct SelectionCase {
  const char* name;
  bool withLimits;
  std::vector<Tool> tools;
  std::vector<DayPoint> daily;
  // The expected entry, or none when the provider is left out.
  std::optional<Snapshot::Provider> expected;
};

TEST(SnapshotMake, ListsAProviderWithLimitsAToolRowOrUsage) {
  const Date d1 = utc("2025-03-30T00:00:00Z");
  const Date d2 = utc("2025-03-31T00:00:00Z");
  const ProviderLimits limits = someLimits();
  auto entry = [](ProviderStatus status, int64_t tokens, double cost, bool approximate) {
    Snapshot::Provider provider;
    provider.id = ProviderID::codex;
    provider.status = status;
    provider.tokens30d = tokens;
    provider.cost30dUSD = cost;
    provider.approximate = approximate;
    return provider;
  };
  Snapshot::Provider withLimits = entry(ProviderStatus::rateLimited, 0, 0, false);
  withLimits.plan = limits.plan;
  withLimits.windows = limits.windows;
  withLimits.credits = limits.credits;

  const std::vector<SelectionCase> cases = {
      {"nothing at all", false, {}, {}, std::nullopt},
      {"usage only: its sums", false, {},
       {{d1, ProviderID::codex, 400, 1.0}, {d2, ProviderID::codex, 600, 1.5}},
       entry(ProviderStatus::unavailable, 1000, 2.5, false)},
      {"limits only: zero usage", true, {}, {}, withLimits},
      {"usage summing to zero tokens and zero cost", false, {},
       {{d1, ProviderID::codex, 0, 0}, {d2, ProviderID::codex, 0, 0}}, std::nullopt},
      {"zero tokens but a reported cost", false, {}, {{d2, ProviderID::codex, 0, 0.4}},
       entry(ProviderStatus::unavailable, 0, 0.4, false)},
      {"tokens without a cost", false, {}, {{d2, ProviderID::codex, 1, 0}},
       entry(ProviderStatus::unavailable, 1, 0, false)},
      {"zero tokens and a negative cost", false, {}, {{d2, ProviderID::codex, 0, -1}}, std::nullopt},
      {"a tool row wins over the usage sums", false, {{ProviderID::codex, 3, 900, 7.25, 1, 1, true}},
       {{d2, ProviderID::codex, 1000, 2.5}}, entry(ProviderStatus::unavailable, 900, 7.25, true)},
      {"an all-zero tool row still counts", false, {{ProviderID::codex, 0, 0, 0, 0, 0, false}}, {},
       entry(ProviderStatus::unavailable, 0, 0, false)},
      {"usage sums saturate", false, {},
       {{d1, ProviderID::codex, std::numeric_limits<int64_t>::max(), 1},
        {d2, ProviderID::codex, std::numeric_limits<int64_t>::max(), 1}},
       entry(ProviderStatus::unavailable, std::numeric_limits<int64_t>::max(), 2, false)},
      {"another provider's usage does not count", false, {}, {{d2, ProviderID::claude, 50, 1}}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::map<ProviderID, ProviderLimits> limitsMap;
    if (c.withLimits) limitsMap[ProviderID::codex] = limits;
    const Snapshot snapshot =
        Snapshot::make(summaryWith(c.daily, c.tools), limitsMap, {ProviderID::codex}, d2 + 3600, utcCalendar);
    if (!c.expected) {
      EXPECT_TRUE(snapshot.providers.empty());
      continue;
    }
    ASSERT_EQ(snapshot.providers.size(), 1u);
    EXPECT_EQ(snapshot.providers[0], *c.expected);
  }
}

TEST(SnapshotMake, FollowsTheOrderArgumentOnly) {
  const Date today = utc("2025-03-31T00:00:00Z");
  // Tools most expensive first (claude before grok), limits keyed in enum order.
  const UsageSummary summary =
      summaryWith({{today, ProviderID::claude, 10, 1}, {today, ProviderID::grok, 5, 0.5},
                   {today, ProviderID::cursor, 8, 0.8}},
                  {{ProviderID::claude, 1, 10, 1, 0.6, 0.5, false}, {ProviderID::grok, 1, 5, 0.5, 0.4, 0.5, false}});
  const std::map<ProviderID, ProviderLimits> limits = {{ProviderID::claude, someLimits()},
                                                       {ProviderID::codex, someLimits()}};
  auto ids = [](const Snapshot& snapshot) {
    std::vector<ProviderID> result;
    for (const auto& provider : snapshot.providers) result.push_back(provider.id);
    return result;
  };

  const Snapshot reordered =
      Snapshot::make(summary, limits, {ProviderID::grok, ProviderID::codex, ProviderID::claude}, today, utcCalendar);
  EXPECT_EQ(ids(reordered), (std::vector{ProviderID::grok, ProviderID::codex, ProviderID::claude}))
      << "cursor has usage and is not in the order, so it is not shown";

  const Snapshot duplicated = Snapshot::make(summary, limits, {ProviderID::codex, ProviderID::codex}, today, utcCalendar);
  ASSERT_EQ(ids(duplicated), (std::vector{ProviderID::codex, ProviderID::codex}));
  EXPECT_EQ(duplicated.providers[0], duplicated.providers[1]);

  EXPECT_TRUE(Snapshot::make(summary, limits, {}, today, utcCalendar).providers.empty());
}

TEST(SnapshotMake, FirstToolRowOfAProviderWins) {
  const UsageSummary summary = summaryWith({}, {{ProviderID::claude, 1, 100, 3, 1, 1, true},
                                                {ProviderID::claude, 9, 999, 99, 1, 1, false}});
  const Snapshot snapshot = Snapshot::make(summary, {}, {ProviderID::claude}, summary.windowEnd, utcCalendar);
  ASSERT_EQ(snapshot.providers.size(), 1u);
  EXPECT_EQ(snapshot.providers[0].tokens30d, 100);
  EXPECT_EQ(snapshot.providers[0].cost30dUSD, 3);
  EXPECT_TRUE(snapshot.providers[0].approximate);
}

// MARK: - Costs

TEST(SnapshotMake, ThirtyDailyCostsOldestFirstWithProvidersAddedUp) {
  const Date end = utc("2025-03-31T00:00:00Z");
  const UsageSummary summary = summaryWith(
      {
          {end - 30 * day, ProviderID::claude, 1, 100},  // one day before the window: not shown
          {end - 29 * day, ProviderID::claude, 1, 1},    // the oldest day
          {end - 10 * day, ProviderID::claude, 1, 2},
          {end - 10 * day, ProviderID::codex, 1, 0.5},   // same day, another provider: added
          {end, ProviderID::grok, 1, 4},
          {end + day, ProviderID::claude, 1, 50},        // after windowEnd: not in the thirty
      },
      {}, 12.5);
  const Snapshot snapshot = Snapshot::make(summary, {}, {}, end + 3600, utcCalendar);
  std::vector<double> expected(30, 0.0);
  expected[0] = 1;
  expected[19] = 2.5;
  expected[29] = 4;
  EXPECT_EQ(snapshot.dailyCost30, expected);
  EXPECT_EQ(snapshot.cost30dUSD, 12.5) << "the summary's total, not a sum of the days";
  EXPECT_EQ(snapshot.generatedAt, end + 3600);

  // A windowEnd inside its day counts from that day's start; an empty summary still gives thirty zeros.
  UsageSummary midday = summary;
  midday.windowEnd = end + 13 * 3600;
  EXPECT_EQ(Snapshot::make(midday, {}, {}, end, utcCalendar).dailyCost30, expected);
  EXPECT_EQ(Snapshot::make(summaryWith({}), {}, {}, end, utcCalendar).dailyCost30, std::vector<double>(30, 0.0));
}

TEST(SnapshotMake, CostTodayFollowsNowNotTheWindow) {
  const Date end = utc("2025-03-31T00:00:00Z");
  const UsageSummary summary =
      summaryWith({{end - 2 * day, ProviderID::claude, 1, 3}, {end, ProviderID::claude, 1, 1.25},
                   {end, ProviderID::codex, 1, 0.5}});
  struct Case {
    Date now;
    double costToday;
  };
  for (const Case& c : std::vector<Case>{
           {end, 1.75},                       // midnight of the last day
           {end + day - 1, 1.75},             // its last second
           {end + day, 0},                    // the next day holds nothing
           {end - 2 * day + 7200, 3},         // an earlier day of the window
           {end - 1, 0},                      // the day before, without points
       }) {
    EXPECT_EQ(Snapshot::make(summary, {}, {}, c.now, utcCalendar).costTodayUSD, c.costToday)
        << ISO8601::format(c.now);
  }
}

TEST(SnapshotMake, CountsDaysWithTheCalendarGiven) {
  // Days of a zone nine hours ahead of UTC: each local midnight is 15:00 UTC
  // of the day before. Counted in UTC, these points would fall on other days.
  const FixedOffsetCalendar tokyo(9 * 3600);
  const Date end = utc("2025-03-30T15:00:00Z");  // 2025-03-31 00:00 local
  UsageSummary summary = summaryWith({{end, ProviderID::claude, 1, 2}, {end - day + 8 * 3600, ProviderID::claude, 1, 1}});
  summary.windowEnd = end;
  const Snapshot snapshot = Snapshot::make(summary, {}, {}, utc("2025-03-31T14:59:59Z"), tokyo);
  EXPECT_EQ(snapshot.dailyCost30[29], 2);
  EXPECT_EQ(snapshot.dailyCost30[28], 1);
  EXPECT_EQ(snapshot.costTodayUSD, 2) << "14:59:59 UTC is still the 31st in that zone";
}

// MARK: - Placeholder

TEST(SnapshotPlaceholder, HoldsTheSampleValues) {
  const Snapshot& p = Snapshot::placeholder();
  EXPECT_EQ(&p, &Snapshot::placeholder()) << "made once";
  const Date g = Date::fromUnix(1'793'275'200);
  EXPECT_EQ(ISO8601::format(p.generatedAt), "2026-10-29T12:00:00Z");

  Snapshot::Provider claude;
  claude.id = ProviderID::claude;
  claude.plan = "Max 5x";
  claude.windows = {LimitWindow("session", "Session", 0.15, 18'000, g + 780, LimitSource::live()),
                    LimitWindow("weekly", "Weekly", 0.42, 604'800, g + 259'200, LimitSource::live())};
  claude.status = ProviderStatus::ok;
  claude.tokens30d = 182'400'000;
  claude.cost30dUSD = 214.6;
  Snapshot::Provider codex;
  codex.id = ProviderID::codex;
  codex.plan = "Plus";
  codex.windows = {LimitWindow("weekly", "Weekly", 0.01, 604'800, g + 511'200, LimitSource::live())};
  codex.credits = Credits{"Credits", 12.5, std::nullopt, std::nullopt, false};
  codex.status = ProviderStatus::ok;
  codex.tokens30d = 64'300'000;
  codex.cost30dUSD = 71.2;
  Snapshot::Provider grok;
  grok.id = ProviderID::grok;
  grok.status = ProviderStatus::unavailable;
  grok.tokens30d = 5'200'000;
  grok.cost30dUSD = 6.8;
  grok.approximate = true;
  ASSERT_EQ(p.providers.size(), 3u);
  EXPECT_EQ(p.providers[0], claude);
  EXPECT_EQ(p.providers[1], codex);
  EXPECT_EQ(p.providers[2], grok);

  ASSERT_EQ(p.dailyCost30.size(), 30u);
  EXPECT_EQ(std::vector<double>(p.dailyCost30.begin(), p.dailyCost30.begin() + 5),
            (std::vector<double>{3.5, 8.59, 9.83, 6.28, 6.38}));
  EXPECT_EQ(p.dailyCost30.back(), 8.85);
  for (double cost : p.dailyCost30) {
    EXPECT_GE(cost, 3.5);
    EXPECT_LE(cost, 10);
    EXPECT_EQ(cost, std::round(cost * 100) / 100) << "whole cents";
  }
  EXPECT_EQ(p.costTodayUSD, 8.85);
  EXPECT_EQ(p.cost30dUSD, 292.6);
}

// MARK: - JSON

Snapshot smallSnapshot() {
  Snapshot snapshot;
  snapshot.generatedAt = utc("2025-03-31T10:15:30.750Z");
  Snapshot::Provider claude;
  claude.id = ProviderID::claude;
  claude.plan = "Pro";
  claude.windows = {LimitWindow("session", "Session", 0.25, 18'000, utc("2025-03-31T12:00:00.900Z"),
                                LimitSource::local(utc("2025-03-31T10:00:00Z")))};
  claude.status = ProviderStatus::ok;
  claude.tokens30d = 1234;
  claude.cost30dUSD = 2.5;
  Snapshot::Provider grok;
  grok.id = ProviderID::grok;
  grok.status = ProviderStatus::unavailable;
  grok.tokens30d = 0;
  grok.cost30dUSD = 0;
  grok.approximate = true;
  snapshot.providers = {claude, grok};
  snapshot.costTodayUSD = 1.5;
  snapshot.cost30dUSD = 2.5;
  snapshot.dailyCost30 = {1, 1.5};
  return snapshot;
}

TEST(SnapshotJSON, WritesCompactKeyedTextWithWholeSecondUTCDates) {
  EXPECT_EQ(smallSnapshot().encoded(),
            R"({"generatedAt":"2025-03-31T10:15:30Z","providers":[)"
            R"({"id":"claude","plan":"Pro","windows":[{"id":"session","label":"Session","usedFraction":0.25,)"
            R"("duration":18000.0,"resetsAt":"2025-03-31T12:00:00Z","source":{"local":{"asOf":"2025-03-31T10:00:00Z"}}}],)"
            R"("status":{"ok":{}},"tokens30d":1234,"cost30dUSD":2.5,"approximate":false},)"
            R"({"id":"grok","windows":[],"status":{"unavailable":{}},"tokens30d":0,"cost30dUSD":0.0,"approximate":true}],)"
            R"("costTodayUSD":1.5,"cost30dUSD":2.5,"dailyCost30":[1.0,1.5]})");
}

TEST(SnapshotJSON, RoundTripsWithWholeSecondsAndDropsFractions) {
  const Snapshot& placeholder = Snapshot::placeholder();
  EXPECT_EQ(Snapshot::decode(placeholder.encoded()), placeholder);

  const Snapshot read = Snapshot::decode(smallSnapshot().encoded());
  EXPECT_NE(read, smallSnapshot());
  EXPECT_EQ(read.generatedAt, utc("2025-03-31T10:15:30Z"));
  EXPECT_EQ(read.providers[0].windows[0].resetsAt, utc("2025-03-31T12:00:00Z"));
  EXPECT_EQ(Snapshot::decode(read.encoded()), read);
}

TEST(SnapshotJSON, OptionalAndUnknownKeys) {
  JSON json = smallSnapshot().toJSON();
  json["providers"][0]["plan"] = nullptr;
  json["providers"][0]["credits"] = nullptr;
  json["providers"][0]["note"] = "from a later version";
  json["extra"] = {1, 2, 3};
  const Snapshot read = Snapshot::fromJSON(json);
  EXPECT_FALSE(read.providers[0].plan.has_value());
  EXPECT_FALSE(read.providers[0].credits.has_value());
  EXPECT_EQ(read.providers[1].id, ProviderID::grok);

  json["providers"][0]["credits"] = {{"label", "Credits"}, {"balanceUSD", 3.5}, {"unlimited", false}};
  EXPECT_EQ(Snapshot::fromJSON(json).providers[0].credits, (Credits{"Credits", 3.5, std::nullopt, std::nullopt, false}));
}

TEST(SnapshotJSON, RejectsMissingKeysAndWrongValues) {
  const JSON good = smallSnapshot().toJSON();
  struct Case {
    const char* name;
    void (*damage)(JSON&);
  };
  const std::vector<Case> cases = {
      {"no generatedAt", [](JSON& j) { j.erase("generatedAt"); }},
      {"no providers", [](JSON& j) { j.erase("providers"); }},
      {"no costTodayUSD", [](JSON& j) { j.erase("costTodayUSD"); }},
      {"no cost30dUSD", [](JSON& j) { j.erase("cost30dUSD"); }},
      {"no dailyCost30", [](JSON& j) { j.erase("dailyCost30"); }},
      {"null cost30dUSD", [](JSON& j) { j["cost30dUSD"] = nullptr; }},
      {"provider without id", [](JSON& j) { j["providers"][0].erase("id"); }},
      {"provider without windows", [](JSON& j) { j["providers"][0].erase("windows"); }},
      {"provider without status", [](JSON& j) { j["providers"][0].erase("status"); }},
      {"provider without tokens30d", [](JSON& j) { j["providers"][0].erase("tokens30d"); }},
      {"provider without cost30dUSD", [](JSON& j) { j["providers"][0].erase("cost30dUSD"); }},
      {"provider without approximate", [](JSON& j) { j["providers"][1].erase("approximate"); }},
      {"unknown provider id", [](JSON& j) { j["providers"][0]["id"] = "Claude"; }},
      {"tokens as text", [](JSON& j) { j["providers"][0]["tokens30d"] = "1234"; }},
      {"fractional tokens", [](JSON& j) { j["providers"][0]["tokens30d"] = 12.5; }},
      {"approximate as 1", [](JSON& j) { j["providers"][0]["approximate"] = 1; }},
      {"status with two cases", [](JSON& j) { j["providers"][0]["status"] = {{"ok", JSON::object()}, {"unreachable", JSON::object()}}; }},
      {"date in ledger form", [](JSON& j) { j["generatedAt"] = 764'000'000.0; }},
      {"date without zone", [](JSON& j) { j["generatedAt"] = "2025-03-31T10:15:30"; }},
      {"providers as object", [](JSON& j) { j["providers"] = JSON::object(); }},
      {"daily cost as text", [](JSON& j) { j["dailyCost30"][1] = "1.5"; }},
      {"a provider that is not an object", [](JSON& j) { j["providers"][0] = 7; }},
      {"not an object", [](JSON& j) { j = JSON::array(); }},
  };
  for (const auto& c : cases) {
    JSON json = good;
    c.damage(json);
    EXPECT_THROW(Snapshot::fromJSON(json), DecodingError) << c.name;
  }
  for (const char* text : {"", "{", "null", R"({"generatedAt":)", "[1,2]"}) {
    EXPECT_THROW(Snapshot::decode(text), DecodingError) << text;
  }
}

TEST(SnapshotJSON, NonFiniteNumbersCannotBeWritten) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<Snapshot> bad(4, smallSnapshot());
  bad[0].costTodayUSD = nan;
  bad[1].dailyCost30[0] = inf;
  bad[2].providers[1].cost30dUSD = -inf;
  bad[3].generatedAt = Date{inf};
  for (const auto& snapshot : bad) EXPECT_THROW((void)snapshot.encoded(), EncodingError);
}

}  // namespace
}  // namespace tokvane
