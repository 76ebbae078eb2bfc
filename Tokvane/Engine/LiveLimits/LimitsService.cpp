#include "Tokvane/Engine/LiveLimits/LimitsService.hpp"

#include <algorithm>
#include <utility>

namespace tokvane {

namespace {

bool backsOff(ProviderStatus status) {
  return status == ProviderStatus::unreachable || status == ProviderStatus::rateLimited;
}

// Runs `done` once every one of `count` parts has called the returned callback.
std::function<void()> joining(size_t count, std::function<void()> done) {
  auto remaining = std::make_shared<size_t>(count);
  auto shared = std::make_shared<std::function<void()>>(std::move(done));
  return [remaining, shared] {
    if (*remaining == 0) return;
    if (--*remaining == 0 && *shared) (*shared)();
  };
}

}  // namespace

LimitsService::LimitsService(std::vector<std::shared_ptr<LimitsProvider>> providers, UsageStore& store,
                             Preferences& preferences, Env& env)
    : store_(store), preferences_(preferences), env_(env) {
  for (auto& provider : providers) {
    if (!provider) continue;
    providers_.try_emplace(provider->id(), std::move(provider));
  }
}

double LimitsService::clampedDelay(double seconds) {
  // Written so that NaN lands on the floor.
  if (!(seconds > minimumSleep)) return minimumSleep;
  return std::min(seconds, RefreshPolicy::maxBackoff);
}

void LimitsService::start(std::weak_ptr<LimitsServiceClient> model) {
  model_ = std::move(model);
  restoreFromStore();
  // The first refresh keeps the service and the model alive until it ends.
  auto self = shared_from_this();
  auto strongModel = model_.lock();
  env_.postToMain([self, strongModel] {
    std::vector<ProviderID> ids;
    if (strongModel) ids = strongModel->present();
    self->refresh(std::move(ids), false, [self, strongModel] {});
  });
}

void LimitsService::restoreFromStore() {
  const Date now = env_.now();
  for (const auto& [id, provider] : providers_) {
    const auto stored = storedLimits(id);
    if (!stored) continue;
    // A fetchedAt ahead of the clock (a skewed clock, a hand-edited ledger)
    // counts as now, or the provider would wait until the clock caught up.
    const Date attempt = std::min(stored->fetchedAt, now);
    State& state = states_[id];
    state.lastAttempt = attempt;
    state.lastStatus = stored->status;
    if (stored->status == ProviderStatus::ok) state.lastSuccess = attempt;
    report(id, *stored);
  }
}

void LimitsService::refresh(std::vector<ProviderID> ids, bool force, std::function<void()> done) {
  if (ids.empty()) {
    if (done) done();
    return;
  }
  auto part = joining(ids.size(), std::move(done));
  for (ProviderID id : ids) evaluate(id, force, part);
}

void LimitsService::refreshIfStale(std::vector<ProviderID> ids, std::function<void()> done) {
  const Date now = env_.now();
  std::vector<ProviderID> stale;
  for (ProviderID id : ids) {
    const auto it = states_.find(id);
    if (it == states_.end() ||
        RefreshPolicy::shouldRefreshOnOpen(it->second.lastSuccess, it->second.lastAttempt, now)) {
      stale.push_back(id);
    }
  }
  refresh(std::move(stale), false, std::move(done));
}

void LimitsService::reevaluate(std::vector<ProviderID> ids, std::function<void()> done) {
  if (ids.empty()) {
    if (done) done();
    return;
  }
  auto part = joining(ids.size(), std::move(done));
  for (ProviderID id : ids) {
    const auto it = states_.find(id);
    const bool force = it != states_.end() && it->second.lastStatus == ProviderStatus::accessDenied;
    evaluate(id, force, part);
  }
}

void LimitsService::evaluate(ProviderID id, bool force, std::function<void()> done) {
  const Date now = env_.now();
  auto finish = [&done] {
    if (done) done();
  };

  if (!providers_.count(id)) return finish();

  if (id == ProviderID::claude && !preferences_.claudeLiveLimits()) {
    cancelScheduled(id);
    const auto stored = storedLimits(id);
    const bool placeholderStored = stored && stored->status == ProviderStatus::unavailable &&
                                   stored->windows.empty() && !stored->credits && !stored->plan;
    if (!placeholderStored) {
      ProviderLimits placeholder;
      placeholder.status = ProviderStatus::unavailable;
      placeholder.fetchedAt = now;
      storeLimits(placeholder, id);
      report(id, placeholder);
    }
    return finish();
  }

  if (!isEnabled(id)) {
    cancelScheduled(id);
    return finish();
  }

  const auto it = states_.find(id);
  State fresh;
  State& state = it != states_.end() ? it->second : fresh;

  if (state.inFlight) return finish();

  if (state.lastStatus == ProviderStatus::accessDenied && !force) {
    cancelScheduled(id);
    return finish();
  }

  // An attempt ahead of the clock (the clock was set back) counts as now.
  if (state.lastAttempt && *state.lastAttempt > now) state.lastAttempt = now;

  const bool failed = state.lastStatus && *state.lastStatus != ProviderStatus::ok;
  const bool backingOff = state.lastStatus && backsOff(*state.lastStatus);
  const double normalInterval =
      backingOff ? std::max(state.currentDelay, RefreshPolicy::minInterval) : RefreshPolicy::minInterval;

  bool due = true;
  if (state.lastAttempt) {
    const double elapsed = now - *state.lastAttempt;
    due = elapsed >= ((force && failed) ? forcedRetryInterval : normalInterval);
  }

  if (!due) {
    // A forced evaluation that is not due schedules with the normal delay too.
    if (!state.scheduled) scheduleEvaluation(id, (*state.lastAttempt + normalInterval) - now);
    return finish();
  }

  state.inFlight = true;
  state.lastAttempt = now;
  if (state.scheduled) state.scheduled->cancel();
  state.scheduled = nullptr;
  if (it == states_.end()) states_.emplace(id, fresh);
  fetch(id, now, std::move(done));
}

void LimitsService::fetch(ProviderID id, Date evaluationTime, std::function<void()> done) {
  std::shared_ptr<LimitsProvider> provider = providers_.at(id);
  std::weak_ptr<LimitsService> weak = weak_from_this();
  Env* env = &env_;
  env_.runInBackground([provider, weak, env, id, evaluationTime, done = std::move(done)]() mutable {
    ProviderLimits result;
    try {
      result = provider->fetch(evaluationTime);
    } catch (...) {
      // Providers report failures as a status; one that throws anyway is
      // taken as unreachable rather than leaving the provider in flight.
      result = ProviderLimits{};
      result.status = ProviderStatus::unreachable;
      result.fetchedAt = evaluationTime;
    }
    env->postToMain([weak, id, evaluationTime, result = std::move(result), done = std::move(done)] {
      if (auto self = weak.lock()) self->apply(result, id, evaluationTime);
      if (done) done();
    });
  });
}

void LimitsService::apply(const ProviderLimits& result, ProviderID id, Date evaluationTime) {
  if (!isActive(id)) {
    states_[id].inFlight = false;
    cancelScheduled(id);
    return;
  }

  const ProviderLimits merged = mergedWithStored(result, storedLimits(id));
  storeLimits(merged, id);

  State& state = states_[id];
  state.inFlight = false;
  state.lastStatus = result.status;
  if (result.status == ProviderStatus::ok) state.lastSuccess = evaluationTime;
  state.currentDelay = RefreshPolicy::nextDelay(result.status, state.currentDelay);
  const double delay = state.currentDelay;

  report(id, merged);
  if (result.status != ProviderStatus::accessDenied) scheduleEvaluation(id, delay);
}

ProviderLimits LimitsService::mergedWithStored(const ProviderLimits& fetched,
                                               const std::optional<ProviderLimits>& stored) {
  if (fetched.status == ProviderStatus::ok || !fetched.windows.empty() || !stored ||
      (stored->windows.empty() && !stored->credits)) {
    return fetched;
  }
  ProviderLimits kept = stored->markedStale();
  kept.status = fetched.status;
  return kept;
}

void LimitsService::scheduleEvaluation(ProviderID id, double delaySeconds) {
  const auto active = activeIDs();
  if (std::find(active.begin(), active.end(), id) == active.end()) return;
  cancelScheduled(id);
  std::weak_ptr<LimitsService> weak = weak_from_this();
  auto handle = env_.scheduleOnMain(clampedDelay(delaySeconds), [weak, id] {
    auto self = weak.lock();
    if (!self) return;
    // The task is over: forget its handle without cancelling anything.
    self->states_[id].scheduled = nullptr;
    self->evaluate(id, false);
  });
  states_[id].scheduled = std::move(handle);
}

void LimitsService::cancelScheduled(ProviderID id) {
  const auto it = states_.find(id);
  if (it == states_.end()) return;
  if (it->second.scheduled) it->second.scheduled->cancel();
  it->second.scheduled = nullptr;
}

std::optional<ProviderLimits> LimitsService::storedLimits(ProviderID id) {
  try {
    return store_.limits(id);
  } catch (...) {
    return std::nullopt;
  }
}

void LimitsService::storeLimits(const ProviderLimits& limits, ProviderID id) {
  try {
    store_.setLimits(limits, id);
  } catch (...) {
    // The state and the report go on as if the value had been stored.
  }
}

void LimitsService::report(ProviderID id, const ProviderLimits& limits) {
  if (auto model = model_.lock()) model->limitsDidUpdate(id, limits);
}

std::vector<ProviderID> LimitsService::activeIDs() const {
  if (auto model = model_.lock()) return model->present();
  return {};
}

bool LimitsService::isEnabled(ProviderID id) const {
  const auto enabled = preferences_.enabledProviders();
  return std::find(enabled.begin(), enabled.end(), id) != enabled.end();
}

bool LimitsService::isActive(ProviderID id) const {
  return isEnabled(id) && (id != ProviderID::claude || preferences_.claudeLiveLimits());
}

std::optional<LimitsService::StateView> LimitsService::state(ProviderID id) const {
  const auto it = states_.find(id);
  if (it == states_.end()) return std::nullopt;
  const State& s = it->second;
  return StateView{s.lastAttempt, s.lastSuccess, s.lastStatus, s.currentDelay, s.inFlight,
                   s.scheduled && !s.scheduled->isCancelled()};
}

}  // namespace tokvane
