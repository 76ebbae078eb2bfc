#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Tokvane/Engine/LiveLimits/LimitsService.hpp"
#include "Tokvane/Engine/Settings/Preferences.hpp"
#include "Tokvane/Engine/Settings/UserDefaults.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"
#include "tests/engine/support/FakeEnv.hpp"
#include "tests/engine/support/ScriptedLimitsProvider.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane {

void PrintTo(const ProviderLimits& limits, std::ostream* out) { *out << limits.toJSON(DateCoding::iso8601).dump(); }

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using testing::FakeEnv;
using testing::ScriptedLimitsProvider;
using testing::TempDir;
using Status = ProviderStatus;

constexpr ProviderID claude = ProviderID::claude;
constexpr ProviderID codex = ProviderID::codex;
constexpr ProviderID grok = ProviderID::grok;
constexpr ProviderID cursor = ProviderID::cursor;

const Date t0 = Date::fromUnix(1767225600);

LimitWindow window(const std::string& id, LimitSource source = LimitSource::live()) {
  return LimitWindow(id, id, 0.4, 18000, t0 + 3600, source);
}

ProviderLimits limits(Status status, Date fetchedAt, std::vector<LimitWindow> windows = {},
                      std::optional<Credits> credits = std::nullopt, std::optional<std::string> plan = std::nullopt) {
  ProviderLimits value;
  value.plan = std::move(plan);
  value.windows = std::move(windows);
  value.credits = std::move(credits);
  value.status = status;
  value.fetchedAt = fetchedAt;
  return value;
}

const Credits someCredits{"Extra usage", 12.5, 7.5, 20, false};

// What the model was told, kept apart from the model so that a test can
// look at it after the model is gone.
struct Reports {
  std::vector<std::pair<ProviderID, ProviderLimits>> items;
  std::vector<std::thread::id> threads;

  std::vector<ProviderLimits> of(ProviderID id) const {
    std::vector<ProviderLimits> found;
    for (const auto& [provider, value] : items) {
      if (provider == id) found.push_back(value);
    }
    return found;
  }
};

class FakeModel final : public LimitsServiceClient {
 public:
  FakeModel(std::shared_ptr<Reports> reports, std::vector<ProviderID> present)
      : reports(std::move(reports)), presentList(std::move(present)) {}
  std::vector<ProviderID> present() const override { return presentList; }
  void limitsDidUpdate(ProviderID id, const ProviderLimits& value) override {
    reports->items.emplace_back(id, value);
    reports->threads.push_back(std::this_thread::get_id());
  }

  std::shared_ptr<Reports> reports;
  std::vector<ProviderID> presentList;
};

// Runs SQL on the ledger file through a connection of its own.
void execSQL(const std::filesystem::path& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  char* error = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  const std::string message = error ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << message;
}

// A service over scripted Claude, Codex and Grok providers (Cursor has none),
// a ledger file, in-memory preferences and a fake runtime.
struct Fixture {
  explicit Fixture(FakeEnv::Background background = FakeEnv::Background::inline_)
      : env(t0, background), store(dir / "usage.sqlite"), preferences(defaults) {
    service = std::make_shared<LimitsService>(
        std::vector<std::shared_ptr<LimitsProvider>>{claudeProvider, codexProvider, grokProvider}, store, preferences,
        env);
  }

  ScriptedLimitsProvider& provider(ProviderID id) {
    if (id == claude) return *claudeProvider;
    if (id == codex) return *codexProvider;
    return *grokProvider;
  }

  // Starts the service with a model whose present providers are `present`
  // and runs the first refresh.
  void start(std::vector<ProviderID> present) {
    model = std::make_shared<FakeModel>(reports, std::move(present));
    service->start(model);
    env.drain();
  }

  LimitsService::StateView state(ProviderID id) const {
    auto view = service->state(id);
    EXPECT_TRUE(view.has_value()) << "no state for " << rawValue(id);
    return view.value_or(LimitsService::StateView{});
  }
  std::optional<ProviderLimits> stored(ProviderID id) { return store.limits(id); }
  std::vector<double> timers() const { return env.pendingTimerDelays(); }

