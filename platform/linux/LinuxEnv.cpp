#include "platform/linux/LinuxEnv.hpp"

#include <syslog.h>

#include <string>

#include "platform/linux/InotifyEventStream.hpp"

namespace tokvane {

LinuxEnv::LinuxEnv()
    : timers_(std::make_unique<TimerQueue>([this](std::function<void()> work) { postToMain(std::move(work)); })),
      background_(std::make_unique<ThreadPool>(4)) {
  openlog("tokvane", LOG_PID, LOG_USER);
}

LinuxEnv::~LinuxEnv() {
  // Stop producers before the loop they post to goes away.
  stopProducers();
}

void LinuxEnv::stopProducers() {
  timers_.reset();
  background_.reset();
}

void LinuxEnv::postToMain(std::function<void()> work) { mainLoop_.post(std::move(work)); }

bool LinuxEnv::isMainThread() const { return mainLoop_.isLoopThread(); }

Date LinuxEnv::now() { return Date::now(); }

std::shared_ptr<Cancellable> LinuxEnv::scheduleOnMain(double delaySeconds, std::function<void()> work) {
  return timers_->schedule(delaySeconds, std::move(work));
}

void LinuxEnv::runInBackground(std::function<void()> work) { background_->run(std::move(work)); }

void LinuxEnv::log(std::string_view line) {
  const std::string text(line);
  syslog(LOG_NOTICE, "%s", text.c_str());
}

std::unique_ptr<FileEventStream> LinuxEnv::watchFiles(const std::vector<std::string>& roots, double latencySeconds,
                                                      FileEventCallback onBatch) {
  return InotifyEventStream::start(roots, latencySeconds, std::move(onBatch));
}

}  // namespace tokvane
