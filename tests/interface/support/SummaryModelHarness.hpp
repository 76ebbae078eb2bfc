#pragma once

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Tokvane/Engine/Indexing/IndexerService.hpp"
#include "Tokvane/Engine/LiveLimits/LimitsService.hpp"
#include "Tokvane/Engine/Model/AppModel.hpp"
#include "Tokvane/Engine/Settings/Preferences.hpp"
#include "Tokvane/Engine/Settings/UserDefaults.hpp"
#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Pricing/PriceTable.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"
#include "tests/support/InlineEnv.hpp"

namespace tokvane::testing {

// A temporary folder, removed with its contents (the screenshot tool uses
// the harness too, without the tests' support library).
class SummaryScratch {
 public:
  SummaryScratch() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tokvane-summary.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
    path_ = pattern;
  }
  ~SummaryScratch() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

class NoNotifications final : public DistributedNotificationCenter {
 public:
  std::shared_ptr<Cancellable> observe(const std::string&, std::function<void()>) override { return nullptr; }
  void post(const std::string&) override {}
};

class NoWidgets final : public WidgetCenter {
 public:
  void reloadAllTimelines() override {}
};

// A real model over a real ledger in a temporary folder, on a runtime that
// runs everything at once: events go into the ledger through add(), and
// publish() makes the model read its 30-day summary back, as after an index
// run. Nothing is watched or fetched (no limits providers, not started).
struct SummaryModelHarness {
  SummaryModelHarness() : preferences(defaults) {
    store = std::make_shared<UsageStore>(dir / "usage.sqlite");
    indexer = std::make_unique<IndexerService>(*store, locations, nullptr, calendar, env);
    limits = std::make_shared<LimitsService>(std::vector<std::shared_ptr<LimitsProvider>>{}, *store, preferences, env);
    model = AppModel::create(AppModel::Dependencies{
        .store = store,
        .locations = locations,
        .indexer = *indexer,
        .limitsService = limits,
        .preferences = preferences,
        .defaults = defaults,
        .env = env,
        .notifications = notifications,
        .widgets = widgets,
        .calendar = calendar,
        .prices = prices,
        .snapshots = SnapshotStore(dir / "container"),
    });
  }
  ~SummaryModelHarness() {
    model.reset();
    limits.reset();
    indexer.reset();
  }

  // One event `daysAgo` local days before today, at noon.
  void add(ProviderID provider, const std::string& model, int daysAgo, TokenCounts tokens,
           const std::string& session = "s") {
    const Date today = *calendar->startOfDay(Date::now());
    UsageEvent event;
    event.provider = provider;
    event.model = model;
    event.sessionID = session;
    event.dedupKey = "k" + std::to_string(serial++);
    event.timestamp = *calendar->addingDays(today, -daysAgo) + 43200;
    event.tokens = tokens;
    store->ingest({event}, *calendar);
  }

  void publish() { model->schedulePublish(); }

  SummaryScratch dir;
  InMemoryUserDefaults defaults;
  Preferences preferences;
  InlineEnv env;
  NoNotifications notifications;
  NoWidgets widgets;
  std::shared_ptr<const Calendar> calendar = std::make_shared<LocalCalendar>();
  std::shared_ptr<const PriceTable> prices = std::make_shared<PriceTable>(PriceTable::bundled());
  std::shared_ptr<UsageStore> store;
  ProviderLocations locations{dir.path() / "home"};
  std::unique_ptr<IndexerService> indexer;
  std::shared_ptr<LimitsService> limits;
  std::shared_ptr<AppModel> model;
  int serial = 0;
};

}  // namespace tokvane::testing