  FakeEnv env;
  TempDir dir;
  UsageStore store;
  InMemoryUserDefaults defaults;
  Preferences preferences;
  std::shared_ptr<ScriptedLimitsProvider> claudeProvider = std::make_shared<ScriptedLimitsProvider>(claude);
  std::shared_ptr<ScriptedLimitsProvider> codexProvider = std::make_shared<ScriptedLimitsProvider>(codex);
  std::shared_ptr<ScriptedLimitsProvider> grokProvider = std::make_shared<ScriptedLimitsProvider>(grok);
  std::shared_ptr<Reports> reports = std::make_shared<Reports>();
  std::shared_ptr<FakeModel> model;
  std::shared_ptr<LimitsService> service;
};

TEST(LimitsService, BacksOffWhileUnreachableAndReturnsTo300SecondsOnOk) {
  Fixture f;
  for (int i = 0; i < 4; ++i) f.codexProvider->enqueue(Status::unreachable);
  f.codexProvider->enqueue(limits(Status::ok, t0, {window("five_hour")}));

  f.start({codex});
  ASSERT_EQ(f.codexProvider->fetches(), 1);
  EXPECT_THAT(f.timers(), ElementsAre(600));

  // For each failure: the delay it left, and the delay the next outcome leaves.
  const std::vector<std::pair<double, double>> steps = {{600, 1200}, {1200, 1800}, {1800, 1800}, {1800, 300}};
  Date attempt = t0;
  for (size_t i = 0; i < steps.size(); ++i) {
    const auto [delay, next] = steps[i];
    SCOPED_TRACE("after failure " + std::to_string(i + 1));
    EXPECT_DOUBLE_EQ(f.state(codex).currentDelay, delay);

    // A second early the due test refuses too, and the pending timer stays.
    f.env.advance(delay - 1);
    f.service->evaluate(codex, false);
    EXPECT_EQ(f.codexProvider->fetches(), static_cast<int>(i) + 1);
    EXPECT_THAT(f.timers(), ElementsAre(1));

    f.env.advance(1);
    ASSERT_EQ(f.codexProvider->fetches(), static_cast<int>(i) + 2);
    EXPECT_DOUBLE_EQ(f.codexProvider->fetchTimes().back() - attempt, delay);
    attempt = f.codexProvider->fetchTimes().back();
    EXPECT_THAT(f.timers(), ElementsAre(next));
  }

  const auto view = f.state(codex);
  EXPECT_EQ(view.lastStatus, Status::ok);
  EXPECT_EQ(view.lastSuccess, attempt);
  EXPECT_DOUBLE_EQ(view.currentDelay, 300);
  EXPECT_EQ(f.stored(codex), limits(Status::ok, attempt, {window("five_hour")}));
}

TEST(LimitsService, AForcedRefreshRetriesAFailedProvider30SecondsAfterItsAttempt) {
  struct Case {
    Status status;
    double delay;  // what the failure scheduled
  };
  for (const Case& c : {Case{Status::unreachable, 600}, Case{Status::rateLimited, 600},
                        Case{Status::signInNeeded, 300}, Case{Status::unavailable, 300}}) {
    SCOPED_TRACE(std::string(caseName(c.status)));
    Fixture f;
    f.codexProvider->enqueue(c.status);
    f.start({codex});
    ASSERT_EQ(f.codexProvider->fetches(), 1);

    f.env.advance(29);
    bool done = false;
    f.service->refresh({codex}, true, [&] { done = true; });
    EXPECT_TRUE(done);
    EXPECT_EQ(f.codexProvider->fetches(), 1);
    EXPECT_THAT(f.timers(), ElementsAre(c.delay - 29));

    f.env.advance(1);
    f.service->refresh({codex}, true);
    f.env.drain();
    EXPECT_EQ(f.codexProvider->fetches(), 2);
    EXPECT_EQ(f.codexProvider->fetchTimes().back(), t0 + 30);
  }
}

TEST(LimitsService, AnOkProviderKeepsThe300SecondRuleEvenWhenForced) {
  Fixture f;
  f.start({codex});
  ASSERT_EQ(f.codexProvider->fetches(), 1);

  f.env.advance(200);
  f.service->refresh({codex}, true);
  f.env.drain();
  EXPECT_EQ(f.codexProvider->fetches(), 1);
  EXPECT_THAT(f.timers(), ElementsAre(100));

  f.env.advance(100);
  EXPECT_EQ(f.codexProvider->fetches(), 2);
  EXPECT_EQ(f.codexProvider->fetchTimes().back(), t0 + 300);
}

