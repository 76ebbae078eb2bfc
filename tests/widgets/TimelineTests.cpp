// The widgets' timelines: entries, reload dates, the preview and placeholder
// entries, and how a host walks a timeline.

#include <gtest/gtest.h>

#include "TokvaneWidgets/Timeline/Timelines.hpp"

namespace tokvane::widgets {
namespace {

const Date now = Date::fromUnix(1'800'000'000);

LimitWindow window(std::string id, double used, std::optional<Date> resetsAt) {
  return LimitWindow(id, id, used, 18'000, resetsAt, LimitSource::live());
}

Snapshot snapshotAt(Date generatedAt, std::vector<LimitWindow> claude, std::vector<LimitWindow> codex = {}) {
  Snapshot snapshot;
  snapshot.generatedAt = generatedAt;
  snapshot.providers.push_back({ProviderID::claude, std::nullopt, std::move(claude), std::nullopt, ProviderStatus::ok,
                                0, 1.0, false});
  snapshot.providers.push_back({ProviderID::codex, std::nullopt, std::move(codex), std::nullopt, ProviderStatus::ok,
                                0, 2.0, false});
  snapshot.dailyCost30.assign(30, 0.1);
  return snapshot;
}

struct TimelineCase {
  const char* name;
  std::optional<Snapshot> stored;
  WidgetKind kind;
  ProviderID provider;
  std::vector<Date> entryDates;
  Date reloadAt;
};

class TimelineTable : public ::testing::TestWithParam<TimelineCase> {};

TEST_P(TimelineTable, EntriesAndReloadDate) {
  const auto& c = GetParam();
  const Timeline timeline = Timelines::timeline(c.stored, now, c.kind, c.provider);
  std::vector<Date> dates;
  for (const auto& entry : timeline.entries) {
    dates.push_back(entry.date);
    EXPECT_EQ(entry.snapshot, c.stored);
    EXPECT_FALSE(entry.isSample);
    EXPECT_EQ(entry.provider, c.kind == WidgetKind::small ? c.provider : ProviderID::claude);
  }
  EXPECT_EQ(dates, c.entryDates);
  EXPECT_EQ(timeline.reloadAt, c.reloadAt);
}

INSTANTIATE_TEST_SUITE_P(
    Widgets, TimelineTable,
    ::testing::Values(
        TimelineCase{"NoFile", std::nullopt, WidgetKind::large, ProviderID::claude, {now}, now + 900},
        TimelineCase{"NoFileSmall", std::nullopt, WidgetKind::small, ProviderID::grok, {now}, now + 900},
        TimelineCase{"WrittenTenMinutesAgo", snapshotAt(now - 600, {window("session", 0.2, now + 7200)}),
                     WidgetKind::medium, ProviderID::claude, {now, now - 600 + 1801}, now + 900},
        TimelineCase{"WrittenFortyMinutesAgo", snapshotAt(now - 2400, {window("session", 0.2, now + 7200)}),
                     WidgetKind::large, ProviderID::claude, {now}, now + 900},
        TimelineCase{"FortyMinutesAgoWithEarlierReset", snapshotAt(now - 2400, {window("session", 0.2, now + 120)}),
                     WidgetKind::large, ProviderID::claude, {now}, now + 120},
        TimelineCase{"ResetInFiveMinutes", snapshotAt(now - 60, {window("session", 0.2, now + 300)}),
                     WidgetKind::medium, ProviderID::claude, {now, now - 60 + 1801}, now + 300},
        TimelineCase{"PastResetIgnored", snapshotAt(now - 60, {window("session", 0.2, now - 5)}), WidgetKind::medium,
                     ProviderID::claude, {now, now - 60 + 1801}, now + 900},
        TimelineCase{"ResetAtNowIgnored", snapshotAt(now - 60, {window("session", 0.2, now)}), WidgetKind::medium,
                     ProviderID::claude, {now, now - 60 + 1801}, now + 900},
        TimelineCase{"MediumSeesEveryProvider",
                     snapshotAt(now - 60, {window("weekly", 0.2, now + 5000)}, {window("weekly", 0.1, now + 200)}),
                     WidgetKind::medium, ProviderID::claude, {now, now - 60 + 1801}, now + 200},
        TimelineCase{"SmallIgnoresOtherProviders",
                     snapshotAt(now - 60, {window("weekly", 0.2, now + 5000)}, {window("weekly", 0.1, now + 200)}),
                     WidgetKind::small, ProviderID::claude, {now, now - 60 + 1801}, now + 900},
        TimelineCase{"SmallSeesItsProvider",
                     snapshotAt(now - 60, {window("weekly", 0.2, now + 500)}, {window("weekly", 0.1, now + 200)}),
                     WidgetKind::small, ProviderID::codex, {now, now - 60 + 1801}, now + 200},
        TimelineCase{"SmallProviderMissing", snapshotAt(now - 60, {window("weekly", 0.2, now + 500)}),
                     WidgetKind::small, ProviderID::cursor, {now, now - 60 + 1801}, now + 900},
        TimelineCase{"ExactlyAtStaleMoment", snapshotAt(now - 1801, {}), WidgetKind::large, ProviderID::claude, {now},
                     now + 900}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WidgetEntries, PlaceholderIsTheSampleAtItsOwnTime) {
  const SnapshotEntry entry = Timelines::placeholderEntry();
  EXPECT_EQ(entry.date, Snapshot::placeholder().generatedAt);
  EXPECT_EQ(entry.snapshot, Snapshot::placeholder());
  EXPECT_EQ(entry.provider, ProviderID::claude);
  EXPECT_TRUE(entry.isSample);
}

TEST(WidgetEntries, PreviewShowsStoredDataElseTheSample) {
  const Snapshot stored = snapshotAt(now - 60, {});
  const SnapshotEntry real = Timelines::sampleEntry(stored, ProviderID::codex, now);
  EXPECT_EQ(real, (SnapshotEntry{now, stored, ProviderID::codex, false}));
  const SnapshotEntry sample = Timelines::sampleEntry(std::nullopt, ProviderID::codex, now);
  EXPECT_EQ(sample, (SnapshotEntry{Snapshot::placeholder().generatedAt, Snapshot::placeholder(), ProviderID::codex,
                                   true}));
}

TEST(WidgetEntries, CurrentEntryWithoutFileIsEmptyNeverTheSample) {
  const SnapshotEntry entry = Timelines::currentEntry(std::nullopt, ProviderID::claude, now);
  EXPECT_EQ(entry, (SnapshotEntry{now, std::nullopt, ProviderID::claude, false}));
}

TEST(TimelineSchedule, ShowsTheLatestEntryNotAfterNow) {
  Timeline timeline;
  timeline.entries = {SnapshotEntry{now, std::nullopt, ProviderID::claude, false},
                      SnapshotEntry{now + 100, std::nullopt, ProviderID::codex, false}};
  timeline.reloadAt = now + 900;
  struct Case {
    double at;
    ProviderID shown;
    bool due;
    double next;
  };
  const Case cases[] = {
      {-50, ProviderID::claude, false, 0},  // the clock went back: the first entry
      {0, ProviderID::claude, false, 100},   {99.5, ProviderID::claude, false, 100},
      {100, ProviderID::codex, false, 900},  {899, ProviderID::codex, false, 900},
      {900, ProviderID::codex, true, 900},   {5000, ProviderID::codex, true, 900},  // after a suspend
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.at);
    EXPECT_EQ(TimelineSchedule::entryAt(timeline, now + c.at).provider, c.shown);
    EXPECT_EQ(TimelineSchedule::reloadDue(timeline, now + c.at), c.due);
    EXPECT_EQ(TimelineSchedule::nextChange(timeline, now + c.at), now + c.next);
  }
}

TEST(WidgetKinds, IdentifiersNamesAndSizes) {
  EXPECT_EQ(info(WidgetKind::small).identifier, "app.tokvane.small");
  EXPECT_EQ(info(WidgetKind::medium).identifier, "app.tokvane.medium");
  EXPECT_EQ(info(WidgetKind::large).identifier, "app.tokvane.large");
  EXPECT_EQ(info(WidgetKind::small).displayName, "Provider limits");
  EXPECT_EQ(info(WidgetKind::medium).displayName, "All providers");
  EXPECT_EQ(info(WidgetKind::large).displayName, "Limits and cost");
  EXPECT_EQ(info(WidgetKind::large).description,
            "Every provider's limits, with what the last 30 days would cost at API prices.");
  EXPECT_EQ(std::pair(info(WidgetKind::small).width, info(WidgetKind::small).height), std::pair(170, 170));
  EXPECT_EQ(std::pair(info(WidgetKind::medium).width, info(WidgetKind::medium).height), std::pair(364, 170));
  EXPECT_EQ(std::pair(info(WidgetKind::large).width, info(WidgetKind::large).height), std::pair(364, 382));
  for (WidgetKind kind : allWidgetKinds) EXPECT_EQ(widgetKindFromIdentifier(info(kind).identifier), kind);
  EXPECT_EQ(widgetKindFromIdentifier("app.tokvane.Small"), std::nullopt);
  EXPECT_EQ(widgetKindFromIdentifier(""), std::nullopt);
}

}  // namespace
}  // namespace tokvane::widgets
