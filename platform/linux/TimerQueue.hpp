#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

#include "Tokvane/Engine/Runtime/Env.hpp"

namespace tokvane {

// One thread that waits for timers and hands each due one to `dispatch`
// (which posts it to the main thread). Cancelled timers never run.
class TimerQueue {
 public:
  using Dispatch = std::function<void(std::function<void()>)>;
  explicit TimerQueue(Dispatch dispatch);
  ~TimerQueue();
  TimerQueue(const TimerQueue&) = delete;
  TimerQueue& operator=(const TimerQueue&) = delete;

  std::shared_ptr<Cancellable> schedule(double delaySeconds, std::function<void()> work);

 private:
  struct Entry;
  void run();

  Dispatch dispatch_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<std::shared_ptr<Entry>> heap_;
  uint64_t sequence_ = 0;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tokvane