TEST(LimitsService, AfterAccessDeniedOnlyAForcedEvaluationRetries) {
  Fixture f;
  for (int i = 0; i < 3; ++i) f.codexProvider->enqueue(Status::accessDenied);
  f.start({codex});
  ASSERT_EQ(f.codexProvider->fetches(), 1);
  EXPECT_EQ(f.stored(codex), limits(Status::accessDenied, t0));
  EXPECT_THAT(f.timers(), IsEmpty());

  f.env.advance(10);
  f.service->refresh({codex}, false);
  f.service->refreshIfStale({codex});
  EXPECT_EQ(f.codexProvider->fetches(), 1);

  // Forced too early: not due, so it schedules with the normal delay...
  f.service->refresh({codex}, true);
  EXPECT_EQ(f.codexProvider->fetches(), 1);
  EXPECT_THAT(f.timers(), ElementsAre(290));
  // ...and the next unforced evaluation cancels that stray schedule.
  f.service->evaluate(codex, false);
  EXPECT_THAT(f.timers(), IsEmpty());

  f.env.advance(20);
  f.service->refresh({codex}, true);
  f.env.drain();
  EXPECT_EQ(f.codexProvider->fetches(), 2);

  // A re-evaluation forces a provider that was denied.
  f.env.advance(30);
  f.service->reevaluate({codex});
  f.env.drain();
  EXPECT_EQ(f.codexProvider->fetches(), 3);

  f.env.advance(10000);
  EXPECT_EQ(f.codexProvider->fetches(), 3);
  EXPECT_THAT(f.timers(), IsEmpty());
}

TEST(LimitsService, ClaudeWithLiveLimitsOffStoresItsPlaceholderOnceAndIsNeverFetched) {
  Fixture f;
  const ProviderLimits real = limits(Status::ok, t0, {window("five_hour")}, std::nullopt, "Max");
  f.claudeProvider->enqueue(real);
  f.start({claude});
  ASSERT_EQ(f.claudeProvider->fetches(), 1);
  ASSERT_EQ(f.stored(claude), real);

  f.env.advance(10);
  f.preferences.setClaudeLiveLimits(false);
  f.service->reevaluate({claude});
  const ProviderLimits placeholder = limits(Status::unavailable, t0 + 10);
  EXPECT_EQ(f.stored(claude), placeholder);
  ASSERT_EQ(f.reports->of(claude).size(), 2u);
  EXPECT_EQ(f.reports->of(claude).back(), placeholder);
  EXPECT_THAT(f.timers(), IsEmpty());
  // The fetch state stays as it was.
  EXPECT_EQ(f.state(claude).lastAttempt, t0);
  EXPECT_EQ(f.state(claude).lastStatus, Status::ok);

  // While it stays off: nothing written, reported or fetched.
  f.env.advance(40);
  f.service->refresh({claude}, true);
  f.service->evaluate(claude, false);
  EXPECT_EQ(f.stored(claude), placeholder);
  EXPECT_EQ(f.reports->of(claude).size(), 2u);
  EXPECT_EQ(f.claudeProvider->fetches(), 1);

  // Once something else replaced it, it is written again.
  f.env.advance(10);
  f.store.setLimits(real, claude);
  f.service->evaluate(claude, false);
  EXPECT_EQ(f.stored(claude), limits(Status::unavailable, t0 + 60));
  EXPECT_EQ(f.reports->of(claude).size(), 3u);

  // Turned on again, the old state still counts: due 300 s after t0.
  f.env.advance(40);
  f.preferences.setClaudeLiveLimits(true);
  f.service->reevaluate({claude});
  EXPECT_EQ(f.claudeProvider->fetches(), 1);
  EXPECT_THAT(f.timers(), ElementsAre(200));
  f.env.advance(200);
  EXPECT_EQ(f.claudeProvider->fetches(), 2);
}

