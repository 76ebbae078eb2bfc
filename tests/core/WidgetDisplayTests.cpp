#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "TokvaneCore/Foundation/ISO8601.hpp"
#include "TokvaneCore/Presentation/WidgetDisplay.hpp"

namespace tokvane {
namespace {

const Date now = Date::fromUnix(1'760'000'000);

Date utc(const char* text) {
  const auto date = ISO8601::parse(text);
  EXPECT_TRUE(date.has_value()) << text;
  return date.value_or(Date{});
}

LimitWindow window(const char* id, double used, std::optional<Date> resetsAt = std::nullopt) {
  return LimitWindow(id, id, used, 3600, resetsAt, LimitSource::live());
}

std::vector<std::string> idsOf(const std::vector<LimitWindow>& windows) {
  std::vector<std::string> ids;
  for (const auto& w : windows) ids.push_back(w.id);
  return ids;
}

// MARK: - Staleness

TEST(WidgetDisplay, StaleOnlyAfterHalfAnHour) {
  EXPECT_EQ(WidgetDisplay::staleAfter, 1800);
  EXPECT_EQ(WidgetDisplay::reloadInterval, 900);
  struct Case {
    double age;
    bool stale;
  };
  for (const Case& c : std::vector<Case>{
           {-100, false}, {0, false}, {1800, false}, {1800.001, true}, {1801, true}, {1e9, true}}) {
    EXPECT_EQ(WidgetDisplay::isStale(now - c.age, now), c.stale) << c.age;
    EXPECT_EQ(WidgetDisplay::staleText(now - c.age, now).has_value(), c.stale) << c.age;
  }
}

TEST(WidgetDisplay, StaleTextNamesTheAgeInAbbreviatedUnits) {
  struct Case {
    double age;
    const char* text;
  };
  for (const Case& c : std::vector<Case>{
           {1801, "Updated 30 min. ago"},
           {1860, "Updated 31 min. ago"},
           {3599, "Updated 59 min. ago"},
           {3600, "Updated 1 hr. ago"},
           {7199, "Updated 1 hr. ago"},
           {7200, "Updated 2 hr. ago"},
           {86'399, "Updated 23 hr. ago"},
           {86'400, "Updated 1 day ago"},
           {2 * 86'400 - 1, "Updated 1 day ago"},
           {3 * 86'400, "Updated 3 days ago"},
           {7 * 86'400 - 1, "Updated 6 days ago"},
           {7 * 86'400, "Updated 1 wk. ago"},
           {14 * 86'400, "Updated 2 wk. ago"},
       }) {
    EXPECT_EQ(WidgetDisplay::staleText(now - c.age, now), c.text) << c.age;
  }
}

TEST(WidgetDisplay, StaleTextCountsMonthsAndYearsOnTheCalendar) {
  struct Case {
    const char* generatedAt;
    const char* now;
    const char* text;
  };
  for (const Case& c : std::vector<Case>{
           {"2026-01-15T12:00:00Z", "2026-02-14T12:00:00Z", "Updated 4 wk. ago"},
           {"2026-01-15T12:00:00Z", "2026-02-15T11:59:59Z", "Updated 4 wk. ago"},
           {"2026-01-15T12:00:00Z", "2026-02-15T12:00:00Z", "Updated 1 mo. ago"},
           {"2026-02-01T00:00:00Z", "2026-03-01T00:00:00Z", "Updated 1 mo. ago"},  // 28 days
           {"2026-01-31T00:00:00Z", "2026-02-28T23:00:00Z", "Updated 4 wk. ago"},
           {"2026-01-15T12:00:00Z", "2027-01-15T11:59:59Z", "Updated 11 mo. ago"},
           {"2026-01-15T12:00:00Z", "2027-01-15T12:00:00Z", "Updated 1 yr. ago"},
           {"2001-01-01T00:00:00Z", "2026-10-29T12:00:00Z", "Updated 25 yr. ago"},
           {"1960-03-01T00:00:00Z", "1970-02-28T00:00:00Z", "Updated 9 yr. ago"},
       }) {
    EXPECT_EQ(WidgetDisplay::staleText(utc(c.generatedAt), utc(c.now)), c.text) << c.generatedAt << " " << c.now;
  }
  // Absurd ages still give a phrase.
  EXPECT_EQ(WidgetDisplay::staleText(Date{-std::numeric_limits<double>::infinity()}, now),
            "Updated 9223372036854775807 yr. ago");
  EXPECT_EQ(WidgetDisplay::staleText(Date{-1e18}, Date{-1e18 + 40 * 86'400}), "Updated 1 mo. ago");
}

// MARK: - Timeline

Snapshot snapshotWithResets(std::vector<std::pair<ProviderID, std::vector<std::optional<Date>>>> providers) {
  Snapshot snapshot;
  snapshot.generatedAt = now - 60;
  for (const auto& [id, resets] : providers) {
    Snapshot::Provider provider;
    provider.id = id;
    for (const auto& reset : resets) provider.windows.push_back(window("w", 0.5, reset));
    snapshot.providers.push_back(provider);
  }
  return snapshot;
}

TEST(WidgetDisplay, NextReloadIsTheEarliestComingResetWithinTheInterval) {
  const Date cap = now + 900;
  struct Case {
    const char* name;
    std::optional<Snapshot> snapshot;
    std::optional<ProviderID> only;
    Date expected;
  };
  const std::vector<Case> cases = {
      {"no snapshot", std::nullopt, std::nullopt, cap},
      {"no providers", Snapshot{}, std::nullopt, cap},
      {"a reset five minutes ahead", snapshotWithResets({{ProviderID::claude, {now + 300}}}), std::nullopt, now + 300},
      {"resets only in the past or now", snapshotWithResets({{ProviderID::claude, {now - 10, now}}}), std::nullopt, cap},
      {"windows without a reset", snapshotWithResets({{ProviderID::claude, {std::nullopt}}}), std::nullopt, cap},
      {"a reset beyond the interval", snapshotWithResets({{ProviderID::claude, {now + 901}}}), std::nullopt, cap},
      {"the earliest over all providers",
       snapshotWithResets({{ProviderID::claude, {now + 600, std::nullopt, now + 400}}, {ProviderID::codex, {now + 0.5}}}),
       std::nullopt, now + 0.5},
      {"only one provider",
       snapshotWithResets({{ProviderID::claude, {now + 600}}, {ProviderID::codex, {now + 100}}}), ProviderID::claude,
       now + 600},
      {"only a provider the snapshot lacks", snapshotWithResets({{ProviderID::claude, {now + 600}}}),
       ProviderID::cursor, cap},
      {"the same provider listed twice",
       snapshotWithResets({{ProviderID::codex, {now + 700}}, {ProviderID::claude, {now + 10}}, {ProviderID::codex, {now + 200}}}),
       ProviderID::codex, now + 200},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WidgetDisplay::nextReload(c.snapshot, now, c.only), c.expected) << c.name;
  }
}

TEST(WidgetDisplay, EntryDatesAddTheMomentTheSnapshotTurnsStale) {
  EXPECT_EQ(WidgetDisplay::entryDates(std::nullopt, now), std::vector<Date>{now});
  struct Case {
    double age;
    std::vector<Date> expected;
  };
  for (const Case& c : std::vector<Case>{
           {100, {now, now + 1701}},
           {0, {now, now + 1801}},
           {1800, {now, now + 1}},
           {1801, {now}},
           {5000, {now}},
           {-100, {now, now + 1901}},  // a clock that went back
       }) {
    Snapshot snapshot;
    snapshot.generatedAt = now - c.age;
    EXPECT_EQ(WidgetDisplay::entryDates(snapshot, now), c.expected) << c.age;
  }
}

TEST(WidgetDisplay, LiveTimerOnlyForResetsWithinADay) {
  struct Case {
    double remaining;
    bool live;
  };
  for (const Case& c : std::vector<Case>{{0, false},
                                         {-1, false},
                                         {0.001, true},
                                         {3600, true},
                                         {86'399.999, true},
                                         {86'400, false},
                                         {std::numeric_limits<double>::infinity(), false},
                                         {std::numeric_limits<double>::quiet_NaN(), false}}) {
    EXPECT_EQ(WidgetDisplay::usesLiveTimer(c.remaining), c.live) << c.remaining;
  }
}

TEST(WidgetDisplay, NoLimitsNotePerStatus) {
  struct Case {
    ProviderStatus status;
    const char* note;
  };
  for (const Case& c : std::vector<Case>{{ProviderStatus::ok, "no live limits"},
                                         {ProviderStatus::signInNeeded, "sign in needed"},
                                         {ProviderStatus::unreachable, "unreachable"},
                                         {ProviderStatus::rateLimited, "unreachable"},
                                         {ProviderStatus::accessDenied, "access needed"},
                                         {ProviderStatus::unavailable, "no live limits"}}) {
    EXPECT_EQ(WidgetDisplay::noLimitsNote(c.status), c.note) << caseName(c.status);
  }
}

// MARK: - Choosing windows

TEST(WidgetDisplay, TightestWindowsKeepTheInputOrder) {
  const std::vector<LimitWindow> abc = {window("A", 0.2), window("B", 0.9), window("C", 0.5)};
  const std::vector<LimitWindow> acb = {window("A", 0.9), window("B", 0.2), window("C", 0.5)};
  struct Case {
    const char* name;
    std::vector<LimitWindow> windows;
    int count;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"B and C in list order", abc, 2, {"B", "C"}},
      {"A and C in list order", acb, 2, {"A", "C"}},
      {"the single tightest", abc, 1, {"B"}},
      {"count 0", abc, 0, {}},
      {"negative count", abc, -1, {}},
      {"more than there are", abc, 5, {"A", "B", "C"}},
      {"no windows", {}, 2, {}},
      {"a reset window ranks after a live one",
       {window("reset", 0.99, now), window("live", 0.01, now + 60)}, 1, {"live"}},
      {"a reset window ranks after an unused live one",
       {window("reset", 0.99, now - 5), window("zero", 0)}, 1, {"zero"}},
      {"ties go to the earlier position", {window("X", 0.5), window("Y", 0.5), window("Z", 0.5)}, 2, {"X", "Y"}},
      {"among reset windows the earlier position",
       {window("R1", 0.1, now - 1), window("R2", 0.9, now - 1)}, 1, {"R1"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(idsOf(WidgetDisplay::tightestWindows(c.windows, now, c.count)), c.expected) << c.name;
  }
  // The windows come back whole, not just their ids.
  EXPECT_EQ(WidgetDisplay::tightestWindows(abc, now, 3), abc);
}

TEST(WidgetDisplay, SessionAndWeeklyForTheSmallWidget) {
  struct Case {
    std::vector<std::string> ids;
    std::vector<std::string> expected;
  };
  for (const Case& c : std::vector<Case>{
           {{"weekly", "session", "weekly.opus"}, {"session", "weekly"}},
           {{"weekly.opus", "weekly.sonnet"}, {"weekly.opus", "weekly.sonnet"}},
           {{"weekly.opus", "weekly.sonnet", "weekly.haiku"}, {"weekly.opus", "weekly.sonnet"}},
           {{"weekly.opus", "weekly"}, {"weekly", "weekly.opus"}},
           {{"weekly.opus", "session"}, {"session", "weekly.opus"}},
           {{"session", "session", "weekly.opus"}, {"session", "weekly.opus"}},
           {{"weekly", "weekly"}, {"weekly"}},
           {{"session"}, {"session"}},
           {{}, {}},
       }) {
    std::vector<LimitWindow> windows;
    for (std::size_t i = 0; i < c.ids.size(); ++i) windows.push_back(window(c.ids[i].c_str(), 0.1 * (i + 1)));
    const auto chosen = WidgetDisplay::sessionAndWeekly(windows);
    EXPECT_EQ(idsOf(chosen), c.expected) << ::testing::PrintToString(c.ids);
    // The first window of a repeated id is the one taken.
    if (!chosen.empty() && c.ids.size() > 1 && c.ids[0] == c.ids[1]) {
      EXPECT_EQ(chosen[0], windows[0]);
    }
  }
}

}  // namespace
}  // namespace tokvane
