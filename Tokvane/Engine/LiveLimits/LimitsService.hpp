#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "Tokvane/Engine/Runtime/Env.hpp"
#include "Tokvane/Engine/LiveLimits/LimitsServiceClient.hpp"
#include "Tokvane/Engine/Settings/Preferences.hpp"
#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneCore/Limits/ProviderLimits.hpp"
#include "TokvaneCore/Limits/ProviderStatus.hpp"
#include "TokvaneCore/Providers/LimitsProvider.hpp"
#include "TokvaneCore/Providers/RefreshPolicy.hpp"
#include "TokvaneCore/Store/UsageStore.hpp"
#include "TokvaneCore/Usage/ProviderID.hpp"

namespace tokvane {

// Keeps every detected provider's live limits fresh. Per provider it decides
// when its limits provider may be asked again (300 s after the last attempt;
// 600, 1,200, then at most 1,800 s while it is unreachable or rate-limited;
// 30 s after a failed attempt when forced; after access was denied only when
// forced), runs at most one fetch at a time, keeps the stored windows, marked
// stale, when a failed fetch brings none, stores and reports every outcome
// and schedules the next attempt.
//
// Everything runs on the main thread except the providers' fetches, which
// run through Env::runInBackground. Completion callbacks (`done`) run on the
// main thread once the operation, fetch and store included, has finished.
// The service must be owned by a std::shared_ptr: its scheduled tasks and
// pending fetch results hold it weakly.
class LimitsService : public std::enable_shared_from_this<LimitsService> {
 public:
  // Providers are keyed by their id; when two share one, the first wins.
  LimitsService(std::vector<std::shared_ptr<LimitsProvider>> providers, UsageStore& store, Preferences& preferences,
                Env& env);
  LimitsService(const LimitsService&) = delete;
  LimitsService& operator=(const LimitsService&) = delete;

  // Binds the service to the model (held weakly), reports the limits stored
  // for every registered provider (their fetchedAt counting as the last
  // attempt) and then, from the main queue, refreshes the model's present
  // providers, unforced. Call once.
  void start(std::weak_ptr<LimitsServiceClient> model);

  // Evaluates each provider with the given force; `done` runs when every
  // evaluation has finished.
  void refresh(std::vector<ProviderID> ids, bool force, std::function<void()> done = {});
  // Refreshes, unforced, the providers not attempted in the last 300 s whose
  // last success is none or more than 60 s old (a provider never seen counts).
  void refreshIfStale(std::vector<ProviderID> ids, std::function<void()> done = {});
  // Evaluates each provider, forced exactly for those whose last status was
  // accessDenied.
  void reevaluate(std::vector<ProviderID> ids, std::function<void()> done = {});
  // Decides for one provider whether a fetch is due and runs it, or schedules
  // the next evaluation.
  void evaluate(ProviderID id, bool force, std::function<void()> done = {});

  // Enabled in the preferences and, for Claude, with its live limits on.
  bool isActive(ProviderID id) const;

  // A read-only view of one provider's fetch state.
  struct StateView {
    std::optional<Date> lastAttempt, lastSuccess;
    std::optional<ProviderStatus> lastStatus;
    double currentDelay;
    bool inFlight;
    bool scheduled;
  };
  std::optional<StateView> state(ProviderID id) const;

  // A scheduled delay as actually slept: at least 1 s and at most the
  // longest back-off, whatever time left was computed (NaN sleeps 1 s).
  static double clampedDelay(double seconds);

  // Seconds after a failed attempt when a forced evaluation may retry.
  static constexpr double forcedRetryInterval = 30;
  // The shortest scheduled sleep.
  static constexpr double minimumSleep = 1;

 private:
  struct State {
    std::optional<Date> lastAttempt;
    std::optional<Date> lastSuccess;
    std::optional<ProviderStatus> lastStatus;
    double currentDelay = RefreshPolicy::minInterval;
    bool inFlight = false;
    std::shared_ptr<Cancellable> scheduled;
  };

  void fetch(ProviderID id, Date evaluationTime, std::function<void()> done);
  void apply(const ProviderLimits& result, ProviderID id, Date evaluationTime);
  void restoreFromStore();
  void scheduleEvaluation(ProviderID id, double delaySeconds);
  void cancelScheduled(ProviderID id);
  static ProviderLimits mergedWithStored(const ProviderLimits& fetched, const std::optional<ProviderLimits>& stored);

  // The stored limits; a failing read counts as nothing stored.
  std::optional<ProviderLimits> storedLimits(ProviderID id);
  // Stores the limits; a failing write is ignored.
  void storeLimits(const ProviderLimits& limits, ProviderID id);
  void report(ProviderID id, const ProviderLimits& limits);
  std::vector<ProviderID> activeIDs() const;
  bool isEnabled(ProviderID id) const;

  std::map<ProviderID, std::shared_ptr<LimitsProvider>> providers_;
  UsageStore& store_;
  Preferences& preferences_;
  Env& env_;
  std::map<ProviderID, State> states_;
  std::weak_ptr<LimitsServiceClient> model_;
};

}  // namespace tokvane