TEST(LimitsService, AFailedFetchWithoutWindowsKeepsTheStoredOnesStale) {
  const Date storedAt = t0 - 1000;
  const ProviderLimits full = limits(Status::ok, storedAt, {window("five_hour"), window("seven_day", LimitSource::local(t0 - 2000))},
                                     someCredits, "Pro");
  struct Case {
    std::string name;
    std::optional<ProviderLimits> stored;
    std::optional<ProviderLimits> answer;  // none: the provider throws
    ProviderLimits expected;
  };
  const std::vector<Case> cases = {
      {"windows and credits come back stale", full, limits(Status::unreachable, t0),
       limits(Status::unreachable, storedAt,
              {window("five_hour", LimitSource::stale(storedAt)), window("seven_day", LimitSource::stale(storedAt))},
              someCredits, "Pro")},
      {"a window already stale keeps its time",
       limits(Status::unreachable, storedAt, {window("five_hour", LimitSource::stale(t0 - 5000)), window("seven_day")}),
       limits(Status::rateLimited, t0),
       limits(Status::rateLimited, storedAt,
              {window("five_hour", LimitSource::stale(t0 - 5000)), window("seven_day", LimitSource::stale(storedAt))})},
      {"credits alone are kept", limits(Status::ok, storedAt, {}, someCredits), limits(Status::signInNeeded, t0),
       limits(Status::signInNeeded, storedAt, {}, someCredits)},
      {"a provider that throws counts as unreachable", full, std::nullopt,
       limits(Status::unreachable, storedAt,
              {window("five_hour", LimitSource::stale(storedAt)), window("seven_day", LimitSource::stale(storedAt))},
              someCredits, "Pro")},
      {"nothing stored: the answer itself", std::nullopt, limits(Status::unreachable, t0),
       limits(Status::unreachable, t0)},
      {"stored without windows or credits: the answer itself", limits(Status::ok, storedAt, {}, std::nullopt, "Pro"),
       limits(Status::unreachable, t0), limits(Status::unreachable, t0)},
      {"a failed answer with windows is kept as it came", full,
       limits(Status::signInNeeded, t0, {window("five_hour")}),
       limits(Status::signInNeeded, t0, {window("five_hour")})},
      {"an ok answer without windows replaces stored windows", full, limits(Status::ok, t0), limits(Status::ok, t0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    if (c.stored) f.store.setLimits(*c.stored, codex);
    if (c.answer) {
      f.codexProvider->enqueue(*c.answer);
    } else {
      f.codexProvider->enqueueThrow();
    }
    f.start({codex});
    ASSERT_EQ(f.codexProvider->fetches(), 1);
    EXPECT_EQ(f.stored(codex), c.expected);
    ASSERT_FALSE(f.reports->items.empty());
    EXPECT_EQ(f.reports->items.back().second, c.expected);
    EXPECT_EQ(f.state(codex).lastStatus, c.expected.status);
    EXPECT_FALSE(f.state(codex).inFlight);
  }
}

TEST(LimitsService, AFetchThatEndsAfterItsProviderWasTurnedOffIsDropped) {
  struct Case {
    std::string name;
    ProviderID id;
    std::function<void(Preferences&)> turnOff;
  };
  const std::vector<Case> cases = {
      {"codex disabled", codex, [](Preferences& p) { p.setDisabledProviders({codex}); }},
      {"claude disabled", claude, [](Preferences& p) { p.setDisabledProviders({claude}); }},
      {"claude live limits off", claude, [](Preferences& p) { p.setClaudeLiveLimits(false); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    f.start({});
    f.model->presentList = {c.id};
    f.provider(c.id).enqueue(limits(Status::ok, t0, {window("five_hour")}));

    bool done = false;
    f.service->refresh({c.id}, false, [&] { done = true; });
    ASSERT_EQ(f.provider(c.id).fetches(), 1);
    EXPECT_TRUE(f.state(c.id).inFlight);
    EXPECT_FALSE(done);

    c.turnOff(f.preferences);
    f.env.drain();
    EXPECT_TRUE(done);
    EXPECT_FALSE(f.state(c.id).inFlight);
    EXPECT_FALSE(f.state(c.id).scheduled);
    EXPECT_EQ(f.stored(c.id), std::nullopt);
    EXPECT_THAT(f.reports->items, IsEmpty());
    EXPECT_THAT(f.timers(), IsEmpty());
  }
}

TEST(LimitsService, OverlappingRefreshesFetchOnceAndFinishAfterEveryProvider) {
  Fixture f;
  f.start({});
  bool first = false, second = false;
  f.service->refresh({codex, grok, cursor}, false, [&] { first = true; });
  f.service->refresh({codex}, false, [&] { second = true; });
  EXPECT_EQ(f.codexProvider->fetches(), 1);
  EXPECT_EQ(f.grokProvider->fetches(), 1);
  // The second found codex in flight and ended at once; the first waits for
  // both fetches to be applied.
  EXPECT_TRUE(second);
  EXPECT_FALSE(first);
  EXPECT_EQ(f.stored(codex), std::nullopt);
  // However long the fetch takes, a fetch in flight is never doubled.
  f.env.setNow(t0 + 400);
  f.service->refresh({codex}, true);
  EXPECT_EQ(f.codexProvider->fetches(), 1);

  f.env.drain();
  EXPECT_TRUE(first);
  EXPECT_EQ(f.stored(codex), limits(Status::ok, t0));
  EXPECT_EQ(f.stored(grok), limits(Status::ok, t0));
  EXPECT_EQ(f.codexProvider->fetches(), 1);

  bool empty = false;
  f.service->refresh({}, true, [&] { empty = true; });
  EXPECT_TRUE(empty);
}

TEST(LimitsService, StartReportsStoredLimitsAndCountsTheirTimeAsTheLastAttempt) {
  Fixture f;
  const ProviderLimits codexStored = limits(Status::ok, t0 - 100, {window("five_hour")}, std::nullopt, "Plus");
  const ProviderLimits grokStored = limits(Status::unreachable, t0 - 100);
  const ProviderLimits claudeStored = limits(Status::accessDenied, t0 - 1000);
  f.store.setLimits(codexStored, codex);
  f.store.setLimits(grokStored, grok);
  f.store.setLimits(claudeStored, claude);
  f.store.setLimits(limits(Status::ok, t0 - 100), cursor);  // no limits provider: skipped

  f.start({claude, codex, grok, cursor});
  EXPECT_THAT(f.reports->items, UnorderedElementsAre(std::pair{codex, codexStored}, std::pair{grok, grokStored},
                                                     std::pair{claude, claudeStored}));
  EXPECT_EQ(f.service->state(cursor), std::nullopt);

  const auto codexState = f.state(codex);
  EXPECT_EQ(codexState.lastAttempt, t0 - 100);
  EXPECT_EQ(codexState.lastSuccess, t0 - 100);
  EXPECT_EQ(codexState.lastStatus, Status::ok);
  const auto grokState = f.state(grok);
  EXPECT_EQ(grokState.lastSuccess, std::nullopt);
  EXPECT_DOUBLE_EQ(grokState.currentDelay, 300);  // the back-off is not restored

  // The first evaluation waited: 300 s after the stored time for both.
  EXPECT_EQ(f.codexProvider->fetches() + f.grokProvider->fetches() + f.claudeProvider->fetches(), 0);
  EXPECT_THAT(f.timers(), ElementsAre(200, 200));
  f.env.advance(200);
  EXPECT_EQ(f.codexProvider->fetches(), 1);
  EXPECT_EQ(f.grokProvider->fetches(), 1);

  // A restored denial stays unfetched until forced.
  f.env.advance(5000);
  f.service->refresh({claude}, false);
  f.service->refreshIfStale({claude});
  EXPECT_EQ(f.claudeProvider->fetches(), 0);
  f.service->reevaluate({claude});
  f.env.drain();
  EXPECT_EQ(f.claudeProvider->fetches(), 1);
}

TEST(LimitsService, RefreshIfStaleSkipsRecentlyAttemptedProviders) {
  struct Case {
    std::string name;
    std::optional<ProviderLimits> stored;
    bool refreshed;
  };
  const std::vector<Case> cases = {
      {"attempted 100 s ago", limits(Status::ok, t0 - 100), false},
      {"attempted 299 s ago after a failure", limits(Status::unreachable, t0 - 299), false},
      {"attempted and succeeded 400 s ago", limits(Status::ok, t0 - 400), true},
      {"attempted 400 s ago without a success", limits(Status::signInNeeded, t0 - 400), true},
      {"never attempted", std::nullopt, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    if (c.stored) f.store.setLimits(*c.stored, codex);
    f.start({});
    bool done = false;
    f.service->refreshIfStale({codex}, [&] { done = true; });
    f.env.drain();
    EXPECT_TRUE(done);
    EXPECT_EQ(f.codexProvider->fetches(), c.refreshed ? 1 : 0);
  }
}

TEST(LimitsService, ScheduledDelaysStayBetweenOneSecondAndTheLongestBackOff) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  const std::vector<std::pair<double, double>> cases = {
      {0.2, 1},     {0, 1},       {-5, 1},       {-inf, 1},       {std::nan(""), 1},
      {1, 1},       {1.5, 1.5},   {300, 300},    {1800, 1800},    {1800.5, 1800},
      {1e300, 1800}, {inf, 1800},
  };
  for (const auto& [given, slept] : cases) {
    EXPECT_EQ(LimitsService::clampedDelay(given), slept) << "given " << given;
  }
}

TEST(LimitsService, AFireTimeUnderOneSecondAwaySleepsOneSecond) {
  Fixture f;
  f.store.setLimits(limits(Status::ok, t0 - 299.8), codex);
  f.start({codex});
  EXPECT_EQ(f.codexProvider->fetches(), 0);
  EXPECT_THAT(f.timers(), ElementsAre(1));
  f.env.advance(0.5);
  EXPECT_EQ(f.codexProvider->fetches(), 0);
  f.env.advance(0.5);
  EXPECT_EQ(f.codexProvider->fetches(), 1);
}

TEST(LimitsService, AStoredTimeAheadOfTheClockCountsAsNow) {
  Fixture f;
  const ProviderLimits ahead = limits(Status::ok, t0 + 10 * 86400, {window("five_hour")});
  f.store.setLimits(ahead, codex);
  f.start({codex});
  ASSERT_EQ(f.reports->of(codex), std::vector<ProviderLimits>{ahead});
  EXPECT_EQ(f.state(codex).lastAttempt, t0);
  EXPECT_EQ(f.state(codex).lastSuccess, t0);
  EXPECT_EQ(f.codexProvider->fetches(), 0);
  EXPECT_THAT(f.timers(), ElementsAre(300));

  f.env.advance(300);
  EXPECT_EQ(f.codexProvider->fetches(), 1);
}

TEST(LimitsService, AClockSetBackDoesNotFreezeAProvider) {
  Fixture f;
  f.start({});  // nothing is scheduled: only the due test decides
  f.service->refresh({codex}, false);
  f.env.drain();
  ASSERT_EQ(f.codexProvider->fetches(), 1);

  f.env.setNow(t0 - 3600);
  f.service->evaluate(codex, false);
  EXPECT_EQ(f.codexProvider->fetches(), 1);
  EXPECT_EQ(f.state(codex).lastAttempt, t0 - 3600);

  f.env.advance(300);
  f.service->evaluate(codex, false);
  f.env.drain();
  EXPECT_EQ(f.codexProvider->fetches(), 2);
}

TEST(LimitsService, OnceTheModelIsGoneReportsGoNowhereAndNothingIsScheduled) {
  Fixture f;
  std::weak_ptr<FakeModel> weak;
  {
    auto model = std::make_shared<FakeModel>(f.reports, std::vector<ProviderID>{codex});
    weak = model;
    f.service->start(model);
  }
  // The first refresh holds the model until it has ended.
  ASSERT_FALSE(weak.expired());
  f.env.drain();
  EXPECT_TRUE(weak.expired());
  ASSERT_EQ(f.reports->items.size(), 1u);
  EXPECT_THAT(f.timers(), ElementsAre(300));

  // The pending timer still fires and fetches, but nothing is told or scheduled.
  f.codexProvider->enqueue(Status::unreachable);
  f.env.advance(300);
  EXPECT_EQ(f.codexProvider->fetches(), 2);
  EXPECT_EQ(f.stored(codex), limits(Status::unreachable, t0 + 300));
  EXPECT_EQ(f.reports->items.size(), 1u);
  EXPECT_THAT(f.timers(), IsEmpty());
}

TEST(LimitsService, OnlyRegisteredEnabledProvidersAreFetchedAndOnlyPresentOnesScheduled) {
  Fixture f;
  f.start({codex, cursor});
  ASSERT_EQ(f.codexProvider->fetches(), 1);
  ASSERT_THAT(f.timers(), ElementsAre(300));

  // No limits provider: nothing at all happens.
  bool done = false;
  f.service->evaluate(cursor, true, [&] { done = true; });
  EXPECT_TRUE(done);
  EXPECT_EQ(f.service->state(cursor), std::nullopt);
  EXPECT_EQ(f.stored(cursor), std::nullopt);

  // Disabled: its schedule is cancelled at the next evaluation, its limits stay.
  f.preferences.setDisabledProviders({codex});
  f.env.advance(1000);
  f.service->refresh({codex}, true);
  EXPECT_EQ(f.codexProvider->fetches(), 1);
  EXPECT_THAT(f.timers(), IsEmpty());
  EXPECT_EQ(f.stored(codex), limits(Status::ok, t0));

  // Enabled but not present: fetched when named, never scheduled.
  f.service->refresh({grok}, false);
  f.env.drain();
  EXPECT_EQ(f.grokProvider->fetches(), 1);
  EXPECT_EQ(f.stored(grok), limits(Status::ok, t0 + 1000));
  EXPECT_FALSE(f.state(grok).scheduled);
  EXPECT_THAT(f.timers(), IsEmpty());
}

TEST(LimitsService, TheFirstProviderOfAnIdWins) {
  Fixture f;
  auto second = std::make_shared<ScriptedLimitsProvider>(codex);
  auto service = std::make_shared<LimitsService>(
      std::vector<std::shared_ptr<LimitsProvider>>{f.codexProvider, second}, f.store, f.preferences, f.env);
  service->refresh({codex}, false);
  f.env.drain();
  EXPECT_EQ(f.codexProvider->fetches(), 1);
  EXPECT_EQ(second->fetches(), 0);
}

TEST(LimitsService, LedgerFailuresNeitherStopNorLoseAnOutcome) {
  {
    SCOPED_TRACE("unreadable stored limits count as nothing stored");
    Fixture f;
    f.store.setLimits(limits(Status::ok, t0 - 100, {window("five_hour")}), codex);
    execSQL(f.dir / "usage.sqlite", "UPDATE limits SET json = '{\"windows\": 7' WHERE provider = 'codex'");
    f.codexProvider->enqueue(Status::unreachable);
    f.start({codex});
    EXPECT_EQ(f.codexProvider->fetches(), 1);  // nothing restored, so due at once
    EXPECT_EQ(f.stored(codex), limits(Status::unreachable, t0));
    EXPECT_EQ(f.reports->of(codex), std::vector<ProviderLimits>{limits(Status::unreachable, t0)});
  }
  {
    SCOPED_TRACE("a failing write is ignored");
    Fixture f;
    execSQL(f.dir / "usage.sqlite",
            "CREATE TRIGGER refuse BEFORE INSERT ON limits BEGIN SELECT RAISE(ABORT, 'refused'); END");
    EXPECT_ANY_THROW(f.store.setLimits(limits(Status::ok, t0), codex));
    const ProviderLimits answer = limits(Status::ok, t0, {window("five_hour")});
    f.codexProvider->enqueue(answer);
    f.start({codex});
    EXPECT_EQ(f.stored(codex), std::nullopt);
    EXPECT_EQ(f.reports->of(codex), std::vector<ProviderLimits>{answer});
    EXPECT_EQ(f.state(codex).lastStatus, Status::ok);
    EXPECT_THAT(f.timers(), ElementsAre(300));
  }
}

TEST(LimitsService, FetchesRunOffTheMainThreadAndOverlapAcrossProviders) {
  Fixture f(FakeEnv::Background::threads);
  f.claudeProvider->hold();
  f.codexProvider->hold();
  f.start({claude, codex});
  ASSERT_TRUE(f.claudeProvider->waitForWaiting(1));
  ASSERT_TRUE(f.codexProvider->waitForWaiting(1));
  EXPECT_TRUE(f.state(claude).inFlight);
  EXPECT_TRUE(f.state(codex).inFlight);

  bool done = false;
  f.service->refresh({codex}, true, [&] { done = true; });
  EXPECT_TRUE(done);
  EXPECT_EQ(f.codexProvider->fetches(), 1);

  f.claudeProvider->release();
  f.codexProvider->release();
  ASSERT_TRUE(f.env.drainUntil([&] { return !f.state(claude).inFlight && !f.state(codex).inFlight; }));

  const auto mainThread = std::this_thread::get_id();
  EXPECT_NE(f.claudeProvider->fetchThreads().at(0), mainThread);
  EXPECT_NE(f.codexProvider->fetchThreads().at(0), mainThread);
  EXPECT_THAT(f.reports->threads, ElementsAre(mainThread, mainThread));
  EXPECT_EQ(f.stored(codex), limits(Status::ok, t0));
  EXPECT_THAT(f.timers(), ElementsAre(300, 300));
}

}  // namespace
}  // namespace tokvane
