#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Tokvane/Engine/Indexing/DirectoryWatcher.hpp"
#include "Tokvane/Engine/Runtime/DistributedNotificationCenter.hpp"
#include "Tokvane/Engine/Runtime/Env.hpp"
#include "Tokvane/Engine/Indexing/IndexOutcome.hpp"
#include "Tokvane/Engine/Indexing/IndexerService.hpp"
#include "Tokvane/Engine/Indexing/IndexingProgress.hpp"
#include "Tokvane/Engine/LiveLimits/LimitsService.hpp"
#include "Tokvane/Engine/LiveLimits/LimitsServiceClient.hpp"
#include "Tokvane/Engine/Runtime/ObserverList.hpp"
#include "Tokvane/Engine/Settings/Preferences.hpp"
#include "Tokvane/Engine/Settings/UserDefaults.hpp"
#include "Tokvane/Engine/Runtime/WidgetCenter.hpp"
#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneCore/Limits/ProviderLimits.hpp"
#include "TokvaneCore/Pricing/PriceTable.hpp"
#include "TokvaneCore/Providers/ProviderLocations.hpp"
#include "TokvaneCore/Snapshot/SnapshotStore.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"
#include "TokvaneCore/Summary/UsageSummary.hpp"
#include "TokvaneCore/Usage/ProviderID.hpp"

namespace tokvane {

// The application's central model: the state every view, the status title
// and the widget snapshot are made from, and the orchestration of the
// engine. At start it publishes what the ledger holds, starts the limits
// service, answers the widget's refresh notification, runs a first full index
// and then watches the log folders; every index outcome becomes a Codex
// limits reload, a ledger prune when one is due and a publish.
//
// Every member runs on the main thread. Work that must not block it goes to
// the indexer's thread or to Env::runInBackground, and its result comes back
// through Env::postToMain; such callbacks hold the model weakly. Completion
// callbacks (`done`) run on the main thread. The model must be owned by a
// std::shared_ptr (see create).
class AppModel final : public LimitsServiceClient, public std::enable_shared_from_this<AppModel> {
 public:
  // The observed fields; observers hear which one changed.
  enum class Property { summary, limits, present, indexing, lastUpdated, rereading, isRefreshing };

  // The user-defaults key of the time of the last successful prune.
  static constexpr const char* lastPruneAtKey = "lastPruneAt";
  // The distributed notification that asks for a limits refresh.
  static constexpr const char* refreshNotificationName = "app.tokvane.refresh";
  // Days of usage every publish summarises.
  static constexpr int summaryDays = 30;
  // A prune runs at most once in this many seconds...
  static constexpr double pruneInterval = 86400;
  // ...and drops the rows of the days before this many calendar days ago.
  static constexpr int retainedDays = 90;
  // The watcher's batching latency.
  static constexpr double watchLatency = 2.0;

  // What the model works with. Every reference, and `store`, must outlive
  // the model; background work holds the store, the calendar and the prices
  // by shared ownership, so a publish in flight outlives the model safely.
  struct Dependencies {
    std::shared_ptr<UsageStore> store;
    ProviderLocations locations;
    IndexerService& indexer;
    std::shared_ptr<LimitsService> limitsService;
    Preferences& preferences;
    UserDefaults& defaults;
    Env& env;
    DistributedNotificationCenter& notifications;
    WidgetCenter& widgets;
    std::shared_ptr<const Calendar> calendar;
    std::shared_ptr<const PriceTable> prices;
    // Where the widget snapshot goes.
    SnapshotStore snapshots;
  };

  static std::shared_ptr<AppModel> create(Dependencies dependencies);
  AppModel(const AppModel&) = delete;
  AppModel& operator=(const AppModel&) = delete;

  // Observed state.
  const UsageSummary& summary() const { return summary_; }
  const std::map<ProviderID, ProviderLimits>& limits() const { return limits_; }
  // The enabled providers, in the user's order, whose files exist.
  std::vector<ProviderID> present() const override { return present_; }
  const std::optional<IndexingProgress>& indexing() const { return indexing_; }
  const std::optional<Date>& lastUpdated() const { return lastUpdated_; }
  const std::set<ProviderID>& rereading() const { return rereading_; }
  bool isRefreshing() const { return isRefreshing_; }

  // Calls `callback` after each real change of an observed field, until the
  // returned subscription is dropped or cancelled.
  [[nodiscard]] std::shared_ptr<Subscription> observe(std::function<void(Property)> callback);

  // Set by the application shell; kept, never called by the model.
  std::function<void()> onOpenRequest;

  // Once, right after creation: publishes what the ledger holds, starts the
  // limits service, observes the refresh notification and starts the first
  // full index run (then the watcher). Returns at once.
  void start();

  // Recomputes the present providers and refreshes their limits; `done`
  // runs once the refresh has finished. isRefreshing holds while any
  // refresh started here runs.
  void refresh(bool force, std::function<void()> done = {});
  // Refreshes the limits of the present providers that are stale.
  void refreshLimitsIfStale(std::function<void()> done = {});
  // Reads one provider's history again: forgets its cursors, then runs a
  // full index. `done` runs when the outcome was applied (or the reset
  // failed, or a re-read of that provider already runs).
  void reread(ProviderID id, std::function<void()> done = {});
  void updatePresent();

  void limitsDidUpdate(ProviderID id, const ProviderLimits& limits) override;
  void applyOutcome(const IndexOutcome& outcome);
  // Prunes the ledger when a day has passed since the last prune, then
  // drops the cursors of log files that no longer exist.
  void pruneIfDue();
  void handleProgress(const std::optional<IndexingProgress>& progress);
  void startWatching();
  void indexChanged(const std::vector<std::string>& paths);

  // Asks for a publish: the 30-day summary and the widget snapshot are
  // computed off the main thread, then the summary and lastUpdated are set
  // and the widgets reloaded. Requests made while a pass runs are served by
  // one more pass.
  void schedulePublish();

  // The watcher, once startWatching made it.
  const DirectoryWatcher* watcher() const { return watcher_.get(); }
  bool isPublishing() const { return publishing_; }

 private:
  explicit AppModel(Dependencies dependencies);

  // The progress callback handed to full runs: posts each value to the main
  // queue, in order.
  IndexerService::Progress progressForwarder();
  // A full run whose outcome reaches `then` on the main thread.
  void runFullIndex(std::function<void(AppModel&, const IndexOutcome&)> then);
  // The end of a prune: cursors of log files that are gone go too.
  void dropCursorsOfRemovedLogs();

  // One pass of the publish loop; `passEnded` runs on the main thread.
  void publish(std::function<void()> passEnded);
  void runPublishLoop();
  void finishPublish(const std::optional<UsageSummary>& summary);

  void setPresent(std::vector<ProviderID> present);
  void setIndexing(const std::optional<IndexingProgress>& progress);
  void setLastUpdated(Date date);
  void setRefreshing(bool value);

  Dependencies deps_;
  ObserverList<Property> observers_;

  UsageSummary summary_ = UsageSummary::empty();
  std::map<ProviderID, ProviderLimits> limits_;
  std::vector<ProviderID> present_;
  std::optional<IndexingProgress> indexing_;
  std::optional<Date> lastUpdated_;
  std::set<ProviderID> rereading_;
  bool isRefreshing_ = false;

  std::unique_ptr<DirectoryWatcher> watcher_;
  std::shared_ptr<Cancellable> refreshObserver_;
  bool publishing_ = false;
  bool publishAgain_ = false;
  int refreshesInFlight_ = 0;
};

}  // namespace tokvane
