#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Tokvane/Engine/Model/AppModel.hpp"
#include "Tokvane/Engine/Indexing/IndexerService.hpp"
#include "Tokvane/Engine/LiveLimits/LimitsService.hpp"
#include "Tokvane/Engine/Settings/Preferences.hpp"
#include "Tokvane/Engine/Settings/UserDefaults.hpp"
#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Pricing/PriceTable.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"
#include "tests/engine/support/FakeEnv.hpp"
#include "tests/engine/support/ScriptedLimitsProvider.hpp"
#include "tests/support/LogLines.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane::testing {

// The fake runtime with two more controls: background work can be held in a
// queue until the test runs it (to look at the model while a publish or a
// cursor reset is in flight), and the clock can be replaced.
class ControlledEnv final : public Env {
 public:
  explicit ControlledEnv(FakeEnv& base) : base_(base) {}

  void holdBackground(bool hold) {
    std::lock_guard lock(mutex_);
    hold_ = hold;
  }
  size_t heldCount() const {
    std::lock_guard lock(mutex_);
    return held_.size();
  }
  // Runs the work held so far (not what it holds in turn); returns how many ran.
  int runHeld() {
    std::deque<std::function<void()>> work;
    {
      std::lock_guard lock(mutex_);
      work.swap(held_);
    }
    for (auto& item : work) item();
    return static_cast<int>(work.size());
  }
  // Replaces the clock; called from any thread.
  void setClock(std::function<Date()> clock) {
    std::lock_guard lock(mutex_);
    clock_ = std::move(clock);
  }

  void postToMain(std::function<void()> work) override { base_.postToMain(std::move(work)); }
  bool isMainThread() const override { return base_.isMainThread(); }
  Date now() override {
    std::function<Date()> clock;
    {
      std::lock_guard lock(mutex_);
      clock = clock_;
    }
    return clock ? clock() : base_.now();
  }
  std::shared_ptr<Cancellable> scheduleOnMain(double delaySeconds, std::function<void()> work) override {
    return base_.scheduleOnMain(delaySeconds, std::move(work));
  }
  void runInBackground(std::function<void()> work) override {
    {
      std::lock_guard lock(mutex_);
      if (hold_) {
        held_.push_back(std::move(work));
        return;
      }
    }
    base_.runInBackground(std::move(work));
  }
  void log(std::string_view line) override { base_.log(line); }
  std::unique_ptr<FileEventStream> watchFiles(const std::vector<std::string>& roots, double latencySeconds,
                                              FileEventCallback onBatch) override {
    return base_.watchFiles(roots, latencySeconds, std::move(onBatch));
  }

 private:
  FakeEnv& base_;
  mutable std::mutex mutex_;
  bool hold_ = false;
  std::deque<std::function<void()>> held_;
  std::function<Date()> clock_;
};

// Lets a test stop index runs inside their first ingest, to act while a run
// is in progress.
class IngestGate {
 public:
  void close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  void open() {
    {
      std::lock_guard lock(mutex_);
      closed_ = false;
    }
    changed_.notify_all();
  }
  bool waitForWaiting(int timeoutMs = 5000) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return waiting_ > 0; });
  }
  void pass() {
    std::unique_lock lock(mutex_);
    ++waiting_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return !closed_; });
    --waiting_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool closed_ = false;
  int waiting_ = 0;
};

// 2026-01-01T00:00:00Z, the fake clock's start.
inline const Date modelT0 = Date::fromUnix(1767225600);

// The logs the model tests feed: a Claude reply and a Codex usage record on
// the day before modelT0 (in UTC and in Los Angeles), within the summary's
// window.
inline std::string claudeUsageLine(const std::string& id) {
  return claudeLine(id, {.session = "s-" + id, .model = "claude-sonnet-4-5", .input = 1000, .output = 100});
}
inline const CodexUsage modelCodexUsage{.timestamp = "2025-12-31T11:00:00Z", .input = 2000, .output = 200};

// A Codex session: its session and model lines, then `extra` lines.
inline std::string codexSession(const std::string& id, const std::string& extra) {
  return codexSessionMeta(id, "2025-12-31T09:00:00Z") + codexTurnContext("gpt-5", "2025-12-31T09:00:01Z") + extra;
}

