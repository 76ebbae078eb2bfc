#include "platform/linux/TimerQueue.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace tokvane {

namespace {

class Token final : public Cancellable {
 public:
  void cancel() override { cancelled_.store(true); }
  bool isCancelled() const override { return cancelled_.load(); }

 private:
  std::atomic<bool> cancelled_{false};
};

// Delays are clamped to something a clock can hold: negative or NaN runs at
// once, absurdly long ones wait about a year.
std::chrono::steady_clock::duration toDuration(double seconds) {
  if (!(seconds > 0)) seconds = 0;
  seconds = std::min(seconds, 3.2e7);
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
}

}  // namespace

struct TimerQueue::Entry {
  std::chrono::steady_clock::time_point due;
  uint64_t sequence;
  std::shared_ptr<Token> token;
  std::function<void()> work;
};

namespace {
struct Later {
  template <typename E>
  bool operator()(const std::shared_ptr<E>& a, const std::shared_ptr<E>& b) const {
    return a->due != b->due ? a->due > b->due : a->sequence > b->sequence;
  }
};
}  // namespace

TimerQueue::TimerQueue(Dispatch dispatch) : dispatch_(std::move(dispatch)), thread_([this] { run(); }) {}

TimerQueue::~TimerQueue() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

std::shared_ptr<Cancellable> TimerQueue::schedule(double delaySeconds, std::function<void()> work) {
  auto token = std::make_shared<Token>();
  {
    std::lock_guard lock(mutex_);
    auto entry = std::make_shared<Entry>(
        Entry{std::chrono::steady_clock::now() + toDuration(delaySeconds), sequence_++, token, std::move(work)});
    heap_.push_back(std::move(entry));
    std::push_heap(heap_.begin(), heap_.end(), Later{});
  }
  wake_.notify_all();
  return token;
}

void TimerQueue::run() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (heap_.empty()) {
      wake_.wait(lock);
      continue;
    }
    const auto due = heap_.front()->due;
    if (std::chrono::steady_clock::now() < due) {
      wake_.wait_until(lock, due);
      continue;
    }
    std::pop_heap(heap_.begin(), heap_.end(), Later{});
    auto entry = std::move(heap_.back());
    heap_.pop_back();
    if (entry->token->isCancelled()) continue;
    lock.unlock();
    dispatch_([token = entry->token, work = std::move(entry->work)] {
      if (!token->isCancelled()) work();
    });
    lock.lock();
  }
}

}  // namespace tokvane
