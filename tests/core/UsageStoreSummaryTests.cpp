#include <gtest/gtest.h>
#include <sqlite3.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Foundation/ISO8601.hpp"
#include "TokvaneCore/Pricing/PriceTable.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"
#include "TokvaneCore/Summary/UsageSummary.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane {

// Failures show the summary as readable JSON instead of raw bytes.
static void PrintTo(const UsageSummary& summary, std::ostream* out) {
  try {
    *out << summary.toJSON(DateCoding::iso8601).dump();
  } catch (const std::exception& error) {
    *out << "<summary not printable: " << error.what() << ">";
  }
}

namespace {

using testing::TempDir;

constexpr double kDay = 86'400;
constexpr double kHour = 3'600;
constexpr int64_t kM = 1'000'000;

Date at(const char* iso) {
  const auto date = ISO8601::parse(iso);
  EXPECT_TRUE(date.has_value()) << iso;
  return date.value_or(Date{});
}

// Mid-afternoon in UTC; the UTC window ends on the start of this day.
const Date kNow = *ISO8601::parse("2025-03-15T15:30:00Z");
const Date kToday = *ISO8601::parse("2025-03-15T00:00:00Z");

TokenCounts uncached(int64_t n) { return TokenCounts{n, 0, 0, 0, 0, 0}; }

ModelPrice price(double input, double output, double cacheRead, double w5m, double w1h,
                 std::optional<std::string> proxyFor = std::nullopt) {
  return ModelPrice{input, output, cacheRead, w5m, w1h, std::move(proxyFor), "test", "2025"};
}

// "flat" costs $1 and "double" $2 per million uncached input tokens and
// nothing else; "sonnet" has full prices, "borrowed" the same ones lent by
// another model. Every other name is unpriced.
PriceTable testPrices() {
  return PriceTable({
      {"flat", price(1, 0, 0, 0, 0)},
      {"double", price(2, 0, 0, 0, 0)},
      {"sonnet", price(3, 15, 0.3, 3.75, 6)},
      {"borrowed", price(3, 15, 0.3, 3.75, 6, "sonnet")},
  });
}

// Runs SQL on a ledger file through a connection of its own, as a damaged
// or foreign-written ledger would look to the store.
void rawSQL(const std::filesystem::path& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr), SQLITE_OK);
  char* error = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  EXPECT_EQ(rc, SQLITE_OK) << (error ? error : "?") << " in " << sql;
  sqlite3_free(error);
  sqlite3_close(db);
}

// A file-backed ledger filled through ingest, one event at a time, each
// event with its own key and (unless named) its own session.
class Ledger {
 public:
  explicit Ledger(const Calendar& calendar = utc()) : calendar_(calendar) {}

  // Opened on first use, so a test can first lay down a file of its own.
  UsageStore& store() {
    if (!store_) store_ = std::make_unique<UsageStore>(path());
    return *store_;
  }
  std::filesystem::path path() const { return dir_ / "usage.sqlite"; }

  void add(ProviderID provider, std::string model, Date when, TokenCounts tokens,
           std::optional<double> reportedUSD = std::nullopt, std::string session = "") {
    const std::string key = "k" + std::to_string(next_++);
    if (session.empty()) session = "s-" + key;
    const int counted =
        store().ingest({UsageEvent{provider, std::move(model), std::move(session), key, when, tokens, reportedUSD}},
                       calendar_);
    EXPECT_EQ(counted, 1);
  }

  // At noon (UTC) of the day `offset` days from today.
  void addOn(int offset, ProviderID provider, std::string model, TokenCounts tokens,
             std::optional<double> reportedUSD = std::nullopt, std::string session = "") {
    add(provider, std::move(model), kToday + offset * kDay + 12 * kHour, tokens, reportedUSD, std::move(session));
  }

  void sql(const std::string& text) {
    store();
    rawSQL(path(), text);
  }

  UsageSummary summary(int days = 30, Date now = kNow) { return store().summary(days, now, calendar_, prices_); }

  static const Calendar& utc() {
    static const FixedOffsetCalendar calendar;
    return calendar;
  }

