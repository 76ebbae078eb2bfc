#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "TokvaneCore/Providers/LimitsProvider.hpp"

namespace tokvane::testing {

// A limits provider that answers from a queue a test fills: each fetch takes
// the next answer (when the queue is empty, an ok answer without windows),
// stamped with the fetch's time unless it was queued to be kept as is. It
// records every fetch (time and thread) and, while held, makes fetches wait
// until released, so that a test can look at a fetch in flight. Safe to call
// from several threads.
class ScriptedLimitsProvider final : public LimitsProvider {
 public:
  explicit ScriptedLimitsProvider(ProviderID id) : id_(id) {}

  ProviderID id() const override { return id_; }
  ProviderLimits fetch(Date now) override;

  // Queues an answer; its fetchedAt becomes the fetch's time unless
  // `keepFetchedAt` is set.
  void enqueue(ProviderLimits answer, bool keepFetchedAt = false);
  // Queues a bare answer with this status: no plan, windows or credits.
  void enqueue(ProviderStatus status);
  // Queues a fetch that throws, breaking the providers' contract.
  void enqueueThrow();

  int fetches() const;
  std::vector<Date> fetchTimes() const;
  std::vector<std::thread::id> fetchThreads() const;

  // From now on fetches wait until release().
  void hold();
  void release();
  // Waits until `count` fetches are waiting on the hold; false on timeout.
  bool waitForWaiting(int count, int timeoutMs = 5000);

 private:
  struct Answer {
    std::optional<ProviderLimits> limits;  // none: throw
    bool keepFetchedAt = false;
  };

  const ProviderID id_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Answer> answers_;
  std::vector<Date> times_;
  std::vector<std::thread::id> threads_;
  bool held_ = false;
  int waiting_ = 0;
};

}  // namespace tokvane::testing
