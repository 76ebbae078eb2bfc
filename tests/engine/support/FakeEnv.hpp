#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Tokvane/Engine/Runtime/DistributedNotificationCenter.hpp"
#include "Tokvane/Engine/Runtime/Env.hpp"
#include "Tokvane/Engine/Runtime/WidgetCenter.hpp"

namespace tokvane::testing {

// The engine's surroundings under a test's control: a main queue that the
// test drains, a virtual clock that the test advances (timers fire in due
// order as it passes them), background work either run at once on the
// calling thread or on real threads, and captured log lines.
class FakeEnv final : public Env {
 public:
  enum class Background { inline_, threads };
  explicit FakeEnv(Date start = Date::fromUnix(1767225600), Background background = Background::inline_);
  ~FakeEnv() override;

  // Runs queued main-thread work (and what it queues) until none is left;
  // returns how many items ran. Must be called from the test's thread.
  int drain();
  // Drains, then waits for background threads and drains again, until the
  // main queue stays empty or `predicate` holds; gives up after `timeoutMs`.
  bool drainUntil(const std::function<bool()>& predicate, int timeoutMs = 10000);
  // Moves the clock forward, firing each timer that falls due (in order) and
  // draining the main queue after each.
  void advance(double seconds);
  void setNow(Date date);
  size_t pendingTimers() const;
  // Fire times of the pending timers, in seconds from now, soonest first.
  std::vector<double> pendingTimerDelays() const;

  std::vector<std::string> logLines() const;

  // Env
  void postToMain(std::function<void()> work) override;
  bool isMainThread() const override { return std::this_thread::get_id() == mainThread_; }
  Date now() override;
  std::shared_ptr<Cancellable> scheduleOnMain(double delaySeconds, std::function<void()> work) override;
  void runInBackground(std::function<void()> work) override;
  void log(std::string_view line) override;
  std::unique_ptr<FileEventStream> watchFiles(const std::vector<std::string>& roots, double latencySeconds,
                                              FileEventCallback onBatch) override;

  // The most recent stream made through watchFiles: its roots and a way for
  // a test to deliver a batch as the stream's thread would.
  struct WatchedStream {
    std::vector<std::string> roots;
    double latency = 0;
    FileEventCallback onBatch;
    bool alive = true;
  };
  std::shared_ptr<WatchedStream> lastStream() const;
  int streamsMade() const;

 private:
  struct Timer;
  bool runOneMain();

  mutable std::mutex mutex_;
  std::thread::id mainThread_;
  Date now_;
  Background background_;
  std::deque<std::function<void()>> mainQueue_;
  std::vector<std::shared_ptr<Timer>> timers_;
  uint64_t timerSequence_ = 0;
  std::vector<std::string> log_;
  std::vector<std::thread> threads_;
  int runningBackground_ = 0;
  std::shared_ptr<WatchedStream> lastStream_;
  int streamsMade_ = 0;
};

// Notifications and widget reloads, recorded.
class FakeNotificationCenter final : public DistributedNotificationCenter {
 public:
  explicit FakeNotificationCenter(Env& env) : env_(env) {}
  std::shared_ptr<Cancellable> observe(const std::string& name, std::function<void()> handler) override;
  void post(const std::string& name) override;
  int observers(const std::string& name) const;

 private:
  struct Observer;
  Env& env_;
  std::vector<std::shared_ptr<Observer>> observers_;
};

class FakeWidgetCenter final : public WidgetCenter {
 public:
  void reloadAllTimelines() override { ++reloads; }
  int reloads = 0;
};

}  // namespace tokvane::testing
