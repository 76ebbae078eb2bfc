// The Qt runtime going away while background work still runs: the work
// that posts to the main thread meanwhile posts through the Qt runtime, not
// through a half-destroyed one, and nothing it posted runs afterwards.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "platform/qt/QtEnv.hpp"

namespace tokvane {
namespace {

TEST(QtEnv, BackgroundWorkThatPostsWhileTheRuntimeGoesIsWaitedFor) {
  auto ran = std::make_shared<std::atomic<int>>(0);
  auto posted = std::make_shared<std::atomic<int>>(0);
  {
    QtEnv env;
    for (int i = 0; i < 4; ++i) {
      env.runInBackground([&env, ran, posted] {
        // Still running when the destructor starts.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        env.postToMain([ran] { ran->fetch_add(1); });
        posted->fetch_add(1);
      });
    }
  }
  EXPECT_EQ(posted->load(), 4);
  QCoreApplication::processEvents();
  EXPECT_EQ(ran->load(), 0);
}

}  // namespace
}  // namespace tokvane