 private:
  TempDir dir_;
  const Calendar& calendar_;
  PriceTable prices_ = testPrices();
  std::unique_ptr<UsageStore> store_;
  int next_ = 0;
};

std::vector<ProviderID> toolOrder(const UsageSummary& summary) {
  std::vector<ProviderID> order;
  for (const auto& tool : summary.tools) order.push_back(tool.provider);
  return order;
}

std::vector<UsageSummary::DayPoint> pointsOf(const UsageSummary& summary, ProviderID provider) {
  std::vector<UsageSummary::DayPoint> points;
  for (const auto& point : summary.daily) {
    if (point.provider == provider) points.push_back(point);
  }
  return points;
}

// ---------------------------------------------------------------------------
// The window

TEST(UsageStoreSummary, EmptyLedgerGivesAnEmptyWindowEndingToday) {
  Ledger ledger;
  UsageSummary expected;
  expected.days = 30;
  expected.windowEnd = kToday;
  EXPECT_EQ(ledger.summary(), expected);

  expected.days = 1;
  EXPECT_EQ(ledger.summary(0), expected);
}

TEST(UsageStoreSummary, WindowReadsFromItsFirstDayThroughToday) {
  // One row a day before the 30-day window, one on its first day, one
  // yesterday, one today and one tomorrow; each row's count tells which
  // rows a window read.
  Ledger ledger;
  ledger.addOn(-30, ProviderID::claude, "flat", uncached(1));
  ledger.addOn(-29, ProviderID::claude, "flat", uncached(10));
  ledger.addOn(-1, ProviderID::claude, "flat", uncached(100));
  ledger.addOn(0, ProviderID::claude, "flat", uncached(1000));
  ledger.addOn(1, ProviderID::claude, "flat", uncached(10000));

  struct Case {
    int days;
    int expectedDays;
    int64_t expectedTokens;
    std::vector<int> perDayOffsets;  // newest first
  };
  const Case cases[] = {
      {30, 30, 1110, {0, -1, -29}},
      {2, 2, 1100, {0, -1}},
      {1, 1, 1000, {0}},
      {0, 1, 1000, {0}},
      {-7, 1, 1000, {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("days " + std::to_string(c.days));
    const UsageSummary s = ledger.summary(c.days);
    EXPECT_EQ(s.days, c.expectedDays);
    EXPECT_EQ(s.windowEnd, kToday);
    EXPECT_EQ(s.tokens, uncached(c.expectedTokens));

    std::vector<Date> perDay;
    for (const auto& row : s.perDay) perDay.push_back(row.day);
    std::vector<Date> expectedPerDay;
    for (int offset : c.perDayOffsets) expectedPerDay.push_back(kToday + offset * kDay);
    EXPECT_EQ(perDay, expectedPerDay);

    ASSERT_EQ(s.daily.size(), static_cast<size_t>(c.expectedDays));
    EXPECT_EQ(s.daily.front().day, kToday - (c.expectedDays - 1) * kDay);
    EXPECT_EQ(s.daily.back().day, kToday);
  }
}

// The window follows the calendar's own days: its first and last instants
// belong to it, the instants just outside do not, and every point sits at
// a local midnight (the Los Angeles run crosses the start of daylight
// saving on 2025-03-09).
TEST(UsageStoreSummary, WindowFollowsTheCalendarsDays) {
  const FixedOffsetCalendar utc;
  const FixedOffsetCalendar tokyo(9 * 3600);
  const FixedOffsetCalendar newfoundland(-(3 * 3600 + 1800));
  const LocalCalendar local;
  struct Case {
    const char* name;
    const Calendar* calendar;
  };
  const Case cases[] = {{"UTC", &utc}, {"UTC+9", &tokyo}, {"UTC-3:30", &newfoundland}, {"process zone", &local}};
  const Date now = at("2025-03-20T19:00:00Z");

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Calendar& calendar = *c.calendar;
    const Date start = *calendar.startOfDay(now);
    const Date first = *calendar.addingDays(start, -29);
    const Date tomorrow = *calendar.addingDays(start, 1);

    Ledger ledger(calendar);
    ledger.add(ProviderID::claude, "flat", first - 60, uncached(1));
    ledger.add(ProviderID::claude, "flat", first, uncached(10));
    ledger.add(ProviderID::claude, "flat", tomorrow - 60, uncached(100));
    ledger.add(ProviderID::claude, "flat", tomorrow, uncached(1000));

    const UsageSummary s = ledger.summary(30, now);
    EXPECT_EQ(s.windowEnd, start);
    EXPECT_EQ(s.tokens, uncached(110));

    const auto points = pointsOf(s, ProviderID::claude);
    ASSERT_EQ(points.size(), 30u);
    for (int i = 0; i < 30; ++i) {
      EXPECT_EQ(points[i].day, *calendar.addingDays(start, i - 29)) << i;
      EXPECT_EQ(*calendar.startOfDay(points[i].day), points[i].day) << i;
      if (i > 0) {
        EXPECT_LT(dayKey(points[i - 1].day, calendar), dayKey(points[i].day, calendar)) << i;
      }
    }
    EXPECT_EQ(points.front().tokens, 10);
    EXPECT_EQ(points.back().tokens, 100);
    ASSERT_EQ(s.perDay.size(), 2u);
    EXPECT_EQ(s.perDay[0].day, start);
    EXPECT_EQ(s.perDay[1].day, first);
    // The chart series of the same calendar finds every point again.
    EXPECT_EQ(s.lastDays(30, ProviderID::claude, calendar), points);
  }
}

TEST(UsageStoreSummary, SessionCountsOnlyWhenItsFirstDayIsInTheWindow) {
  Ledger ledger;
  ledger.addOn(-40, ProviderID::claude, "flat", uncached(1), std::nullopt, "long-running");
  ledger.addOn(0, ProviderID::claude, "flat", uncached(2), std::nullopt, "long-running");

  const UsageSummary thirty = ledger.summary(30);
  EXPECT_EQ(thirty.sessions, 0);
  ASSERT_EQ(thirty.tools.size(), 1u);
  EXPECT_EQ(thirty.tools[0].sessions, 0);
  ASSERT_EQ(thirty.perDay.size(), 1u);
  EXPECT_EQ(thirty.perDay[0].sessions, 0);
  EXPECT_EQ(thirty.perDay[0].tokens, 2);

  const UsageSummary fortyOne = ledger.summary(41);
  EXPECT_EQ(fortyOne.sessions, 1);
  ASSERT_EQ(fortyOne.perDay.size(), 2u);
  EXPECT_EQ(fortyOne.perDay[1].day, kToday - 40 * kDay);
  EXPECT_EQ(fortyOne.perDay[1].sessions, 1);
}

// ---------------------------------------------------------------------------
// The whole summary

TEST(UsageStoreSummary, BuildsEveryListOfASmallLedger) {
  Ledger ledger;
  ledger.addOn(-2, ProviderID::claude, "flat", uncached(1 * kM));
  ledger.addOn(0, ProviderID::claude, "flat", uncached(2 * kM));
  ledger.addOn(0, ProviderID::codex, "flat", uncached(4 * kM));

  UsageSummary expected;
  expected.days = 3;
  expected.windowEnd = kToday;
  expected.totalCostUSD = 7;
  expected.sessions = 3;
  expected.tools = {
      {ProviderID::codex, 1, 4 * kM, 4, 4.0 / 7, 4.0 / 7, false},
      {ProviderID::claude, 2, 3 * kM, 3, 3.0 / 7, 3.0 / 7, false},
  };
  // Declared provider order, then oldest day first.
  expected.daily = {
      {kToday - 2 * kDay, ProviderID::claude, 1 * kM, 1},
      {kToday - kDay, ProviderID::claude, 0, 0},
      {kToday, ProviderID::claude, 2 * kM, 2},
      {kToday - 2 * kDay, ProviderID::codex, 0, 0},
      {kToday - kDay, ProviderID::codex, 0, 0},
      {kToday, ProviderID::codex, 4 * kM, 4},
  };
  expected.models = {
      {ProviderID::codex, "flat", 4.0, 4.0 / 7, 4.0 / 7, uncached(4 * kM), false},
      {ProviderID::claude, "flat", 3.0, 3.0 / 7, 3.0 / 7, uncached(3 * kM), false},
  };
  // Newest first, days without usage left out.
  expected.perDay = {
      {kToday, 6, 6 * kM, 2},
      {kToday - 2 * kDay, 1, 1 * kM, 1},
  };
  expected.tokens = uncached(7 * kM);
  expected.costByType = CostBreakdown{7, 0, 0, 0, 0};
  EXPECT_EQ(ledger.summary(3), expected);
}

TEST(UsageStoreSummary, CostByTypeAndCacheSavingsAddUpOverRows) {
  Ledger ledger;
  const TokenCounts counts{1'000'000, 2'000'000, 100'000, 0, 50'000, 10'000};
  ledger.addOn(-1, ProviderID::claude, "sonnet", counts);
  ledger.addOn(0, ProviderID::claude, "sonnet", counts);
  ledger.addOn(0, ProviderID::codex, "borrowed", counts);

  const UsageSummary s = ledger.summary();
  // Each row: input 3.0, cache read 0.6, cache write 0.375, output 0.75,
  // saving (3 - 0.3) x 2 = 5.4.
  EXPECT_DOUBLE_EQ(s.costByType.input, 9.0);
  EXPECT_DOUBLE_EQ(s.costByType.cacheRead, 1.8);
  EXPECT_DOUBLE_EQ(s.costByType.cacheWrite, 1.125);
  EXPECT_DOUBLE_EQ(s.costByType.output, 2.25);
  EXPECT_EQ(s.costByType.other, 0);
  EXPECT_DOUBLE_EQ(s.cacheSavingsUSD, 16.2);
  EXPECT_DOUBLE_EQ(s.totalCostUSD, 3 * 4.725);
  EXPECT_EQ(s.tokens, counts + counts + counts);
  EXPECT_FALSE(s.hasUnknownPrices);

  // A borrowed price makes its model and its tool approximate, no other.
  ASSERT_EQ(s.models.size(), 2u);
  EXPECT_EQ(s.models[0].model, "sonnet");
  EXPECT_FALSE(s.models[0].approximate);
  EXPECT_EQ(s.models[1].model, "borrowed");
  EXPECT_TRUE(s.models[1].approximate);
  EXPECT_EQ(toolOrder(s), (std::vector{ProviderID::claude, ProviderID::codex}));
  EXPECT_FALSE(s.tools[0].approximate);
  EXPECT_TRUE(s.tools[1].approximate);
}

TEST(UsageStoreSummary, ReportedCostsPriceOnlyModelsWithoutAPrice) {
  Ledger ledger;
  ledger.addOn(0, ProviderID::grok, "grok-code", uncached(10), 1.5);
  ledger.addOn(0, ProviderID::grok, "grok-code", uncached(10), 0.25);
  ledger.addOn(0, ProviderID::grok, "flat", uncached(3 * kM), 100.0);  // the price list wins

  const UsageSummary s = ledger.summary();
  EXPECT_FALSE(s.hasUnknownPrices);
  EXPECT_DOUBLE_EQ(s.totalCostUSD, 4.75);
  EXPECT_EQ(s.costByType, (CostBreakdown{3, 0, 0, 0, 1.75}));
  ASSERT_EQ(s.models.size(), 2u);
  EXPECT_EQ(s.models[0].model, "flat");
  EXPECT_EQ(s.models[0].costUSD, 3.0);
  EXPECT_FALSE(s.models[0].approximate);
  EXPECT_EQ(s.models[1].model, "grok-code");
  EXPECT_EQ(s.models[1].costUSD, 1.75);
  EXPECT_TRUE(s.models[1].approximate);
  ASSERT_EQ(s.tools.size(), 1u);
  EXPECT_TRUE(s.tools[0].approximate);
  EXPECT_DOUBLE_EQ(s.tools[0].costUSD, 4.75);
}

// ---------------------------------------------------------------------------
// Tools

TEST(UsageStoreSummary, ToolsRunFromMostExpensiveKeepingProviderOrderOnTies) {
  struct Case {
    const char* name;
    std::array<int64_t, 4> millions;  // claude, codex, grok, cursor; each $1 per million
    std::vector<ProviderID> expected;
  };
  using enum ProviderID;
  const Case cases[] = {
      {"all equal", {2, 2, 2, 2}, {claude, codex, grok, cursor}},
      {"costlier grok first", {1, 1, 3, 1}, {grok, claude, codex, cursor}},
      // Grok's row has all counters 0: it still makes a tool, last.
      {"ties among the rest", {1, 2, 0, 2}, {codex, cursor, claude, grok}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Ledger ledger;
    int64_t total = 0;
    for (size_t i = 0; i < allProviders.size(); ++i) {
      ledger.addOn(0, allProviders[i], "flat", uncached(c.millions[i] * kM));
      total += c.millions[i];
    }
    const UsageSummary s = ledger.summary();
    EXPECT_EQ(toolOrder(s), c.expected);
    for (const auto& tool : s.tools) {
      const int64_t millions = c.millions[static_cast<size_t>(tool.provider)];
      EXPECT_EQ(tool.tokens, millions * kM);
      EXPECT_DOUBLE_EQ(tool.costUSD, static_cast<double>(millions));
      EXPECT_DOUBLE_EQ(tool.costShare, static_cast<double>(millions) / static_cast<double>(total));
      EXPECT_DOUBLE_EQ(tool.tokenShare, static_cast<double>(millions) / static_cast<double>(total));
      EXPECT_EQ(tool.sessions, 1);
    }
  }
}

TEST(UsageStoreSummary, ProviderWithOnlySessionsGetsAnEmptyToolAndZeroPoints) {
  Ledger ledger;
  ledger.addOn(0, ProviderID::claude, "flat", uncached(kM));
  ledger.sql("INSERT INTO sessions(provider, session_id, day) VALUES('codex', 'a', '2025-03-15'),"
             " ('codex', 'b', '2025-03-12')");

  const UsageSummary s = ledger.summary();
  EXPECT_EQ(s.sessions, 3);
  ASSERT_EQ(s.tools.size(), 2u);
  EXPECT_EQ(s.tools[1], (UsageSummary::Tool{ProviderID::codex, 2, 0, 0, 0, 0, false}));

  const auto points = pointsOf(s, ProviderID::codex);
  ASSERT_EQ(points.size(), 30u);
  for (int i = 0; i < 30; ++i) {
    EXPECT_EQ(points[i], (UsageSummary::DayPoint{kToday + (i - 29) * kDay, ProviderID::codex, 0, 0})) << i;
  }
  EXPECT_TRUE(s.models.size() == 1 && s.models[0].provider == ProviderID::claude);
  EXPECT_EQ(s.perDay, (std::vector<UsageSummary::DayRow>{{kToday, 1, kM, 2}, {kToday - 3 * kDay, 0, 0, 1}}));
}

// ---------------------------------------------------------------------------
// Models and shares

TEST(UsageStoreSummary, ModelsRunPricedFirstThenByCostTokensProviderAndName) {
  Ledger ledger;
  ledger.addOn(0, ProviderID::claude, "double", uncached(kM));                     // $2, 1M
  ledger.addOn(0, ProviderID::codex, "flat", TokenCounts{2 * kM, 4 * kM, 0, 0, 0, 0});  // $2, 6M
  ledger.addOn(0, ProviderID::claude, "flat", uncached(3 * kM));                   // $3
  // Unpriced, without reported costs: the largest count still comes after
  // every priced model; reasoning is not a processed token.
  ledger.addOn(0, ProviderID::codex, "mystery", uncached(50 * kM));
  ledger.addOn(0, ProviderID::grok, "b", uncached(100));
  ledger.addOn(0, ProviderID::cursor, "z", uncached(100));
  ledger.addOn(0, ProviderID::grok, "a", uncached(100));
  ledger.addOn(0, ProviderID::claude, "c", TokenCounts{50, 0, 0, 0, 0, 1000});

  const UsageSummary s = ledger.summary();
  struct Expected {
    ProviderID provider;
    const char* model;
    std::optional<double> costUSD;
  };
  const std::vector<Expected> expected = {
      {ProviderID::claude, "flat", 3.0},          {ProviderID::codex, "flat", 2.0},
      {ProviderID::claude, "double", 2.0},        {ProviderID::codex, "mystery", std::nullopt},
      {ProviderID::cursor, "z", std::nullopt},    {ProviderID::grok, "a", std::nullopt},
      {ProviderID::grok, "b", std::nullopt},      {ProviderID::claude, "c", std::nullopt},
  };
  ASSERT_EQ(s.models.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(s.models[i].provider, expected[i].provider);
    EXPECT_EQ(s.models[i].model, expected[i].model);
    EXPECT_EQ(s.models[i].costUSD, expected[i].costUSD);
  }

  // Unpriced tokens count everywhere tokens count; their cost nowhere.
  EXPECT_TRUE(s.hasUnknownPrices);
  EXPECT_DOUBLE_EQ(s.totalCostUSD, 7);
  const int64_t processed = 10 * kM + 50 * kM + 350;
  EXPECT_EQ(s.tokens.processed(), processed);
  EXPECT_EQ(s.tokens.reasoning, 1000);
  EXPECT_DOUBLE_EQ(s.models[3].tokenShare, static_cast<double>(50 * kM) / processed);
  EXPECT_EQ(s.models[3].costShare, 0);
  EXPECT_DOUBLE_EQ(s.models[0].costShare, 3.0 / 7);
  EXPECT_EQ(s.models[7].tokens, (TokenCounts{50, 0, 0, 0, 0, 1000}));
  ASSERT_EQ(s.tools.size(), 4u);
  EXPECT_EQ(s.tools[1].provider, ProviderID::codex);
  EXPECT_EQ(s.tools[1].tokens, 56 * kM);
  EXPECT_DOUBLE_EQ(s.tools[1].costUSD, 2);
  EXPECT_FALSE(s.tools[1].approximate);
}

TEST(UsageStoreSummary, SharesAreZeroWhenTheirTotalIsZero) {
  struct Case {
    const char* name;
    TokenCounts tokens;  // of each of two unpriced rows
    double tokenShare;
  };
  const Case cases[] = {
      {"only reasoning tokens", TokenCounts{0, 0, 0, 0, 0, 500}, 0},
      {"processed tokens without a cost", uncached(10), 0.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Ledger ledger;
    ledger.addOn(0, ProviderID::claude, "mystery", c.tokens);
    ledger.addOn(0, ProviderID::codex, "mystery", c.tokens);
    const UsageSummary s = ledger.summary();
    EXPECT_EQ(s.totalCostUSD, 0);
    EXPECT_TRUE(s.hasUnknownPrices);
    EXPECT_EQ(s.tokens, c.tokens + c.tokens);
    ASSERT_EQ(s.tools.size(), 2u);
    ASSERT_EQ(s.models.size(), 2u);
    for (const auto& tool : s.tools) {
      EXPECT_EQ(tool.costShare, 0);
      EXPECT_EQ(tool.tokenShare, c.tokenShare);
    }
    for (const auto& model : s.models) {
      EXPECT_EQ(model.costShare, 0);
      EXPECT_EQ(model.tokenShare, c.tokenShare);
    }
  }
}

// ---------------------------------------------------------------------------
// Damaged ledgers and failures

TEST(UsageStoreSummary, RowsOfUnknownProvidersAndInfiniteCostsAreHarmless) {
  Ledger ledger;
  ledger.addOn(0, ProviderID::claude, "flat", uncached(kM));
  ledger.sql(
      "INSERT INTO daily(provider, model, day, uncached, reported_usd) VALUES"
      " ('gemini', 'flat', '2025-03-15', 5, 1.0),"
      " ('Claude', 'flat', '2025-03-15', 5, 1.0),"
      " ('grok', 'up', '2025-03-15', 7, 9e999),"
      " ('grok', 'down', '2025-03-15', 7, -9e999);"
      "INSERT INTO sessions(provider, session_id, day) VALUES ('gemini', 'g', '2025-03-15'), ('', 'e', '2025-03-15');");

  const UsageSummary s = ledger.summary();
  EXPECT_EQ(toolOrder(s), (std::vector{ProviderID::claude, ProviderID::grok}));
  EXPECT_EQ(s.sessions, 1);
  EXPECT_EQ(s.tokens, uncached(kM + 14));
  // The infinite costs count as no cost at all.
  EXPECT_EQ(s.totalCostUSD, 1);
  EXPECT_TRUE(s.hasUnknownPrices);
  ASSERT_EQ(s.models.size(), 3u);
  EXPECT_EQ(s.models[1].model, "down");
  EXPECT_EQ(s.models[1].costUSD, std::nullopt);
  EXPECT_FALSE(s.models[1].approximate);
  EXPECT_EQ(s.models[2].model, "up");
  EXPECT_EQ(s.models[2].costUSD, std::nullopt);
  EXPECT_TRUE(std::isfinite(s.costByType.total()));
  EXPECT_TRUE(std::isfinite(s.cacheSavingsUSD));
  EXPECT_NO_THROW(s.toJSON(DateCoding::referenceSeconds));  // refuses non-finite numbers
}

// A ledger whose tables were made by something else, without the NOT NULL
// constraints: NULL texts read as empty, NULL counters as 0.
TEST(UsageStoreSummary, NullColumnsOfAForeignLedgerReadAsEmpty) {
  Ledger ledger;
  rawSQL(ledger.path(),
         "CREATE TABLE daily(provider TEXT, model TEXT, day TEXT, uncached INTEGER, cache_read INTEGER,"
         " w5m INTEGER, w1h INTEGER, output INTEGER, reasoning INTEGER, reported_usd REAL);"
         "CREATE TABLE sessions(provider TEXT, session_id TEXT, day TEXT);"
         "INSERT INTO daily VALUES ('codex', NULL, '2025-03-15', NULL, 5, NULL, NULL, 2, NULL, NULL),"
         " (NULL, 'flat', '2025-03-15', 1, 1, 1, 1, 1, 1, NULL);"
         "INSERT INTO sessions VALUES ('codex', NULL, '2025-03-15'), ('codex', 'x', NULL);"
         "CREATE TABLE seen(key TEXT, day TEXT); CREATE TABLE cursors(path TEXT, json TEXT);"
         "CREATE TABLE limits(provider TEXT, json TEXT);"
         "PRAGMA user_version = 1;");

  const UsageSummary s = ledger.summary();
  ASSERT_EQ(s.models.size(), 1u);
  EXPECT_EQ(s.models[0].provider, ProviderID::codex);
  EXPECT_EQ(s.models[0].model, "");
  EXPECT_EQ(s.models[0].tokens, (TokenCounts{0, 5, 0, 0, 2, 0}));
  EXPECT_EQ(s.models[0].costUSD, std::nullopt);
  EXPECT_TRUE(s.hasUnknownPrices);
  EXPECT_EQ(s.sessions, 1);
  EXPECT_EQ(s.perDay, (std::vector<UsageSummary::DayRow>{{kToday, 0, 7, 1}}));
}

TEST(UsageStoreSummary, FailingReadThrowsAndTheStoreGoesOn) {
  const char* breakages[] = {"DROP TABLE daily", "DROP TABLE sessions"};
  for (const char* breakage : breakages) {
    SCOPED_TRACE(breakage);
    Ledger ledger;
    ledger.addOn(0, ProviderID::claude, "flat", uncached(kM));
    ASSERT_EQ(ledger.summary().tokens, uncached(kM));  // both statements already prepared

    ledger.sql(breakage);
    try {
      ledger.summary();
      ADD_FAILURE() << "no error thrown";
    } catch (const UsageStoreError& error) {
      EXPECT_EQ(error.code, SQLITE_ERROR);
      EXPECT_NE(error.message.find("no such table"), std::string::npos) << error.message;
    }
    // The lock was released: other operations still run.
    EXPECT_NO_THROW(ledger.store().cursor("/logs/a.jsonl"));
  }
}

}  // namespace
}  // namespace tokvane
