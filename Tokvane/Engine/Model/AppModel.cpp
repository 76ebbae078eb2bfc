#include "Tokvane/Engine/Model/AppModel.hpp"

#include <errno.h>
#include <sys/stat.h>

#include <cmath>
#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>

#include "Tokvane/Engine/Runtime/ErrorText.hpp"
#include "TokvaneCore/Snapshot/Snapshot.hpp"

namespace tokvane {

std::shared_ptr<AppModel> AppModel::create(Dependencies dependencies) {
  return std::shared_ptr<AppModel>(new AppModel(std::move(dependencies)));
}

AppModel::AppModel(Dependencies dependencies) : deps_(std::move(dependencies)) {
  if (!deps_.calendar) deps_.calendar = std::make_shared<LocalCalendar>();
  if (!deps_.prices) deps_.prices = std::make_shared<PriceTable>();
}

std::shared_ptr<Subscription> AppModel::observe(std::function<void(Property)> callback) {
  return observers_.subscribe(std::move(callback));
}

// ---------------------------------------------------------------------------
// Start

void AppModel::start() {
  updatePresent();
  // The first publish shows what the ledger already holds.
  schedulePublish();
  deps_.limitsService->start(std::weak_ptr<LimitsServiceClient>(weak_from_this()));

  std::weak_ptr<AppModel> weak = weak_from_this();
  Env* env = &deps_.env;
  refreshObserver_ = deps_.notifications.observe(refreshNotificationName, [weak, env] {
    env->postToMain([weak] {
      if (auto self = weak.lock()) self->refresh(false);
    });
  });

  runFullIndex([](AppModel& self, const IndexOutcome& outcome) {
    self.applyOutcome(outcome);
    self.startWatching();
  });
}

IndexerService::Progress AppModel::progressForwarder() {
  std::weak_ptr<AppModel> weak = weak_from_this();
  Env* env = &deps_.env;
  return [weak, env](const std::optional<IndexingProgress>& progress) {
    env->postToMain([weak, progress] {
      if (auto self = weak.lock()) self->handleProgress(progress);
    });
  };
}

void AppModel::runFullIndex(std::function<void(AppModel&, const IndexOutcome&)> then) {
  std::weak_ptr<AppModel> weak = weak_from_this();
  Env* env = &deps_.env;
  // The completion runs on the indexer's thread, after the run's last
  // progress value was posted, so the main thread sees them in that order.
  deps_.indexer.indexAll(progressForwarder(), [weak, env, then = std::move(then)](IndexOutcome outcome) {
    env->postToMain([weak, then, outcome] {
      if (auto self = weak.lock()) then(*self, outcome);
    });
  });
}

// ---------------------------------------------------------------------------
// Limits

void AppModel::refresh(bool force, std::function<void()> done) {
  ++refreshesInFlight_;
  setRefreshing(true);
  updatePresent();
  std::weak_ptr<AppModel> weak = weak_from_this();
  deps_.limitsService->refresh(present_, force, [weak, done = std::move(done)] {
    if (auto self = weak.lock()) {
      if (--self->refreshesInFlight_ <= 0) {
        self->refreshesInFlight_ = 0;
        self->setRefreshing(false);
      }
    }
    if (done) done();
  });
}

void AppModel::refreshLimitsIfStale(std::function<void()> done) {
  deps_.limitsService->refreshIfStale(present_, std::move(done));
}

void AppModel::limitsDidUpdate(ProviderID id, const ProviderLimits& limits) {
  if (auto it = limits_.find(id); it != limits_.end() && it->second == limits) return;
  limits_[id] = limits;
  observers_.notify(Property::limits);
  schedulePublish();
}

void AppModel::updatePresent() {
  std::vector<ProviderID> present;
  for (ProviderID id : deps_.preferences.enabledProviders()) {
    if (deps_.locations.isPresent(id)) present.push_back(id);
  }
  setPresent(std::move(present));
}

// ---------------------------------------------------------------------------
// Index runs

void AppModel::reread(ProviderID id, std::function<void()> done) {
  if (rereading_.count(id)) {
    if (done) done();
    return;
  }
  rereading_.insert(id);
  observers_.notify(Property::rereading);

  std::weak_ptr<AppModel> weak = weak_from_this();
  Env* env = &deps_.env;
  std::shared_ptr<UsageStore> store = deps_.store;
  env->runInBackground([weak, env, store, id, done = std::move(done)]() mutable {
    std::optional<std::string> failure;
    try {
      store->resetCursors(id);
    } catch (...) {
      failure = errorText(std::current_exception());
    }
    env->postToMain([weak, id, failure = std::move(failure), done = std::move(done)] {
      auto self = weak.lock();
      if (!self) return;
      if (failure) {
        self->deps_.env.log("Tokvane: resetting " + std::string(rawValue(id)) + " cursors failed: " + *failure);
        self->rereading_.erase(id);
        self->observers_.notify(Property::rereading);
        if (done) done();
        return;
      }
      // A full run: this provider's files are read from their beginning
      // (their cursors are gone), the others go on from their cursors.
      self->runFullIndex([id, done](AppModel& model, const IndexOutcome& outcome) {
        model.applyOutcome(outcome);
        model.rereading_.erase(id);
        model.observers_.notify(Property::rereading);
        if (done) done();
      });
    });
  });
}

void AppModel::applyOutcome(const IndexOutcome& outcome) {
  if (outcome.codexLimitsUpdated) {
    std::optional<ProviderLimits> stored;
    try {
      stored = deps_.store->limits(ProviderID::codex);
    } catch (...) {
      // A failing read counts as nothing stored.
    }
    if (stored) {
      limits_[ProviderID::codex] = *stored;
      observers_.notify(Property::limits);
    }
  }
  pruneIfDue();
  schedulePublish();
}

void AppModel::pruneIfDue() {
  const Date now = deps_.env.now();
  if (const auto last = deps_.defaults.dateValue(lastPruneAtKey);
      last && std::isfinite(last->secondsSinceReferenceDate)) {
    const double elapsed = now - *last;
    // A last prune in the future means the clock was set back since; it must
    // not hold pruning off until the clock catches up, so it counts as due.
    if (elapsed >= 0 && elapsed < pruneInterval) return;
  }
  const auto cutoff = deps_.calendar->addingDays(now, -retainedDays);
  if (!cutoff) return;
  try {
    deps_.store->prune(*cutoff, *deps_.calendar);
  } catch (...) {
    // "lastPruneAt" stays, so the next outcome tries again.
    deps_.env.log("Tokvane: prune failed: " + errorText(std::current_exception()));
    return;
  }
  deps_.defaults.set(lastPruneAtKey, now);
  dropCursorsOfRemovedLogs();
}

void AppModel::dropCursorsOfRemovedLogs() {
  // Without this the cursors table only grows: every log ever read keeps
  // its row after the tool deleted it. Only a file that is certainly gone
  // loses its cursor; one that cannot be looked at now (a folder without
  // permission, a path kept with its invalid bytes replaced) keeps it.
  const auto isGone = [](const std::string& path) {
    if (path.find("\xEF\xBF\xBD") != std::string::npos) return false;
    struct stat status;
    return ::lstat(path.c_str(), &status) != 0 && (errno == ENOENT || errno == ENOTDIR);
  };
  try {
    deps_.store->dropCursors(isGone);
  } catch (...) {
    deps_.env.log("Tokvane: dropping the cursors of removed logs failed: " + errorText(std::current_exception()));
  }
}

void AppModel::handleProgress(const std::optional<IndexingProgress>& progress) {
  // A provider's pass ended: its rows are complete enough to show.
  if (indexing_ && (!progress || progress->provider != indexing_->provider)) schedulePublish();
  setIndexing(progress);
}

void AppModel::startWatching() {
  if (watcher_) return;
  // Every root, whether it exists yet or not: one that is missing (the tool
  // is installed later) or removed is waited for, and read once it appears.
  std::vector<std::filesystem::path> roots;
  for (auto& root : deps_.locations.logRoots()) roots.push_back(std::move(root.folder));

  std::weak_ptr<AppModel> weak = weak_from_this();
  Env* env = &deps_.env;
  watcher_ = std::make_unique<DirectoryWatcher>(
      std::move(roots), watchLatency,
      [weak, env](const std::vector<std::string>& paths) {
        env->postToMain([weak, paths] {
          if (auto self = weak.lock()) self->indexChanged(paths);
        });
      },
      deps_.env);
  watcher_->start();
}

void AppModel::indexChanged(const std::vector<std::string>& paths) {
  std::weak_ptr<AppModel> weak = weak_from_this();
  Env* env = &deps_.env;
  deps_.indexer.index(paths, [weak, env](IndexOutcome outcome) {
    env->postToMain([weak, outcome] {
      auto self = weak.lock();
      // A run that found nothing new changes nothing worth a prune or a publish.
      if (self && (outcome.newEvents > 0 || outcome.codexLimitsUpdated)) self->applyOutcome(outcome);
    });
  });
}

// ---------------------------------------------------------------------------
// Publishing

void AppModel::schedulePublish() {
  if (publishing_) {
    publishAgain_ = true;
    return;
  }
  publishing_ = true;
  std::weak_ptr<AppModel> weak = weak_from_this();
  deps_.env.postToMain([weak] {
    if (auto self = weak.lock()) self->runPublishLoop();
  });
}

void AppModel::runPublishLoop() {
  publishAgain_ = false;
  std::weak_ptr<AppModel> weak = weak_from_this();
  publish([weak] {
    auto self = weak.lock();
    if (!self) return;
    if (self->publishAgain_) {
      self->runPublishLoop();
    } else {
      self->publishing_ = false;
    }
  });
}

void AppModel::publish(std::function<void()> passEnded) {
  // The inputs are taken now; a change during the pass is published by the
  // pass its own request causes.
  std::shared_ptr<UsageStore> store = deps_.store;
  std::shared_ptr<const PriceTable> prices = deps_.prices;
  std::shared_ptr<const Calendar> calendar = deps_.calendar;
  std::map<ProviderID, ProviderLimits> limits = limits_;
  std::vector<ProviderID> order = deps_.preferences.enabledProviders();
  SnapshotStore snapshots = deps_.snapshots;
  std::weak_ptr<AppModel> weak = weak_from_this();
  Env* env = &deps_.env;

  env->runInBackground([store = std::move(store), prices = std::move(prices), calendar = std::move(calendar),
                        limits = std::move(limits), order = std::move(order), snapshots = std::move(snapshots), weak,
                        env, passEnded = std::move(passEnded)]() mutable {
    // One instant for the summary and its snapshot.
    const Date now = env->now();
    std::optional<UsageSummary> summary;
    try {
      summary = store->summary(summaryDays, now, *calendar, *prices);
    } catch (...) {
      // Nothing to publish; a later request tries again.
    }
    if (summary) {
      try {
        snapshots.write(Snapshot::make(*summary, limits, order, now, *calendar));
      } catch (const SnapshotStore::StoreError&) {
        // No app-group container: there is no widget to hand anything to.
      } catch (...) {
        env->log("Tokvane: writing the widget snapshot failed: " + errorText(std::current_exception()));
      }
    }
    env->postToMain([weak, summary = std::move(summary), passEnded = std::move(passEnded)] {
      if (auto self = weak.lock()) self->finishPublish(summary);
      passEnded();
    });
  });
}

void AppModel::finishPublish(const std::optional<UsageSummary>& summary) {
  if (!summary) return;
  if (*summary != summary_) {
    summary_ = *summary;
    observers_.notify(Property::summary);
  }
  setLastUpdated(deps_.env.now());
  deps_.widgets.reloadAllTimelines();
}

// ---------------------------------------------------------------------------
// Observed fields

void AppModel::setPresent(std::vector<ProviderID> present) {
  if (present == present_) return;
  present_ = std::move(present);
  observers_.notify(Property::present);
}

void AppModel::setIndexing(const std::optional<IndexingProgress>& progress) {
  if (progress == indexing_) return;
  indexing_ = progress;
  observers_.notify(Property::indexing);
}

void AppModel::setLastUpdated(Date date) {
  if (lastUpdated_ == date) return;
  lastUpdated_ = date;
  observers_.notify(Property::lastUpdated);
}

void AppModel::setRefreshing(bool value) {
  if (isRefreshing_ == value) return;
  isRefreshing_ = value;
  observers_.notify(Property::isRefreshing);
}

}  // namespace tokvane
