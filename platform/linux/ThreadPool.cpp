#include "platform/linux/ThreadPool.hpp"

namespace tokvane {

ThreadPool::ThreadPool(unsigned threads) {
  if (threads == 0) threads = 1;
  for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { work(); });
}

ThreadPool::~ThreadPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (auto& thread : threads_) thread.join();
}

void ThreadPool::run(std::function<void()> item) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(item));
  }
  wake_.notify_one();
}

void ThreadPool::work() {
  std::unique_lock lock(mutex_);
  while (true) {
    wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;
    auto item = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    item();
    lock.lock();
  }
}

}  // namespace tokvane
