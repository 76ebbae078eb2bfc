#pragma once

#include <QObject>

#include "platform/linux/LinuxEnv.hpp"

namespace tokvane {

// The Linux runtime with its main thread on Qt's event loop: work posted to
// the main thread and scheduled work run as queued events of the thread that
// made this object (the GUI thread). Background work, the system log and the
// file watcher stay those of LinuxEnv.
class QtEnv final : public LinuxEnv {
 public:
  QtEnv();
  ~QtEnv() override;

  void postToMain(std::function<void()> work) override;
  bool isMainThread() const override;
  std::shared_ptr<Cancellable> scheduleOnMain(double delaySeconds, std::function<void()> work) override;

 private:
  // Lives on the main thread; queued calls are delivered through it.
  QObject* receiver_;
};

}  // namespace tokvane
