#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Tokvane/Engine/Model/AppModel.hpp"
#include "TokvaneCore/Snapshot/SnapshotStore.hpp"
#include "tests/engine/support/AppModelHarness.hpp"

namespace tokvane {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;
using testing::ledgerSQL;
using testing::ModelHarness;
using testing::modelT0;
using testing::readFile;
using testing::writeFile;
using Property = AppModel::Property;

constexpr ProviderID claude = ProviderID::claude;
constexpr ProviderID codex = ProviderID::codex;
constexpr ProviderID grok = ProviderID::grok;
constexpr ProviderID cursor = ProviderID::cursor;
constexpr double day = 86400;

// An hour before the fake clock's start: $3.00 of Claude and $1.00 of Codex
// at the bundled prices.
void seedUsage(ModelHarness& h) {
  auto event = [](ProviderID provider, const std::string& model, const std::string& key, int64_t input) {
    UsageEvent e;
    e.provider = provider;
    e.model = model;
    e.sessionID = key;
    e.dedupKey = key;
    e.timestamp = modelT0 - 3600;
    e.tokens.uncachedInput = input;
    return e;
  };
  ASSERT_EQ(h.store->ingest({event(claude, "claude-sonnet-4-5", "a", 1000000), event(codex, "gpt-5", "b", 800000)},
                            *h.calendar),
            2);
}

fs::path snapshotFile(const ModelHarness& h) { return *h.container / "snapshot.json"; }

TEST(Publishing, RequestsDuringAPassCauseExactlyOneMorePass) {
  ModelHarness h;
  h.build();
  h.env.holdBackground(true);

  h.model->schedulePublish();
  h.fake.drain();
  ASSERT_EQ(h.env.heldCount(), 1u);  // the first pass, in flight
  EXPECT_TRUE(h.model->isPublishing());
  for (int i = 0; i < 3; ++i) h.model->schedulePublish();
  h.fake.drain();
  EXPECT_EQ(h.env.heldCount(), 1u);

  h.env.runHeld();
  h.fake.drain();
  EXPECT_EQ(h.widgets.reloads, 1);
  EXPECT_EQ(h.env.heldCount(), 1u) << "one more pass for the three requests";

  h.env.runHeld();
  h.fake.drain();
  EXPECT_EQ(h.widgets.reloads, 2);
  EXPECT_EQ(h.env.heldCount(), 0u);
  EXPECT_FALSE(h.model->isPublishing());

  // A request after the loop ended starts a new one.
  h.model->schedulePublish();
  h.fake.drain();
  EXPECT_EQ(h.env.heldCount(), 1u);
  h.env.runHeld();
  h.fake.drain();
  EXPECT_EQ(h.widgets.reloads, 3);
  EXPECT_FALSE(h.model->isPublishing());
}

TEST(Publishing, FailingSummaryReadPublishesNothingAndLogsNothing) {
  ModelHarness h;
  seedUsage(h);
  h.build();
  h.model->schedulePublish();
  h.settle();
  const std::string written = readFile(snapshotFile(h));
  const UsageSummary shown = h.model->summary();
  ASSERT_EQ(h.widgets.reloads, 1);

  ASSERT_THAT(ledgerSQL(h.ledger(), "DROP TABLE sessions"), IsEmpty());
  h.fake.advance(60);
  h.model->schedulePublish();
  h.settle();

  EXPECT_EQ(readFile(snapshotFile(h)), written);
  EXPECT_EQ(h.model->summary(), shown);
  EXPECT_EQ(h.model->lastUpdated(), modelT0);
  EXPECT_EQ(h.count(Property::lastUpdated), 1);
  EXPECT_EQ(h.widgets.reloads, 1);
  EXPECT_THAT(h.fake.logLines(), IsEmpty());
  EXPECT_FALSE(h.model->isPublishing());
}

TEST(Publishing, SnapshotWriteFailuresStillPublishTheSummary) {
  struct Case {
    const char* name;
    bool blocked;     // a file stands where the container should be
    bool noContainer;
    bool logs;
  };
  const Case cases[] = {
      {"no app-group container", false, true, false},
      {"container cannot be made", true, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ModelHarness h;
    if (c.noContainer) h.container.reset();
    if (c.blocked) writeFile(*h.container, "in the way");
    seedUsage(h);
    h.build();
    h.model->schedulePublish();
    h.settle();

    EXPECT_EQ(h.model->summary().tokens.processed(), 1800000);
    EXPECT_EQ(h.count(Property::summary), 1);
    EXPECT_EQ(h.model->lastUpdated(), modelT0);
    EXPECT_EQ(h.widgets.reloads, 1);
    if (c.logs) {
      EXPECT_THAT(h.fake.logLines(), ElementsAre(StartsWith("Tokvane: writing the widget snapshot failed: ")));
      EXPECT_EQ(readFile(*h.container), "in the way");
    } else {
      EXPECT_THAT(h.fake.logLines(), IsEmpty());
    }
  }
}

TEST(Publishing, UnchangedLedgerStillStampsAndReloads) {
  ModelHarness h;
  seedUsage(h);
  h.build();
  h.model->schedulePublish();
  h.settle();
  EXPECT_EQ(h.count(Property::summary), 1);
  EXPECT_EQ(h.model->lastUpdated(), modelT0);

  h.fake.advance(60);
  h.model->schedulePublish();
  h.settle();
  EXPECT_EQ(h.count(Property::summary), 1) << "an equal summary is not assigned";
  EXPECT_EQ(h.model->lastUpdated(), modelT0 + 60);
  EXPECT_EQ(h.count(Property::lastUpdated), 2);
  EXPECT_EQ(h.widgets.reloads, 2);
}

TEST(Publishing, SnapshotShowsEnabledProvidersWithSomethingToShowInTheUsersOrder) {
  ModelHarness h;
  seedUsage(h);
  // Codex has usage but no files in this home; Grok only limits; Cursor
  // nothing at all; Claude usage but it is disabled.
  h.preferences.setProviderOrder({codex, grok, cursor, claude});
  h.preferences.setDisabledProviders({claude});
  h.build();
  ProviderLimits grokLimits;
  grokLimits.status = ProviderStatus::unavailable;
  grokLimits.fetchedAt = modelT0;
  h.model->limitsDidUpdate(grok, grokLimits);
  h.settle();

  const auto snapshot = SnapshotStore(h.container).read();
  ASSERT_TRUE(snapshot.has_value());
  ASSERT_EQ(snapshot->providers.size(), 2u);
  const auto& first = snapshot->providers[0];
  EXPECT_EQ(first.id, codex);
  EXPECT_EQ(first.tokens30d, 800000);
  EXPECT_NEAR(first.cost30dUSD, 1.0, 1e-9);
  EXPECT_EQ(first.status, ProviderStatus::unavailable);
  const auto& second = snapshot->providers[1];
  EXPECT_EQ(second.id, grok);
  EXPECT_EQ(second.tokens30d, 0);
  EXPECT_EQ(second.status, ProviderStatus::unavailable);
  // The totals are the whole summary's.
  EXPECT_NEAR(snapshot->cost30dUSD, 4.0, 1e-9);
  EXPECT_EQ(snapshot->cost30dUSD, h.model->summary().totalCostUSD);
  EXPECT_EQ(snapshot->dailyCost30.size(), 30u);
  EXPECT_EQ(snapshot->generatedAt, modelT0);
}

TEST(Publishing, SummaryAndSnapshotOfAPassShareOneInstant) {
  ModelHarness h;
  seedUsage(h);
  h.build();
  // Every reading of the clock is a day after the one before.
  std::atomic<int> readings{0};
  h.env.setClock([&] { return modelT0 + day * readings++; });

  h.model->schedulePublish();
  h.settle();

  const auto snapshot = SnapshotStore(h.container).read();
  ASSERT_TRUE(snapshot.has_value());
  EXPECT_EQ(h.calendar->startOfDay(snapshot->generatedAt), h.model->summary().windowEnd);
  ASSERT_TRUE(h.model->lastUpdated().has_value());
  EXPECT_GT(*h.model->lastUpdated(), snapshot->generatedAt);  // stamped when the pass came back
}

}  // namespace
}  // namespace tokvane
