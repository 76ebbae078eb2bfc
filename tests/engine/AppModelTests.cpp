#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
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
using testing::appendFile;
using testing::ledgerSQL;
using testing::ModelHarness;
using testing::modelT0;
using testing::writeFile;
using Property = AppModel::Property;
using Providers = std::vector<ProviderID>;

constexpr ProviderID claude = ProviderID::claude;
constexpr ProviderID codex = ProviderID::codex;
constexpr ProviderID grok = ProviderID::grok;
constexpr ProviderID cursor = ProviderID::cursor;
constexpr double day = 86400;

ProviderLimits someLimits(double used, ProviderStatus status = ProviderStatus::ok) {
  ProviderLimits limits;
  limits.windows = {LimitWindow("session", "Session", used, 18000, modelT0 + 3600, LimitSource::live())};
  limits.status = status;
  limits.fetchedAt = modelT0;
  return limits;
}

// A change reported by the watcher's stream, as its thread would deliver it.
void reportChange(ModelHarness& h, const fs::path& file) {
  auto stream = h.fake.lastStream();
  ASSERT_TRUE(stream);
  stream->onBatch({FileEvent{file.string(), FileEventFlags::itemModified | FileEventFlags::itemIsFile}});
}

// The log roots in the watcher's order: Claude's, Codex's two, Grok's.
std::vector<fs::path> allRoots(ModelHarness& h) {
  return {h.locations.claudeProjects(), h.locations.codexSessions()[0], h.locations.codexSessions()[1],
          h.locations.grokSessions()};
}

std::vector<std::string> days(ModelHarness& h) { return ledgerSQL(h.ledger(), "SELECT day FROM daily ORDER BY day"); }

// ---------------------------------------------------------------------------
// Start

TEST(AppModelStart, ShowsTheLedgerIndexesTheLogsAndThenWatches) {
  ModelHarness h;
  writeFile(h.claudeLog(), testing::claudeUsageLine("m1") + testing::claudeUsageLine("m2"));
  writeFile(h.codexLog(), testing::codexSession("c1", testing::codexUsageLine("r1", testing::modelCodexUsage)));
  h.build();
  int openRequests = 0;
  h.model->onOpenRequest = [&] { ++openRequests; };

  h.model->start();
  h.settle();

  EXPECT_EQ(h.model->present(), (Providers{claude, codex}));
  EXPECT_EQ(h.model->summary().tokens.processed(), 2 * 1100 + 2200);
  EXPECT_EQ(h.model->lastUpdated(), modelT0);
  EXPECT_EQ(h.model->indexing(), std::nullopt);
  EXPECT_GE(h.count(Property::indexing), 2);  // a provider's progress, then none
  EXPECT_THAT(h.model->rereading(), IsEmpty());
  EXPECT_FALSE(h.model->isRefreshing());
  // The limits service fetched the present providers and reported them.
  EXPECT_EQ(h.claudeProvider->fetches(), 1);
  EXPECT_EQ(h.codexProvider->fetches(), 1);
  EXPECT_EQ(h.grokProvider->fetches(), 0);
  EXPECT_EQ(h.model->limits().count(claude), 1u);
  EXPECT_EQ(h.model->limits().count(codex), 1u);
  // The first full run pruned.
  EXPECT_EQ(h.defaults.dateValue(AppModel::lastPruneAtKey), modelT0);
  EXPECT_EQ(h.notifications.observers(AppModel::refreshNotificationName), 1);
  EXPECT_EQ(openRequests, 0);

  const auto snapshot = SnapshotStore(h.container).read();
  ASSERT_TRUE(snapshot.has_value());
  ASSERT_EQ(snapshot->providers.size(), 2u);
  EXPECT_EQ(snapshot->providers[0].id, claude);
  EXPECT_EQ(snapshot->providers[1].id, codex);
  EXPECT_EQ(snapshot->providers[1].tokens30d, 2200);

  ASSERT_NE(h.model->watcher(), nullptr);
  EXPECT_EQ(h.model->watcher()->paths(), allRoots(h));
  EXPECT_EQ(h.fake.streamsMade(), 1);
  EXPECT_EQ(h.fake.lastStream()->latency, 2.0);
}