// Runs SQL on a ledger file through a connection of its own; returns the
// rows as "a|b|c" texts, or the error as one "error: ..." row.
inline std::vector<std::string> ledgerSQL(const std::filesystem::path& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::vector<std::string> rows;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return {"error: cannot open"};
  }
  char* error = nullptr;
  auto collect = [](void* out, int columns, char** values, char**) {
    std::string row;
    for (int i = 0; i < columns; ++i) row += (i ? "|" : "") + std::string(values[i] ? values[i] : "NULL");
    static_cast<std::vector<std::string>*>(out)->push_back(row);
    return 0;
  };
  if (sqlite3_exec(db, sql.c_str(), collect, &rows, &error) != SQLITE_OK) {
    rows = {std::string("error: ") + (error ? error : "?")};
  }
  sqlite3_free(error);
  sqlite3_close(db);
  return rows;
}

// A model over a real ledger file, a real indexer reading a temporary home,
// a limits service with scripted Claude, Codex and Grok providers, in-memory
// preferences and the fake runtime. build() makes the services and the model
// (not started); the test lays out files and settings first.
struct ModelHarness {
  ModelHarness() : preferences(defaults) {}
  ~ModelHarness() {
    gate.open();
    // Nothing of the model may run once the parts it uses are gone.
    model.reset();
    limitsService.reset();
    indexer.reset();
  }

  void build() {
    IndexerService::Options options;
    options.parseThreads = 0;
    indexer = std::make_unique<IndexerService>(
        *store, locations, nullptr, calendar, env,
        [this](const std::vector<UsageEvent>& events, const Calendar& cal) {
          if (gateIngest) gate.pass();
          return store->ingest(events, cal);
        },
        options);
    limitsService = std::make_shared<LimitsService>(
        std::vector<std::shared_ptr<LimitsProvider>>{claudeProvider, codexProvider, grokProvider}, *store, preferences,
        env);
    model = AppModel::create(AppModel::Dependencies{
        .store = store,
        .locations = locations,
        .indexer = *indexer,
        .limitsService = limitsService,
        .preferences = preferences,
        .defaults = defaults,
        .env = env,
        .notifications = notifications,
        .widgets = widgets,
        .calendar = calendar,
        .prices = prices,
        .snapshots = SnapshotStore(container),
    });
    subscription = model->observe([this](AppModel::Property property) { changes.push_back(property); });
  }

  // Runs main-thread work and waits for the index runs asked for so far,
  // until nothing is left to do.
  void settle() {
    for (int round = 0; round < 100; ++round) {
      int ran = fake.drain();
      indexer->index({}).wait();
      ran += fake.drain();
      if (ran == 0) return;
    }
    ADD_FAILURE() << "the model never settled";
  }

  int count(AppModel::Property property) const {
    int n = 0;
    for (auto p : changes) n += p == property;
    return n;
  }

  std::filesystem::path claudeLog(const std::string& name = "a.jsonl") const {
    return home / ".claude" / "projects" / "p" / name;
  }
  std::filesystem::path codexLog(const std::string& name = "rollout-1.jsonl") const {
    return home / ".codex" / "sessions" / "2025" / "12" / "31" / name;
  }
  std::filesystem::path ledger() const { return data / "usage.sqlite"; }

  FakeEnv fake{modelT0};
  ControlledEnv env{fake};
  TempDir home;
  TempDir data;
  std::shared_ptr<UsageStore> store = std::make_shared<UsageStore>(data / "usage.sqlite");
  ProviderLocations locations{home.path()};
  InMemoryUserDefaults defaults;
  Preferences preferences;
  FakeNotificationCenter notifications{env};
  FakeWidgetCenter widgets;
  std::shared_ptr<const Calendar> calendar = std::make_shared<LocalCalendar>();
  std::shared_ptr<const PriceTable> prices = std::make_shared<const PriceTable>(PriceTable::bundled());
  std::optional<std::filesystem::path> container = data / "container";
  std::shared_ptr<ScriptedLimitsProvider> claudeProvider = std::make_shared<ScriptedLimitsProvider>(ProviderID::claude);
  std::shared_ptr<ScriptedLimitsProvider> codexProvider = std::make_shared<ScriptedLimitsProvider>(ProviderID::codex);
  std::shared_ptr<ScriptedLimitsProvider> grokProvider = std::make_shared<ScriptedLimitsProvider>(ProviderID::grok);
  IngestGate gate;
  std::atomic<bool> gateIngest{false};

  std::unique_ptr<IndexerService> indexer;
  std::shared_ptr<LimitsService> limitsService;
  std::shared_ptr<AppModel> model;
  std::shared_ptr<Subscription> subscription;
  std::vector<AppModel::Property> changes;
};

}  // namespace tokvane::testing
