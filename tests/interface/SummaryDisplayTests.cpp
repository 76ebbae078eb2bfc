#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "Tokvane/Stats/SummaryDisplay.hpp"
#include "TokvaneCore/Foundation/Calendar.hpp"

namespace tokvane {
namespace {

using SummaryDisplay::BreakdownRow;
using SummaryDisplay::Segment;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
const std::string dash = "\xE2\x80\x94";

// Monday 2024-12-09 00:00 UTC.
const Date monday = Date::fromUnix(1733702400);

struct HeadlineCase {
  double value;
  SummaryUnit unit;
  std::string expected;
};

TEST(SummaryDisplayHeadline, CompactFiguresInBothUnits) {
  const HeadlineCase cases[] = {
      // The cents branch looks at the value itself, not at its rounding.
      {2.5, SummaryUnit::cost, "$2.5"},
      {10, SummaryUnit::cost, "$10"},
      {0, SummaryUnit::cost, "$0"},
      {0.125, SummaryUnit::cost, "$0.13"},
      {9.999, SummaryUnit::cost, "$10"},
      {9.5, SummaryUnit::cost, "$9.5"},
      {0.75, SummaryUnit::cost, "$0.75"},
      {12.4, SummaryUnit::cost, "$12"},
      {12.5, SummaryUnit::cost, "$13"},
      {1234567, SummaryUnit::cost, "$1,234,567"},
      {1500, SummaryUnit::tokens, "1.5K"},
      {1000, SummaryUnit::tokens, "1K"},
      {1499.5, SummaryUnit::tokens, "1.5K"},
      {15000, SummaryUnit::tokens, "15K"},
      {150000, SummaryUnit::tokens, "150K"},
      {1234, SummaryUnit::tokens, "1.23K"},
      {2'000'000, SummaryUnit::tokens, "2M"},
      {2.5e9, SummaryUnit::tokens, "2.5B"},
      {999, SummaryUnit::tokens, "999"},
      {0, SummaryUnit::tokens, "0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SummaryDisplay::headlineValue(c.value, c.unit), c.expected) << c.value;
  }
}

TEST(SummaryDisplayHeadline, ValuesWithoutAnIntegerGiveADash) {
  // Non-finite values and values beyond the 64-bit range once rounded.
  for (double value : {nan, inf, -inf, 1e19, -1e19, 9223372036854775808.0}) {
    for (SummaryUnit unit : allSummaryUnits) {
      EXPECT_EQ(SummaryDisplay::headlineValue(value, unit), dash) << value;
    }
  }
  // The largest double below 2^63 still has its figure.
  EXPECT_EQ(SummaryDisplay::headlineValue(9223372036854774784.0, SummaryUnit::cost),
            "$9,223,372,036,854,774,784");
}

TEST(SummaryDisplay, GroupedIntegersAndSessionWording) {
  EXPECT_EQ(SummaryDisplay::groupedInteger(0), "0");
  EXPECT_EQ(SummaryDisplay::groupedInteger(999), "999");
  EXPECT_EQ(SummaryDisplay::groupedInteger(1000), "1,000");
  EXPECT_EQ(SummaryDisplay::groupedInteger(-1234567), "-1,234,567");
  EXPECT_EQ(SummaryDisplay::groupedInteger(std::numeric_limits<int64_t>::min()), "-9,223,372,036,854,775,808");

  const std::pair<int64_t, std::string> sessions[] = {
      {0, "0 sessions"}, {1, "1 session"}, {2, "2 sessions"}, {1234, "1,234 sessions"}};
  for (const auto& [n, text] : sessions) EXPECT_EQ(SummaryDisplay::sessionsText(n), text);
  EXPECT_EQ(SummaryDisplay::sublineText(1, SummaryUnit::cost), "1 session \xC2\xB7 API estimate");
  EXPECT_EQ(SummaryDisplay::sublineText(1234, SummaryUnit::tokens), "1,234 sessions");
}

TEST(SummaryDisplay, IndexingTextAtTheUnitBoundaries) {
  struct Case {
    int64_t read, total;
    std::string amounts;
  };
  const Case cases[] = {
      {0, 0, "0.0 / 0.0 KB"},
      {500, 999, "0.5 / 1.0 KB"},
      {9'900, 10'000, "9.9 / 10 KB"},
      {999'999, 999'999, "1000 / 1000 KB"},
      {500'000, 1'000'000, "0.5 / 1.0 MB"},
      {500'000, 2'000'000, "0.5 / 2.0 MB"},
      {999'999'999, 999'999'999, "1000 / 1000 MB"},
      {10'000'000'000, 1'000'000'000 * int64_t{12}, "10 / 12 GB"},
      {1'000'000'000, 1'000'000'000, "1.0 / 1.0 GB"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SummaryDisplay::indexingText({ProviderID::codex, c.read, c.total}),
              "Reading Codex history\xE2\x80\xA6 " + c.amounts);
  }
  EXPECT_EQ(SummaryDisplay::indexingText({ProviderID::grok, 0, 0}), "Reading Grok Build history\xE2\x80\xA6 0.0 / 0.0 KB");
}

TEST(SummaryDisplay, DatesInBothPatternsFollowTheCalendarsZone) {
  const FixedOffsetCalendar utc;
  EXPECT_EQ(SummaryDisplay::formatDate(monday, SummaryDisplay::DatePattern::monthDay, utc), "Dec 9");
  EXPECT_EQ(SummaryDisplay::formatDate(monday, SummaryDisplay::DatePattern::weekdayMonthDay, utc), "Mon, Dec 9");
  // Eight hours west, the same instant is still Sunday the 8th.
  const FixedOffsetCalendar west(-8 * 3600);
  EXPECT_EQ(SummaryDisplay::formatDate(monday, SummaryDisplay::DatePattern::weekdayMonthDay, west), "Sun, Dec 8");
  EXPECT_EQ(SummaryDisplay::formatDate(Date::fromUnix(0), SummaryDisplay::DatePattern::weekdayMonthDay, utc),
            "Thu, Jan 1");
}

UsageSummary::Tool tool(ProviderID provider, int64_t sessions, int64_t tokens, double cost, double costShare,
                        double tokenShare, bool approximate = false) {
  return UsageSummary::Tool{provider, sessions, tokens, cost, costShare, tokenShare, approximate};
}

TEST(SummaryDisplay, ToolLinesInBothUnits) {
  const auto claude = tool(ProviderID::claude, 1, 1'234'000, 12.5, 0.4, 0.25);
  auto line = SummaryDisplay::toolLineDetail(claude, SummaryUnit::cost);
  EXPECT_EQ(line.provider, ProviderID::claude);
  EXPECT_EQ(line.sessions, "1 session");
  EXPECT_EQ(line.value, "$12.50");
  EXPECT_EQ(line.detail, "40.0% of cost \xC2\xB7 1.23M tokens");
  line = SummaryDisplay::toolLineDetail(claude, SummaryUnit::tokens);
  EXPECT_EQ(line.value, "1.23M");
  EXPECT_EQ(line.detail, "25.0% of tokens \xC2\xB7 $12.50");

  // An approximate cost carries "≈"; a share that is not finite reads 0%.
  const auto grok = tool(ProviderID::grok, 1234, 999, 1, nan, inf, true);
  line = SummaryDisplay::toolLineDetail(grok, SummaryUnit::cost);
  EXPECT_EQ(line.sessions, "1,234 sessions");
  EXPECT_EQ(line.value, "\xE2\x89\x88$1.00");
  EXPECT_EQ(line.detail, "0% of cost \xC2\xB7 999 tokens");
  EXPECT_EQ(SummaryDisplay::toolLineDetail(grok, SummaryUnit::tokens).detail, "0% of tokens \xC2\xB7 \xE2\x89\x88$1.00");
}

UsageSummary summaryWithTokens() {
  UsageSummary summary;
  summary.tokens = TokenCounts{1000, 20'000, 3000, 500, 4000, 777};
  summary.costByType = CostBreakdown{1.5, 0.25, 0, 3, 0};
  summary.cacheSavingsUSD = 4.2;
  return summary;
}

TEST(SummaryDisplay, TotalsAndTypeSegments) {
  const UsageSummary summary = summaryWithTokens();
  const std::vector<SummaryDisplay::Stat> expected = {{"Processed tokens", "28.5K"},
                                                      {"Cached input", "23.5K"},
                                                      {"Uncached input", "1.00K"},
                                                      {"Output", "4.00K"},
                                                      {"Cache savings", "$4.20"}};
  EXPECT_EQ(SummaryDisplay::totalsStats(summary), expected);

  // Cache write joins both durations; reasoning is never a segment.
  EXPECT_EQ(SummaryDisplay::typeSegments(summary, SummaryUnit::tokens),
            (std::vector<Segment>{{"Input", 1000, "1.00K"},
                                  {"Cache read", 20000, "20.0K"},
                                  {"Cache write", 3500, "3.50K"},
                                  {"Output", 4000, "4.00K"}}));
  // Zero (and NaN) amounts drop out; "Other" shows only when above zero.
  EXPECT_EQ(SummaryDisplay::typeSegments(summary, SummaryUnit::cost),
            (std::vector<Segment>{{"Input", 1.5, "$1.50"}, {"Cache read", 0.25, "$0.25"}, {"Output", 3, "$3.00"}}));
  UsageSummary other = summary;
  other.costByType = CostBreakdown{nan, 0, 0.5, 0, 0.004};
  EXPECT_EQ(SummaryDisplay::typeSegments(other, SummaryUnit::cost),
            (std::vector<Segment>{{"Cache write", 0.5, "$0.50"}, {"Other", 0.004, "<$0.01"}}));
}

TEST(SummaryDisplay, AnEmptySummaryHasNoRowsNorSegments) {
  const UsageSummary& empty = UsageSummary::empty();
  const FixedOffsetCalendar utc;
  for (SummaryUnit unit : allSummaryUnits) {
    EXPECT_TRUE(SummaryDisplay::typeSegments(empty, unit).empty());
    for (BreakdownMode mode : allBreakdownModes) EXPECT_TRUE(SummaryDisplay::breakdownRows(empty, mode, unit, utc).empty());
  }
  EXPECT_EQ(SummaryDisplay::totalsStats(empty)[0].value, "0");
  EXPECT_EQ(SummaryDisplay::totalsStats(empty)[4].value, "$0.00");
  EXPECT_EQ(SummaryDisplay::emptyText(empty), "No usage in the last 30 days");
  EXPECT_EQ(SummaryDisplay::sectionHeadline(empty, false, SummaryUnit::cost), "$0.00");
  EXPECT_EQ(SummaryDisplay::sectionHeadline(empty, false, SummaryUnit::tokens), "0");
  EXPECT_EQ(SummaryDisplay::sectionHeadline(empty, true, SummaryUnit::tokens), dash);
}

UsageSummary::ModelRow modelRow(ProviderID provider, std::string name, std::optional<double> cost, double costShare,
                                double tokenShare, int64_t input = 1000, bool approximate = false) {
  UsageSummary::ModelRow row;
  row.provider = provider;
  row.model = std::move(name);
  row.costUSD = cost;
  row.costShare = costShare;
  row.tokenShare = tokenShare;
  row.tokens = TokenCounts{input, 0, 0, 0, 0, 5};
  row.approximate = approximate;
  return row;
}

std::vector<std::string> ids(const std::vector<BreakdownRow>& rows) {
  std::vector<std::string> out;
  for (const auto& row : rows) out.push_back(row.id);
  return out;
}

TEST(SummaryDisplayBreakdown, UnpricedModelsInBothUnits) {
  UsageSummary summary;
  summary.models = {modelRow(ProviderID::claude, "claude-sonnet-4-5", 6.0, 0.6, 0.2, 2000),
                    modelRow(ProviderID::grok, "grok-private", std::nullopt, 0, 0.7, 7000),
                    modelRow(ProviderID::codex, "gpt-5-codex", 4.0, 0.4, 0.1, 1000, true)};
  const FixedOffsetCalendar utc;

  const auto cost = SummaryDisplay::breakdownRows(summary, BreakdownMode::model, SummaryUnit::cost, utc);
  EXPECT_EQ(ids(cost), (std::vector<std::string>{"claude/claude-sonnet-4-5", "codex/gpt-5-codex", "grok/grok-private"}));
  EXPECT_EQ(cost[0].rank, 1);
  EXPECT_EQ(cost[0].cost, "$6.00");
  EXPECT_EQ(cost[0].share, "60.0%");
  EXPECT_EQ(cost[0].tokens, "2.00K");  // processed tokens: reasoning left out
  EXPECT_DOUBLE_EQ(cost[0].fraction, 0.6);
  EXPECT_EQ(cost[1].cost, "\xE2\x89\x88$4.00");
  EXPECT_EQ(cost[2].rank, 3);
  EXPECT_EQ(cost[2].provider, ProviderID::grok);
  EXPECT_EQ(cost[2].title, "grok-private");
  EXPECT_EQ(cost[2].cost, dash);
  EXPECT_EQ(cost[2].share, dash);
  EXPECT_EQ(cost[2].fraction, 0);

  const auto tokens = SummaryDisplay::breakdownRows(summary, BreakdownMode::model, SummaryUnit::tokens, utc);
  EXPECT_EQ(ids(tokens), (std::vector<std::string>{"grok/grok-private", "claude/claude-sonnet-4-5", "codex/gpt-5-codex"}));
  EXPECT_EQ(tokens[0].cost, dash);
  EXPECT_EQ(tokens[0].share, "70.0%");
  EXPECT_EQ(tokens[0].tokens, "7.00K");
  EXPECT_DOUBLE_EQ(tokens[0].fraction, 0.7);
}

TEST(SummaryDisplayBreakdown, EqualAndNonFiniteSharesKeepTheSummarysOrder) {
  UsageSummary summary;
  summary.models = {modelRow(ProviderID::claude, "a", 1.0, nan, nan), modelRow(ProviderID::claude, "b", 1.0, 0.25, 0.25),
                    modelRow(ProviderID::codex, "c", 1.0, nan, inf), modelRow(ProviderID::codex, "d", 1.0, 0, 0),
                    modelRow(ProviderID::grok, "e", 1.0, 0.25, 0.25), modelRow(ProviderID::grok, "f", 1.0, -inf, 0)};
  const FixedOffsetCalendar utc;
  // Non-finite keys count as 0: "a", "c" and "f" sort with "d", in place.
  const auto cost = SummaryDisplay::breakdownRows(summary, BreakdownMode::model, SummaryUnit::cost, utc);
  EXPECT_EQ(ids(cost), (std::vector<std::string>{"claude/b", "grok/e", "claude/a", "codex/c", "codex/d", "grok/f"}));
  EXPECT_EQ(cost[2].share, "0%");
  EXPECT_EQ(cost[2].fraction, 0);
  const auto tokens = SummaryDisplay::breakdownRows(summary, BreakdownMode::model, SummaryUnit::tokens, utc);
  EXPECT_EQ(ids(tokens), (std::vector<std::string>{"claude/b", "grok/e", "claude/a", "codex/c", "codex/d", "grok/f"}));
  EXPECT_EQ(tokens[3].share, "0%");

  // Many NaN keys among real ones: the order stays total and stable.
  UsageSummary many;
  for (int i = 0; i < 200; ++i) {
    many.models.push_back(modelRow(ProviderID::claude, std::to_string(i), 1.0, i % 3 == 0 ? nan : (i % 7) / 10.0, 0));
  }
  const auto rows = SummaryDisplay::breakdownRows(many, BreakdownMode::model, SummaryUnit::cost, utc);
  ASSERT_EQ(rows.size(), 200u);
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const int a = std::stoi(rows[i - 1].title), b = std::stoi(rows[i].title);
    const double ka = a % 3 == 0 ? 0 : (a % 7) / 10.0, kb = b % 3 == 0 ? 0 : (b % 7) / 10.0;
    EXPECT_TRUE(ka > kb || (ka == kb && a < b)) << a << " before " << b;
  }
}

TEST(SummaryDisplayBreakdown, SharesAreClampedForTheBarOnly) {
  UsageSummary summary;
  summary.models = {modelRow(ProviderID::claude, "over", 1.0, 1.5, 1.5), modelRow(ProviderID::claude, "under", 1.0, -0.2, -0.2)};
  const FixedOffsetCalendar utc;
  const auto rows = SummaryDisplay::breakdownRows(summary, BreakdownMode::model, SummaryUnit::cost, utc);
  EXPECT_EQ(rows[0].share, "150.0%");
  EXPECT_EQ(rows[0].fraction, 1);
  EXPECT_EQ(rows[1].share, "0%");
  EXPECT_EQ(rows[1].fraction, 0);
}

TEST(SummaryDisplayBreakdown, DayRowsKeepTheSummarysOrderAndAZeroTotalGivesEmptyBars) {
  UsageSummary summary;
  summary.perDay = {{monday, 3.0, 3000, 2}, {monday - 86400, 1.0, 1000, 1}};
  summary.totalCostUSD = 4.0;
  summary.tokens = TokenCounts{4000, 0, 0, 0, 0, 0};
  const FixedOffsetCalendar utc;

  auto rows = SummaryDisplay::breakdownRows(summary, BreakdownMode::day, SummaryUnit::cost, utc);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].id, "day/1733702400.0");
  EXPECT_EQ(rows[0].rank, 1);
  EXPECT_EQ(rows[0].provider, std::nullopt);
  EXPECT_EQ(rows[0].title, "Mon, Dec 9");
  EXPECT_EQ(rows[0].cost, "$3.00");
  EXPECT_EQ(rows[0].share, "75.0%");
  EXPECT_EQ(rows[0].tokens, "3.00K");
  EXPECT_DOUBLE_EQ(rows[0].fraction, 0.75);
  EXPECT_EQ(rows[1].title, "Sun, Dec 8");
  EXPECT_EQ(SummaryDisplay::breakdownRows(summary, BreakdownMode::day, SummaryUnit::tokens, utc)[1].share, "25.0%");

  // Nothing cost anything: every row reads 0% with no bar.
  for (auto& day : summary.perDay) day.costUSD = 0;
  summary.totalCostUSD = 0;
  rows = SummaryDisplay::breakdownRows(summary, BreakdownMode::day, SummaryUnit::cost, utc);
  for (const auto& row : rows) {
    EXPECT_EQ(row.share, "0%");
    EXPECT_EQ(row.fraction, 0);
  }
}

TEST(SummaryDisplay, BreakdownModesByRawValue) {
  EXPECT_EQ(breakdownModeFromRawValue("model"), BreakdownMode::model);
  EXPECT_EQ(breakdownModeFromRawValue("day"), BreakdownMode::day);
  EXPECT_EQ(breakdownModeFromRawValue("Day"), std::nullopt);
  EXPECT_EQ(breakdownModeLabel(BreakdownMode::day), "Day");
  EXPECT_EQ(rawValue(BreakdownMode::model), "model");
}

}  // namespace
}  // namespace tokvane
