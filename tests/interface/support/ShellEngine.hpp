#pragma once

// The engine as the shell builds it, on Qt's loop, over a temporary home in
// which the given providers are present, with no reachable provider.

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "Tokvane/Engine/Model/EngineComposition.hpp"
#include "Tokvane/Engine/Settings/UserDefaults.hpp"
#include "platform/qt/QtEnv.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane::testing {

// Runs Qt's loop in short slices until `done` holds or the time is up.
inline bool pumpUntil(const std::function<bool()>& done, int milliseconds = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return true;
}

class NoNotificationCenter final : public DistributedNotificationCenter {
 public:
  std::shared_ptr<Cancellable> observe(const std::string&, std::function<void()>) override { return nullptr; }
  void post(const std::string&) override {}
};

class NoWidgetCenter final : public WidgetCenter {
 public:
  void reloadAllTimelines() override {}
};

class ShellEngine {
 public:
  explicit ShellEngine(const std::vector<ProviderID>& present) {
    for (ProviderID id : present) {
      switch (id) {
        case ProviderID::claude: std::filesystem::create_directories(home / ".claude" / "projects"); break;
        case ProviderID::codex: std::filesystem::create_directories(home / ".codex" / "sessions"); break;
        case ProviderID::grok: std::filesystem::create_directories(home / ".grok" / "sessions"); break;
        case ProviderID::cursor: break;
      }
    }
    EngineConfiguration configuration;
    configuration.home = home.path();
    configuration.dataHome = data.path();
    configuration.snapshotContainer = data / "container";
    configuration.securityTool = data / "no-such-tool";
    // A closed port: every fetch fails at once.
    configuration.claudeBaseURL = "http://127.0.0.1:9";
    configuration.codexBaseURL = "http://127.0.0.1:9";
    engine = buildModel({env, defaults, preferences, notifications, widgets}, configuration);
  }

  ~ShellEngine() {
    // Let the first index, publishes and fetches end before the engine goes.
    pumpUntil([this] {
      if (!engine->model->watcher() || engine->model->isPublishing()) return false;
      for (ProviderID id : allProviders) {
        if (const auto state = engine->limitsService->state(id); state && state->inFlight) return false;
      }
      return true;
    });
    engine.reset();
    QCoreApplication::processEvents();
  }

  AppModel& model() { return *engine->model; }

  TempDir home;
  TempDir data;
  QtEnv env;
  InMemoryUserDefaults defaults;
  Preferences preferences{defaults};
  NoNotificationCenter notifications;
  NoWidgetCenter widgets;
  std::unique_ptr<Engine> engine;
};

}  // namespace tokvane::testing