// Every log root is handed to the watcher, whether it exists yet or not: the
// stream waits for a missing one (a tool installed after Tokvane) and reads
// it once it appears.
TEST(AppModelStart, WatcherIsMadeOnceOverEveryRootWhenTheFirstRunEnds) {
  {
    SCOPED_TRACE("no root exists");
    ModelHarness h;
    h.build();
    h.model->start();
    h.settle();
    ASSERT_NE(h.model->watcher(), nullptr);
    EXPECT_EQ(h.model->watcher()->paths(), allRoots(h));
    EXPECT_EQ(h.fake.streamsMade(), 1);
    h.model->reread(grok);
    h.settle();
    EXPECT_EQ(h.fake.streamsMade(), 1);
  }
  {
    SCOPED_TRACE("roots made while the first run reads");
    ModelHarness h;
    writeFile(h.claudeLog(), testing::claudeUsageLine("m1"));
    h.gateIngest = true;
    h.gate.close();
    h.build();
    h.model->start();
    ASSERT_TRUE(h.gate.waitForWaiting());
    h.fake.drain();
    EXPECT_EQ(h.model->watcher(), nullptr);
    fs::create_directories(h.locations.codexSessions()[1]);
    h.gate.open();
    h.settle();
    ASSERT_NE(h.model->watcher(), nullptr);
    EXPECT_EQ(h.model->watcher()->paths(), allRoots(h));
    h.model->reread(claude);
    h.settle();
    EXPECT_EQ(h.fake.streamsMade(), 1);
  }
}

TEST(AppModelStart, RefreshNotificationStartsAnUnforcedRefreshBeforeTheFirstRunEnds) {
  ModelHarness h;
  writeFile(h.claudeLog(), testing::claudeUsageLine("m1"));
  h.gateIngest = true;
  h.gate.close();
  h.build();
  h.claudeProvider->enqueue(ProviderStatus::unreachable);
  h.model->start();
  ASSERT_TRUE(h.gate.waitForWaiting());
  h.fake.drain();
  ASSERT_EQ(h.claudeProvider->fetches(), 1);
  // Past the forced retry of a failed provider, well before its back-off.
  h.fake.advance(40);
  h.changes.clear();

  h.notifications.post(AppModel::refreshNotificationName);
  h.fake.drain();

  EXPECT_EQ(h.count(Property::isRefreshing), 2);  // on, then off
  EXPECT_FALSE(h.model->isRefreshing());
  EXPECT_EQ(h.claudeProvider->fetches(), 1) << "an unforced refresh waits out the back-off";
  EXPECT_EQ(h.model->watcher(), nullptr) << "the first full run is still reading";

  // What a forced refresh would have done instead.
  h.model->refresh(true);
  h.fake.drain();
  EXPECT_EQ(h.claudeProvider->fetches(), 2);

  h.gate.open();
  h.settle();
  EXPECT_NE(h.model->watcher(), nullptr);
}

// ---------------------------------------------------------------------------
// Index outcomes

