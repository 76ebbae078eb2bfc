#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "TokvaneCore/Foundation/FairMutex.hpp"

namespace tokvane {
namespace {

TEST(FairMutex, LetsCallersInInTheOrderTheyArrivedAndTellsTheHolderWhoWaits) {
  FairMutex mutex;
  std::vector<int> order;
  mutex.lock();
  EXPECT_FALSE(mutex.othersWaiting());
  // Each thread queues only after the one before it is waiting.
  std::vector<std::thread> threads;
  constexpr int callers = 5;
  for (int i = 0; i < callers; ++i) {
    threads.emplace_back([&, i] {
      std::lock_guard guard(mutex);
      order.push_back(i);
    });
    // The holder plus i + 1 waiters: wait until this one has taken its ticket.
    while (mutex.queued() < static_cast<uint64_t>(i) + 2) std::this_thread::yield();
    EXPECT_TRUE(mutex.othersWaiting());
  }
  // The holder lets go and at once asks again: it comes after every waiter.
  mutex.unlock();
  {
    std::lock_guard guard(mutex);
    order.push_back(callers);
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

}  // namespace
}  // namespace tokvane
