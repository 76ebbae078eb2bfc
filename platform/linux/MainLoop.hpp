#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace tokvane {

// A plain main-thread loop: work posted from any thread runs, in order, on
// the thread that runs the loop.
class MainLoop {
 public:
  MainLoop();

  void post(std::function<void()> work);
  bool isLoopThread() const { return std::this_thread::get_id() == owner_.load(std::memory_order_relaxed); }

  // Runs posted work until quit() is called.
  void run();
  void quit();
  // Runs posted work until `done` holds (checked after each item) or the
  // timeout passes; returns whether `done` held.
  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  // Runs what is queued now (and what that posts) until the queue is empty.
  void drain();

 private:
  bool runOne(std::unique_lock<std::mutex>& lock);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  bool quit_ = false;
  // The thread that last ran the loop; any thread may ask.
  std::atomic<std::thread::id> owner_;
};

}  // namespace tokvane
