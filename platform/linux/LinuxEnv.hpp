#pragma once

#include <memory>

#include "Tokvane/Engine/Runtime/Env.hpp"
#include "platform/linux/MainLoop.hpp"
#include "platform/linux/ThreadPool.hpp"
#include "platform/linux/TimerQueue.hpp"

namespace tokvane {

// The engine's surroundings on Linux without a toolkit: a plain main loop,
// one timer thread, a small pool for background work, syslog(3) with the
// ident "tokvane" (journald keeps the lines) and inotify for file events.
// An application with its own event loop overrides the main-thread members.
class LinuxEnv : public Env {
 public:
  LinuxEnv();
  ~LinuxEnv() override;

  MainLoop& mainLoop() { return mainLoop_; }

  void postToMain(std::function<void()> work) override;
  bool isMainThread() const override;
  Date now() override;
  std::shared_ptr<Cancellable> scheduleOnMain(double delaySeconds, std::function<void()> work) override;
  void runInBackground(std::function<void()> work) override;
  void log(std::string_view line) override;
  std::unique_ptr<FileEventStream> watchFiles(const std::vector<std::string>& roots, double latencySeconds,
                                              FileEventCallback onBatch) override;

 protected:
  // Stops the timer thread and the background pool, waiting for the work
  // they are running. They post to the main thread through the overridable
  // members, so a subclass that overrides them calls this first in its
  // destructor, while its own part still stands.
  void stopProducers();

 private:
  MainLoop mainLoop_;
  std::unique_ptr<TimerQueue> timers_;
  std::unique_ptr<ThreadPool> background_;
};

}  // namespace tokvane
