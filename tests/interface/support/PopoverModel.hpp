#pragma once

// A real application model for the popover's tests, screenshots and
// benchmark: a ledger and a home folder in a temporary folder of their own,
// the Qt runtime, in-memory preferences and limits providers that count their
// fetches and answer what the caller queued. The model is not started; the
// limits service is bound to it, so fetches reach it. Made after the
// QApplication.

#include <stdlib.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>

#include "Tokvane/Engine/Indexing/IndexerService.hpp"
#include "Tokvane/Engine/LiveLimits/LimitsService.hpp"
#include "Tokvane/Engine/Model/AppModel.hpp"
#include "Tokvane/Engine/Settings/Preferences.hpp"
#include "Tokvane/Engine/Settings/UserDefaults.hpp"
#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Pricing/PriceTable.hpp"
#include "TokvaneCore/Providers/LimitsProvider.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"
#include "platform/qt/QtEnv.hpp"

namespace tokvane::popovertest {

// Answers each fetch with the next queued limits (an ok answer without
// windows when none is queued) and counts the fetches.
class CountingLimitsProvider final : public LimitsProvider {
 public:
  explicit CountingLimitsProvider(ProviderID id) : id_(id) {}
  ProviderID id() const override { return id_; }
  ProviderLimits fetch(Date now) override {
    ++fetches;
    std::lock_guard lock(mutex_);
    ProviderLimits answer;
    if (!answers_.empty()) {
      answer = answers_.front();
      answers_.pop_front();
    }
    answer.fetchedAt = now;
    return answer;
  }
  void enqueue(ProviderLimits limits) {
    std::lock_guard lock(mutex_);
    answers_.push_back(std::move(limits));
  }
  std::atomic<int> fetches{0};

 private:
  ProviderID id_;
  std::mutex mutex_;
  std::deque<ProviderLimits> answers_;
};

class NoNotifications final : public DistributedNotificationCenter {
 public:
  struct Token final : Cancellable {
    void cancel() override { cancelled = true; }
    bool isCancelled() const override { return cancelled; }
    bool cancelled = false;
  };
  std::shared_ptr<Cancellable> observe(const std::string&, std::function<void()>) override {
    return std::make_shared<Token>();
  }
  void post(const std::string&) override {}
};

class NoWidgets final : public WidgetCenter {
 public:
  void reloadAllTimelines() override {}
};

// A folder removed with everything in it when the owner goes.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tokvane-popover.XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~ScratchFolder() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Processes Qt events until `done` holds or `timeoutMs` passed.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

struct PopoverModel {
  PopoverModel() : preferences(defaults) {
    std::filesystem::create_directories(home());
    IndexerService::Options options;
    options.parseThreads = 0;
    indexer = std::make_unique<IndexerService>(*store, locations, nullptr, calendar, env, IndexerService::IngestEvents{},
                                               options);
    for (ProviderID id : allProviders) providers.push_back(std::make_shared<CountingLimitsProvider>(id));
    limitsService = std::make_shared<LimitsService>(
        std::vector<std::shared_ptr<LimitsProvider>>(providers.begin(), providers.end()), *store, preferences, env);
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
        .prices = std::make_shared<const PriceTable>(PriceTable::bundled()),
        .snapshots = SnapshotStore(std::nullopt),
    });
    limitsService->start(model);
    // The service's first refresh (of no present provider) runs now, so a
    // test's first fetch is its own.
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  }
  ~PopoverModel() {
    model.reset();
    limitsService.reset();
    indexer.reset();
  }

  std::filesystem::path home() const { return scratch.path() / "home"; }

  // Makes a provider's files exist, so the model counts it as present.
  void makePresent(ProviderID id) {
    std::filesystem::path path;
    switch (id) {
      case ProviderID::claude: path = locations.claudeProjects(); break;
      case ProviderID::codex: path = locations.codexSessions()[0]; break;
      case ProviderID::grok: path = locations.grokSessions(); break;
      case ProviderID::cursor: path = locations.cursorStateDB(); break;
    }
    if (id == ProviderID::cursor) {
      std::filesystem::create_directories(path.parent_path());
      std::ofstream(path) << "";
    } else {
      std::filesystem::create_directories(path);
    }
    model->updatePresent();
  }

  // Hands the model a provider's limits as a fetch would.
  void setLimits(ProviderID id, const ProviderLimits& limits) { model->limitsDidUpdate(id, limits); }

  CountingLimitsProvider& provider(ProviderID id) { return *providers[static_cast<size_t>(id)]; }

  ScratchFolder scratch;
  QtEnv env;
  std::shared_ptr<UsageStore> store = std::make_shared<UsageStore>(scratch.path() / "usage.sqlite");
  ProviderLocations locations{scratch.path() / "home"};
  InMemoryUserDefaults defaults;
  Preferences preferences;
  NoNotifications notifications;
  NoWidgets widgets;
  std::shared_ptr<const Calendar> calendar = std::make_shared<LocalCalendar>();
  std::vector<std::shared_ptr<CountingLimitsProvider>> providers;
  std::unique_ptr<IndexerService> indexer;
  std::shared_ptr<LimitsService> limitsService;
  std::shared_ptr<AppModel> model;
};

}  // namespace tokvane::popovertest