TEST(AppModelOutcomes, ChangeRunsApplyOnlyWhatIsNewWhileFullRunsAlwaysApply) {
  ModelHarness h;
  writeFile(h.claudeLog(), testing::claudeUsageLine("m1"));
  writeFile(h.codexLog(), testing::codexSession("c1", testing::codexUsageLine("r1", testing::modelCodexUsage)));
  h.build();
  h.model->start();
  h.settle();
  const Date longAgo = modelT0 - 10 * day;

  {
    SCOPED_TRACE("a change run that found nothing new");
    h.defaults.set(AppModel::lastPruneAtKey, longAgo);
    const int reloads = h.widgets.reloads;
    reportChange(h, h.claudeLog());
    h.settle();
    EXPECT_EQ(h.widgets.reloads, reloads);
    EXPECT_EQ(h.defaults.dateValue(AppModel::lastPruneAtKey), longAgo);
  }
  {
    SCOPED_TRACE("a change run with a new event");
    const int reloads = h.widgets.reloads;
    appendFile(h.claudeLog(), testing::claudeUsageLine("m2"));
    reportChange(h, h.claudeLog());
    h.settle();
    EXPECT_EQ(h.widgets.reloads, reloads + 1);
    EXPECT_EQ(h.defaults.dateValue(AppModel::lastPruneAtKey), modelT0);
    EXPECT_EQ(h.model->summary().tokens.processed(), 2 * 1100 + 2200);
  }
  {
    SCOPED_TRACE("a change run that only stored newer Codex limits");
    h.defaults.set(AppModel::lastPruneAtKey, longAgo);
    const int reloads = h.widgets.reloads;
    appendFile(h.codexLog(), testing::codexLimitsLine(40, "2026-01-01T00:00:30Z"));
    reportChange(h, h.codexLog());
    h.settle();
    EXPECT_EQ(h.widgets.reloads, reloads + 1);
    EXPECT_EQ(h.defaults.dateValue(AppModel::lastPruneAtKey), modelT0);
    const auto stored = h.store->limits(codex);
    ASSERT_TRUE(stored.has_value());
    ASSERT_FALSE(stored->windows.empty());
    EXPECT_EQ(h.model->limits().at(codex), *stored);
  }
  {
    SCOPED_TRACE("a re-read that found nothing new");
    h.defaults.set(AppModel::lastPruneAtKey, longAgo);
    const int reloads = h.widgets.reloads;
    bool done = false;
    h.model->reread(grok, [&] { done = true; });
    h.settle();
    EXPECT_TRUE(done);
    EXPECT_EQ(h.widgets.reloads, reloads + 1);
    EXPECT_EQ(h.defaults.dateValue(AppModel::lastPruneAtKey), modelT0);
  }
}

TEST(AppModelOutcomes, CodexLimitsAreReloadedOnlyWhenTheRunStoredSome) {
  ModelHarness h;
  h.build();
  const ProviderLimits fromLogs = someLimits(0.4);
  h.store->setLimits(fromLogs, codex);

  h.model->applyOutcome({0, false});
  EXPECT_EQ(h.model->limits().count(codex), 0u);

  h.model->applyOutcome({0, true});
  EXPECT_EQ(h.model->limits().at(codex), fromLogs);
  EXPECT_EQ(h.count(Property::limits), 1);

  // A stored value that cannot be read counts as nothing stored.
  ledgerSQL(h.ledger(), "UPDATE limits SET json = 'not json' WHERE provider = 'codex'");
  h.model->applyOutcome({0, true});
  EXPECT_EQ(h.model->limits().at(codex), fromLogs);
  EXPECT_EQ(h.count(Property::limits), 1);
  h.settle();
  EXPECT_THAT(h.fake.logLines(), IsEmpty());
}

// ---------------------------------------------------------------------------
// Re-reading a provider

TEST(AppModelReread, SecondRequestForTheSameProviderReturnsAtOnce) {
  ModelHarness h;
  writeFile(h.claudeLog(), testing::claudeUsageLine("m1"));
  h.build();
  h.model->start();
  h.settle();
  h.changes.clear();

  h.env.holdBackground(true);
  bool first = false;
  bool second = false;
  h.model->reread(claude, [&] { first = true; });
  EXPECT_EQ(h.model->rereading(), (std::set<ProviderID>{claude}));
  ASSERT_EQ(h.env.heldCount(), 1u);  // the cursor reset

  h.model->reread(claude, [&] { second = true; });
  EXPECT_TRUE(second);
  EXPECT_FALSE(first);
  EXPECT_EQ(h.env.heldCount(), 1u) << "no second reset";
  // Another provider's re-read may overlap.
  h.model->reread(codex);
  EXPECT_EQ(h.model->rereading(), (std::set<ProviderID>{claude, codex}));
  EXPECT_EQ(h.env.heldCount(), 2u);

  h.env.holdBackground(false);
  h.env.runHeld();
  h.settle();
  EXPECT_TRUE(first);
  EXPECT_THAT(h.model->rereading(), IsEmpty());
  EXPECT_EQ(h.count(Property::rereading), 4);
  // The file was read again from its start; its event was counted once.
  EXPECT_EQ(h.model->summary().tokens.processed(), 1100);
  EXPECT_THAT(h.fake.logLines(), IsEmpty());
}

