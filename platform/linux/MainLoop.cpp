#include "platform/linux/MainLoop.hpp"

namespace tokvane {

MainLoop::MainLoop() : owner_(std::this_thread::get_id()) {}

void MainLoop::post(std::function<void()> work) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(work));
  }
  wake_.notify_all();
}

bool MainLoop::runOne(std::unique_lock<std::mutex>& lock) {
  if (queue_.empty()) return false;
  auto work = std::move(queue_.front());
  queue_.pop_front();
  lock.unlock();
  work();
  lock.lock();
  return true;
}

void MainLoop::run() {
  owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
  std::unique_lock lock(mutex_);
  quit_ = false;
  while (!quit_) {
    if (!runOne(lock)) wake_.wait(lock, [&] { return quit_ || !queue_.empty(); });
  }
}

void MainLoop::quit() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
}

bool MainLoop::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock lock(mutex_);
  while (true) {
    lock.unlock();
    if (done()) return true;
    lock.lock();
    if (runOne(lock)) continue;
    if (wake_.wait_until(lock, deadline, [&] { return !queue_.empty(); })) continue;
    lock.unlock();
    return done();
  }
}

void MainLoop::drain() {
  owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
  std::unique_lock lock(mutex_);
  while (runOne(lock)) {
  }
}

}  // namespace tokvane
