#include "tests/engine/support/ScriptedLimitsProvider.hpp"

#include <chrono>
#include <stdexcept>

namespace tokvane::testing {

ProviderLimits ScriptedLimitsProvider::fetch(Date now) {
  std::unique_lock lock(mutex_);
  times_.push_back(now);
  threads_.push_back(std::this_thread::get_id());
  ++waiting_;
  changed_.notify_all();
  changed_.wait(lock, [this] { return !held_; });
  --waiting_;

  Answer answer{ProviderLimits{}, false};
  if (!answers_.empty()) {
    answer = std::move(answers_.front());
    answers_.pop_front();
  }
  if (!answer.limits) throw std::runtime_error("scripted failure");
  ProviderLimits limits = std::move(*answer.limits);
  if (!answer.keepFetchedAt) limits.fetchedAt = now;
  return limits;
}

void ScriptedLimitsProvider::enqueue(ProviderLimits answer, bool keepFetchedAt) {
  std::lock_guard lock(mutex_);
  answers_.push_back(Answer{std::move(answer), keepFetchedAt});
}

void ScriptedLimitsProvider::enqueue(ProviderStatus status) {
  ProviderLimits limits;
  limits.status = status;
  enqueue(std::move(limits));
}

void ScriptedLimitsProvider::enqueueThrow() {
  std::lock_guard lock(mutex_);
  answers_.push_back(Answer{std::nullopt, false});
}

int ScriptedLimitsProvider::fetches() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(times_.size());
}

std::vector<Date> ScriptedLimitsProvider::fetchTimes() const {
  std::lock_guard lock(mutex_);
  return times_;
}

std::vector<std::thread::id> ScriptedLimitsProvider::fetchThreads() const {
  std::lock_guard lock(mutex_);
  return threads_;
}

void ScriptedLimitsProvider::hold() {
  std::lock_guard lock(mutex_);
  held_ = true;
}

void ScriptedLimitsProvider::release() {
  {
    std::lock_guard lock(mutex_);
    held_ = false;
  }
  changed_.notify_all();
}

bool ScriptedLimitsProvider::waitForWaiting(int count, int timeoutMs) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return waiting_ >= count; });
}

}  // namespace tokvane::testing