TEST(AppModelReread, FailingCursorResetLogsAndStartsNoRun) {
  ModelHarness h;
  writeFile(h.claudeLog(), testing::claudeUsageLine("m1"));
  h.build();
  ASSERT_EQ(h.indexer->indexAll().get().newEvents, 1);  // leaves a cursor to delete
  ASSERT_THAT(ledgerSQL(h.ledger(), "CREATE TRIGGER refuse BEFORE DELETE ON cursors "
                                    "BEGIN SELECT RAISE(ABORT, 'refused'); END"),
              IsEmpty());

  bool done = false;
  h.model->reread(claude, [&] { done = true; });
  h.settle();

  EXPECT_TRUE(done);
  EXPECT_THAT(h.fake.logLines(),
              ElementsAre("Tokvane: resetting claude cursors failed: sqlite(code: 19, message: \"refused\")"));
  EXPECT_THAT(h.model->rereading(), IsEmpty());
  EXPECT_EQ(h.count(Property::rereading), 2);
  // No run: no progress, no outcome (no prune, no publish).
  EXPECT_EQ(h.count(Property::indexing), 0);
  EXPECT_EQ(h.widgets.reloads, 0);
  EXPECT_EQ(h.defaults.dateValue(AppModel::lastPruneAtKey), std::nullopt);
  EXPECT_EQ(ledgerSQL(h.ledger(), "SELECT count(*) FROM cursors"), (std::vector<std::string>{"1"}));
}

// ---------------------------------------------------------------------------
// Pruning

