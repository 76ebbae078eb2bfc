// tokvane-headless: runs the engine without an interface, on LinuxEnv's main
// loop, until SIGINT or SIGTERM. It indexes the logs under $HOME, keeps the
// ledger and the widget snapshot up to date, fetches the live limits and
// prints one line per publish.

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "Tokvane/Engine/Model/EngineComposition.hpp"
#include "TokvaneCore/Foundation/ISO8601.hpp"
#include "platform/linux/JSONFileUserDefaults.hpp"
#include "platform/linux/LinuxEnv.hpp"

namespace {

using namespace tokvane;

// There is no widget program to notify and no other program posting refresh
// requests.
class NoNotifications final : public DistributedNotificationCenter {
 public:
  std::shared_ptr<Cancellable> observe(const std::string&, std::function<void()>) override { return nullptr; }
  void post(const std::string&) override {}
};

class NoWidgets final : public WidgetCenter {
 public:
  void reloadAllTimelines() override {}
};

}  // namespace

int main() {
  // A shell may start a background program with SIGINT ignored; this one is
  // meant to stop on it. Blocked before any thread starts, so only the
  // waiting thread below takes them.
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  LinuxEnv env;
  JSONFileUserDefaults defaults(JSONFileUserDefaults::defaultFile(), [&env](std::string_view line) { env.log(line); });
  Preferences preferences(defaults);
  NoNotifications notifications;
  NoWidgets widgets;

  std::unique_ptr<Engine> engine = buildModel({env, defaults, preferences, notifications, widgets});
  AppModel& model = *engine->model;
  auto printer = model.observe([&model](AppModel::Property property) {
    if (property != AppModel::Property::lastUpdated || !model.lastUpdated()) return;
    const UsageSummary& summary = model.summary();
    std::printf("%s  %d days: $%.2f, %lld tokens, %zu providers with limits\n",
                ISO8601::format(*model.lastUpdated()).c_str(), summary.days, summary.totalCostUSD,
                static_cast<long long>(summary.tokens.processed()), model.limits().size());
    std::fflush(stdout);
  });

  std::thread signalWaiter([&env, stopSignals] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    env.mainLoop().quit();
  });
  signalWaiter.detach();

  env.mainLoop().run();

  // The engine has no stop step: a fetch or an index chunk in flight simply
  // ends with the process, and the ledger's transactions and the snapshot's
  // atomic write keep both whole.
  std::fflush(stdout);
  std::_Exit(0);
}
