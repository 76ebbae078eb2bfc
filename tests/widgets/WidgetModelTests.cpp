// What the three widgets show for an entry: the chosen windows, the notes,
// the cost lines, the countdowns, the sparkline and the thin bar.

#include <gtest/gtest.h>

#include "TokvaneWidgets/Display/Countdown.hpp"
#include "TokvaneWidgets/Display/MiniBar.hpp"
#include "TokvaneWidgets/Display/Sparkline.hpp"
#include "TokvaneWidgets/Display/WidgetModel.hpp"
#include "TokvaneWidgets/Timeline/Timelines.hpp"

namespace tokvane::widgets {
namespace {

const Date now = Date::fromUnix(1'800'000'000);

LimitWindow window(std::string id, double used, std::optional<Date> resetsAt,
                   LimitSource source = LimitSource::live()) {
  return LimitWindow(id, id + " label", used, 18'000, resetsAt, source);
}

Snapshot::Provider provider(ProviderID id, std::vector<LimitWindow> windows,
                            ProviderStatus status = ProviderStatus::ok, double cost = 0) {
  return {id, std::nullopt, std::move(windows), std::nullopt, status, 0, cost, false};
}

SnapshotEntry entryWith(std::vector<Snapshot::Provider> providers, ProviderID shown = ProviderID::claude,
                        bool sample = false) {
  Snapshot snapshot;
  snapshot.generatedAt = now - 60;
  snapshot.providers = std::move(providers);
  snapshot.costTodayUSD = 0.004;
  snapshot.cost30dUSD = 1234.5;
  snapshot.dailyCost30.assign(30, 1.0);
  return SnapshotEntry{now, snapshot, shown, sample};
}

std::vector<std::string> ids(const std::vector<WindowCell>& cells) {
  std::vector<std::string> result;
  for (const auto& cell : cells) result.push_back(cell.id);
  return result;
}

TEST(SmallWidgetModel, SessionAndWeeklyFirstAtMostTwo) {
  struct Case {
    const char* name;
    std::vector<LimitWindow> windows;
    std::vector<std::string> shown;
  };
  const Case cases[] = {
      {"weekly before session", {window("weekly", 0.1, now + 50), window("session", 0.2, now + 60)},
       {"session", "weekly"}},
      {"third never shown",
       {window("opus", 0.9, now + 10), window("weekly", 0.1, now + 50), window("session", 0.2, now + 60)},
       {"session", "weekly"}},
      {"only an other id", {window("monthly", 0.5, now + 10)}, {"monthly"}},
      {"other fills the second place", {window("monthly", 0.5, now + 10), window("session", 0.2, now + 60)},
       {"session", "monthly"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const WidgetModel model = makeWidgetModel(WidgetKind::small, entryWith({provider(ProviderID::claude, c.windows)}));
    EXPECT_FALSE(model.empty);
    EXPECT_EQ(ids(model.windows), c.shown);
    EXPECT_TRUE(model.note.empty());
  }
}

TEST(SmallWidgetModel, WithoutWindowsShowsTheNoteAndTheCost) {
  struct Case {
    ProviderStatus status;
    const char* note;
  };
  const Case cases[] = {
      {ProviderStatus::ok, "No live limits"},          {ProviderStatus::signInNeeded, "Sign in needed"},
      {ProviderStatus::unreachable, "Unreachable"},    {ProviderStatus::rateLimited, "Unreachable"},
      {ProviderStatus::accessDenied, "Access needed"}, {ProviderStatus::unavailable, "No live limits"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.note);
    const WidgetModel model = makeWidgetModel(
        WidgetKind::small, entryWith({provider(ProviderID::codex, {}, c.status, 71.2)}, ProviderID::codex));
    EXPECT_TRUE(model.windows.empty());
    EXPECT_EQ(model.note, c.note);
    EXPECT_EQ(model.costLine, "30 days $71.20");
  }
}

TEST(SmallWidgetModel, EmptyWithoutSnapshotOrWithoutTheChosenProvider) {
  EXPECT_TRUE(makeWidgetModel(WidgetKind::small, SnapshotEntry{now, std::nullopt, ProviderID::claude, false}).empty);
  // No fallback to another provider.
  EXPECT_TRUE(makeWidgetModel(WidgetKind::small,
                              entryWith({provider(ProviderID::claude, {window("session", 0.1, now + 9)})},
                                        ProviderID::grok))
                  .empty);
}

TEST(WidgetModels, StaleBadgeFromTheEntryDate) {
  for (double age : {1800.0, 1801.0}) {
    SCOPED_TRACE(age);
    SnapshotEntry entry = entryWith({provider(ProviderID::claude, {})});
    entry.snapshot->generatedAt = now - age;
    for (WidgetKind kind : allWidgetKinds) {
      const auto stale = makeWidgetModel(kind, entry).staleText;
      EXPECT_EQ(stale.has_value(), age > 1800);
      if (stale) {
        EXPECT_EQ(stale->rfind("Updated ", 0), 0u);
      }
    }
  }
}

TEST(ListWidgetModel, RowsInSnapshotOrderWithTightestWindows) {
  const WidgetModel model = makeWidgetModel(
      WidgetKind::medium,
      entryWith({provider(ProviderID::grok, {}, ProviderStatus::rateLimited),
                 provider(ProviderID::claude, {window("session", 0.2, now + 100), window("weekly", 0.7, now + 900),
                                               window("weekly-opus", 0.5, now + 900)}),
                 provider(ProviderID::codex, {window("weekly", 0.3, std::nullopt)})}));
  ASSERT_EQ(model.rows.size(), 3u);
  EXPECT_EQ(model.rows[0].provider, ProviderID::grok);
  EXPECT_EQ(model.rows[0].noLimitsText, "Grok \u00B7 unreachable");
  EXPECT_TRUE(model.rows[0].cells.empty());
  EXPECT_EQ(ids(model.rows[1].cells), (std::vector<std::string>{"weekly", "weekly-opus"}));
  EXPECT_EQ(ids(model.rows[2].cells), (std::vector<std::string>{"weekly"}));
  EXPECT_FALSE(model.rows[2].cells[0].countdown.has_value());  // no reset time, no countdown
  EXPECT_TRUE(model.costLine.empty());
}

TEST(ListWidgetModel, EmptyWithoutSnapshotOrProviders) {
  for (WidgetKind kind : {WidgetKind::medium, WidgetKind::large}) {
    EXPECT_TRUE(makeWidgetModel(kind, SnapshotEntry{now, std::nullopt, ProviderID::claude, false}).empty);
    EXPECT_TRUE(makeWidgetModel(kind, entryWith({})).empty);
  }
}

TEST(ListWidgetModel, LargeAddsCostLineAndDailyCosts) {
  const WidgetModel model = makeWidgetModel(WidgetKind::large, entryWith({provider(ProviderID::claude, {})}));
  EXPECT_EQ(model.costLine, "Today <$0.01 \u00B7 30 days $1,234.50 (API estimate)");
  EXPECT_EQ(model.dailyCost.size(), 30u);
}

TEST(WindowCells, StaleSourceDimsOnlyTheBar) {
  const WindowCell live = WindowCell::make(window("session", 0.25, now + 60), now, true);
  const WindowCell local = WindowCell::make(window("session", 0.25, now + 60, LimitSource::local(now)), now, true);
  const WindowCell stale = WindowCell::make(window("session", 0.25, now + 60, LimitSource::stale(now)), now, true);
  EXPECT_FALSE(live.dimmed);
  EXPECT_FALSE(local.dimmed);
  EXPECT_TRUE(stale.dimmed);
  EXPECT_EQ(stale.percentLeftText, "75%");
  EXPECT_EQ(stale.label, "session label");
}

TEST(Countdowns, RunningOnlyWhenLiveAndUnderADay) {
  struct Case {
    double remaining;
    bool live;
    bool running;
    const char* fixed;
  };
  const Case cases[] = {
      {1800, true, true, ""},     {1800, false, false, "30m"}, {86'400, true, false, "1d 0h"},
      {86'399, true, true, ""},   {0, true, false, "now"},     {-30, true, false, "now"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.remaining);
    const Countdown countdown = Countdown::make(now + c.remaining, now, c.live);
    EXPECT_EQ(countdown.running, c.running);
    if (!c.running) {
      EXPECT_EQ(countdown.fixedText, c.fixed);
      EXPECT_EQ(countdown.text(now + 500), c.fixed);  // fixed at the entry's date
    }
  }
  const Countdown running = Countdown::make(now + 1800, now, true);
  EXPECT_EQ(running.text(now), "30:00");
  EXPECT_EQ(running.text(now + 1), "29:59");
}

TEST(Countdowns, RunningTimerText) {
  const std::pair<double, const char*> cases[] = {
      {0, "0:00"},    {-5, "0:00"},      {0.2, "0:01"},        {59, "0:59"},         {60, "1:00"},
      {3599, "59:59"}, {3600, "1:00:00"}, {3661, "1:01:01"},    {86'399, "23:59:59"},
  };
  for (const auto& [seconds, text] : cases) EXPECT_EQ(runningTimerText(seconds), text) << seconds;
}

TEST(Sparkline, Points) {
  struct Case {
    const char* name;
    std::vector<double> values;
    double w, h;
    std::vector<SparklinePoint> points;
  };
  const Case cases[] = {
      {"0 5 10", {0, 5, 10}, 100, 50, {{0, 49}, {50, 25}, {100, 1}}},
      {"all zero", {0, 0, 0}, 100, 50, {{0, 49}, {50, 49}, {100, 49}}},
      {"single spike", {0, 0, 3, 0}, 90, 44, {{0, 43}, {30, 43}, {60, 1}, {90, 43}}},
      {"negative as zero", {-4, 2}, 10, 10, {{0, 9}, {10, 1}}},
      {"tiny peak", {0, 0.005}, 10, 10, {{0, 9}, {10, 5}}},
      {"one value", {3}, 100, 50, {}},
      {"none", {}, 100, 50, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto points = sparklinePoints(c.values, c.w, c.h);
    ASSERT_EQ(points.size(), c.points.size());
    for (size_t i = 0; i < points.size(); ++i) {
      EXPECT_DOUBLE_EQ(points[i].x, c.points[i].x);
      EXPECT_DOUBLE_EQ(points[i].y, c.points[i].y);
    }
  }
}

TEST(MiniBar, FillAndMarker) {
  struct Case {
    double left;
    std::optional<double> timeLeft;
    double fill;
    std::optional<double> marker;
  };
  const Case cases[] = {
      {1.3, std::nullopt, 100, std::nullopt}, {-0.2, std::nullopt, 0, std::nullopt},
      {0.5, 0.0, 50, 0.0},                    {0.5, 1.0, 50, 98.5},
      {0.5, 0.5, 50, 49.25},                  {0.25, 0.004, 25, 0.0},
  };
  for (const auto& c : cases) {
    const auto geometry = MiniBarGeometry::make(c.left, c.timeLeft, 100);
    EXPECT_DOUBLE_EQ(geometry.fillWidth, c.fill);
    EXPECT_EQ(geometry.markerX, c.marker);
  }
}

TEST(WidgetModels, SampleEntriesNeverRunTimers) {
  const SnapshotEntry sample = Timelines::placeholderEntry();
  for (WidgetKind kind : allWidgetKinds) EXPECT_FALSE(makeWidgetModel(kind, sample).hasRunningCountdown());
  SnapshotEntry real = sample;
  real.isSample = false;
  // The sample's session resets 780 s after its generation time.
  EXPECT_TRUE(makeWidgetModel(WidgetKind::small, real).hasRunningCountdown());
}

}  // namespace
}  // namespace tokvane::widgets