TEST(AppModelPrune, RunsAtMostOnceADayAndKeepsNinetyCalendarDays) {
  struct Case {
    const char* name;
    std::optional<DefaultsValue> lastPrune;
    bool prunes;
  };
  const Case cases[] = {
      {"never pruned", std::nullopt, true},
      {"not a date", DefaultsValue(std::string("yesterday")), true},
      {"86,399 s ago", DefaultsValue(modelT0 - 86399), false},
      {"exactly 86,400 s ago", DefaultsValue(modelT0 - 86400), true},
      {"in the future: the clock was set back", DefaultsValue(modelT0 + 3600), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ModelHarness h;
    h.build();
    const Calendar& calendar = *h.calendar;
    const Date firstKeptDay = *calendar.startOfDay(*calendar.addingDays(modelT0, -90));
    auto event = [](const std::string& key, Date at) {
      UsageEvent e;
      e.provider = claude;
      e.model = "claude-sonnet-4-5";
      e.sessionID = key;
      e.dedupKey = key;
      e.timestamp = at;
      e.tokens.uncachedInput = 10;
      return e;
    };
    ASSERT_EQ(h.store->ingest({event("old", firstKeptDay - 1), event("kept", firstKeptDay),
                               event("recent", modelT0 - 3600)},
                              calendar),
              3);
    const auto before = days(h);
    ASSERT_EQ(before.size(), 3u);
    if (c.lastPrune) h.defaults.set(AppModel::lastPruneAtKey, *c.lastPrune);

    h.model->pruneIfDue();

    if (c.prunes) {
      EXPECT_EQ(days(h), (std::vector<std::string>{dayKey(firstKeptDay, calendar), dayKey(modelT0 - 3600, calendar)}));
      EXPECT_EQ(h.defaults.dateValue(AppModel::lastPruneAtKey), modelT0);
    } else {
      EXPECT_EQ(days(h), before);
      EXPECT_EQ(h.defaults.object(AppModel::lastPruneAtKey), c.lastPrune);
    }
    EXPECT_THAT(h.fake.logLines(), IsEmpty());
  }
}

// The cursors table would otherwise only grow: a prune also drops the
// cursors of log files that are gone, and only those.
TEST(AppModelPrune, APruneDropsTheCursorsOfLogsThatAreGone) {
  ModelHarness h;
  writeFile(h.claudeLog(), testing::claudeUsageLine("m1"));
  writeFile(h.codexLog(), testing::codexSession("c1", testing::codexUsageLine("r1")));
  h.build();
  h.model->start();
  h.settle();
  const auto cursorPaths = [&] { return ledgerSQL(h.ledger(), "SELECT path FROM cursors ORDER BY path"); };
  ASSERT_EQ(cursorPaths().size(), 2u);
  const std::string claudePath = fs::canonical(h.claudeLog()).string();
  const std::string codexPath = fs::canonical(h.codexLog()).string();
  // A file whose folder cannot be looked into is not known to be gone.
  const fs::path hidden = h.home / "locked" / "a.jsonl";
  writeFile(hidden, "{}\n");
  for (const auto& path : {claudePath, std::string("/no/such/folder/b.jsonl"), hidden.string(),
                           std::string("/gone/\xEF\xBF\xBD.jsonl")}) {
    h.store->save(FileCursor{path, 1, 0, {{"provider", "claude"}}});
  }
  fs::remove(h.codexLog());
  fs::permissions(h.home / "locked", fs::perms::none);

  h.defaults.set(AppModel::lastPruneAtKey, modelT0 - 2 * day);
  h.model->pruneIfDue();
  fs::permissions(h.home / "locked", fs::perms::owner_all);
  EXPECT_THAT(h.fake.logLines(), IsEmpty());
  std::vector<std::string> expected{claudePath, hidden.string(), "/gone/\xEF\xBF\xBD.jsonl"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(cursorPaths(), expected);

  // Not due again: nothing more goes, even when another log is removed.
  fs::remove(h.claudeLog());
  h.model->pruneIfDue();
  EXPECT_EQ(cursorPaths(), expected);
}

TEST(AppModelPrune, FailingPruneLogsKeepsEverythingAndIsTriedAgain) {
  ModelHarness h;
  h.build();
  UsageEvent old;
  old.model = "claude-sonnet-4-5";
  old.dedupKey = "old";
  old.sessionID = "s";
  old.timestamp = modelT0 - 200 * day;
  old.tokens.output = 5;
  ASSERT_EQ(h.store->ingest({old}, *h.calendar), 1);
  const Date lastPrune = modelT0 - 2 * day;
  h.defaults.set(AppModel::lastPruneAtKey, lastPrune);
  ASSERT_THAT(ledgerSQL(h.ledger(), "CREATE TRIGGER refuse BEFORE DELETE ON daily "
                                    "BEGIN SELECT RAISE(ABORT, 'refused'); END"),
              IsEmpty());
  const std::string line = "Tokvane: prune failed: sqlite(code: 19, message: \"refused\")";

  h.model->pruneIfDue();
  EXPECT_THAT(h.fake.logLines(), ElementsAre(line));
  EXPECT_EQ(h.defaults.dateValue(AppModel::lastPruneAtKey), lastPrune);
  EXPECT_EQ(days(h).size(), 1u);

  // The next outcome tries again.
  h.model->applyOutcome({0, false});
  EXPECT_THAT(h.fake.logLines(), ElementsAre(line, line));

  ASSERT_THAT(ledgerSQL(h.ledger(), "DROP TRIGGER refuse"), IsEmpty());
  h.model->pruneIfDue();
  EXPECT_THAT(days(h), IsEmpty());
  EXPECT_EQ(h.defaults.dateValue(AppModel::lastPruneAtKey), modelT0);
}

// ---------------------------------------------------------------------------
// Observed state

TEST(AppModelState, ProgressPublishesAtEachChangeOfProviderAndAtTheEnd) {
  ModelHarness h;
  h.build();
  struct Step {
    std::optional<IndexingProgress> progress;
    int reloadsAfter;
  };
  const Step steps[] = {
      {std::nullopt, 0},
      {IndexingProgress{claude, 0, 100}, 0},
      {IndexingProgress{claude, 60, 100}, 0},
      {IndexingProgress{codex, 0, 10}, 1},
      {std::nullopt, 2},
  };
  for (const auto& step : steps) {
    h.model->handleProgress(step.progress);
    EXPECT_EQ(h.model->indexing(), step.progress);
    h.settle();
    EXPECT_EQ(h.widgets.reloads, step.reloadsAfter);
  }
  EXPECT_EQ(h.count(Property::indexing), 4);
}

TEST(AppModelState, PresentListsEnabledProvidersFoundOnDiskInTheUsersOrder) {
  ModelHarness h;
  fs::create_directories(h.locations.claudeProjects());
  fs::create_directories(h.locations.codexSessions()[0]);
  fs::create_directories(h.locations.grokSessions());
  h.build();

  h.model->updatePresent();
  EXPECT_EQ(h.model->present(), (Providers{claude, codex, grok}));
  h.model->updatePresent();
  EXPECT_EQ(h.count(Property::present), 1) << "the same list in the same order is not news";

  h.preferences.setProviderOrder({grok, cursor, claude, codex});
  h.model->updatePresent();
  EXPECT_EQ(h.model->present(), (Providers{grok, claude, codex}));
  EXPECT_EQ(h.count(Property::present), 2);

  h.preferences.setDisabledProviders({claude});
  h.model->updatePresent();
  EXPECT_EQ(h.model->present(), (Providers{grok, codex}));
  // A refresh recomputes the list too, and still leaves the disabled one out.
  h.model->refresh(false);
  h.settle();
  EXPECT_EQ(h.model->present(), (Providers{grok, codex}));
  EXPECT_EQ(h.claudeProvider->fetches(), 0);
}

TEST(AppModelState, EqualLimitsChangeNothingAndPublishNothing) {
  ModelHarness h;
  h.build();
  const ProviderLimits first = someLimits(0.4);

  h.model->limitsDidUpdate(codex, first);
  h.settle();
  EXPECT_EQ(h.model->limits().at(codex), first);
  EXPECT_EQ(h.count(Property::limits), 1);
  EXPECT_EQ(h.widgets.reloads, 1);

  h.model->limitsDidUpdate(codex, someLimits(0.4));
  h.settle();
  EXPECT_EQ(h.count(Property::limits), 1);
  EXPECT_EQ(h.widgets.reloads, 1);

  h.model->limitsDidUpdate(codex, someLimits(0.4, ProviderStatus::unreachable));
  h.settle();
  EXPECT_EQ(h.model->limits().at(codex).status, ProviderStatus::unreachable);
  EXPECT_EQ(h.count(Property::limits), 2);
  EXPECT_EQ(h.widgets.reloads, 2);
}

TEST(AppModelState, OverlappingRefreshesKeepRefreshingUntilTheLastEnds) {
  ModelHarness h;
  fs::create_directories(h.locations.claudeProjects());
  h.build();
  h.env.holdBackground(true);

  bool firstDone = false;
  bool secondDone = false;
  h.model->refresh(true, [&] { firstDone = true; });
  EXPECT_TRUE(h.model->isRefreshing());
  ASSERT_EQ(h.env.heldCount(), 1u);  // Claude's fetch

  // The second finds the fetch in flight and ends first.
  h.model->refresh(false, [&] { secondDone = true; });
  h.fake.drain();
  EXPECT_TRUE(secondDone);
  EXPECT_FALSE(firstDone);
  EXPECT_TRUE(h.model->isRefreshing());

  h.env.holdBackground(false);
  h.env.runHeld();
  h.settle();
  EXPECT_TRUE(firstDone);
  EXPECT_FALSE(h.model->isRefreshing());
  EXPECT_EQ(h.count(Property::isRefreshing), 2);
  EXPECT_EQ(h.claudeProvider->fetches(), 1);
}

}  // namespace
}  // namespace tokvane
