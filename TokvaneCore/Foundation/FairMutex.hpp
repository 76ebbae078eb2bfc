#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace tokvane {

// A mutex that lets its callers in strictly in the order they arrived, like
// a serial queue: a thread that takes it again right after letting it go
// queues behind every thread already waiting, so a caller that holds it in
// many short turns never starves the others. Its holder can ask whether
// anyone is waiting, to give way between two steps of a long task.
class FairMutex {
 public:
  void lock() {
    std::unique_lock guard(state_);
    const uint64_t ticket = nextTicket_++;
    turn_.wait(guard, [&] { return serving_ == ticket; });
  }

  void unlock() {
    {
      std::lock_guard guard(state_);
      ++serving_;
    }
    turn_.notify_all();
  }

  // The holder and the callers waiting behind it.
  uint64_t queued() {
    std::lock_guard guard(state_);
    return nextTicket_ - serving_;
  }
  // For the holder: whether another caller waits for its turn.
  bool othersWaiting() { return queued() > 1; }

 private:
  std::mutex state_;
  std::condition_variable turn_;
  uint64_t nextTicket_ = 0;
  uint64_t serving_ = 0;
};

}  // namespace tokvane
