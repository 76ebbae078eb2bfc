#pragma once

#include <QMenu>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>

#include "Tokvane/App/ObservingUpdater.hpp"
#include "Tokvane/Engine/Model/EngineComposition.hpp"
#include "Tokvane/StatusItem/MeterStatusItem.hpp"
#include "Tokvane/StatusItem/StatusTitle.hpp"
#include "VuroUpdates/Updater.hpp"

namespace tokvane {

class PopoverController;
class QtEnv;
class DBusNotificationCenter;
class DBusWidgetCenter;

// The application's composition root. When launching finishes it takes the
// preferences, applies the taskbar preference, makes the main menu, opens
// the first-run window when onboarding never completed, builds the model
// and installs the popover, the status item, the title observer and the
// 30-second title timer; it answers the status item's clicks and menu, and
// the requests to open the popover. Main thread only.
class AppDelegate final : public QObject {
  Q_OBJECT
 public:
  // What the surroundings decide: where the engine finds its files and the
  // providers, where the settings live and which tray backend is used.
  struct Options {
    EngineConfiguration engine;
    std::filesystem::path defaultsFile;  // empty: the user's defaults file
    std::function<std::unique_ptr<StatusItemBackend>()> makeBackend = MeterStatusItem::makeBackend;
    // What quitting does (the process ends at once, with no teardown).
    std::function<void()> quit;
  };

  static constexpr int titleTimerMilliseconds = 30'000;

  explicit AppDelegate(Options options);
  ~AppDelegate() override;

  // The launch sequence.
  void applicationDidFinishLaunching();
  // Addresses the desktop asks the program to open: the first
  // "tokvane://open" opens the popover, or is kept until it can.
  void applicationOpen(const QStringList& urls);
  // A launch without an address (a second start, the launcher): shows the
  // popover, so the program is never invisible.
  void activate();

  // The status item's click: closes a shown popover, else opens it unless it
  // closed a moment ago.
  void togglePopover();
  // The status menu, new for each opening.
  std::unique_ptr<QMenu> statusMenu();
  void refreshRequest();
  void openSettings();
  void checkForUpdates();
  void showMoreApps();

  // What the delegate holds.
  AppModel* model() const { return engine_ ? engine_->model.get() : nullptr; }
  Engine* engine() const { return engine_.get(); }
  Preferences* preferences() const { return preferences_.get(); }
  MeterStatusItem* statusItem() const { return statusItem_.get(); }
  PopoverController* popover() const { return popover_.get(); }
  const ObservingUpdater<StatusTitle>* titleObserver() const { return titleObserver_.get(); }
  const QTimer* statusTimer() const { return statusTimer_.get(); }
  bool pendingOpen() const { return pendingOpen_; }
  QMenu* mainMenu() const { return mainMenu_.get(); }

 private:
  void showOnboarding();
  void finishOnboarding();
  void buildModel();
  void installStatusItem();
  void showPopover();

  Options options_;
  std::unique_ptr<vuro::Updater> updater_;
  std::unique_ptr<QtEnv> env_;
  std::unique_ptr<UserDefaults> defaults_;
  std::unique_ptr<Preferences> preferences_;
  std::unique_ptr<DBusNotificationCenter> notifications_;
  std::unique_ptr<DBusWidgetCenter> widgets_;
  std::unique_ptr<QMenu> mainMenu_;
  std::unique_ptr<Engine> engine_;
  std::unique_ptr<PopoverController> popover_;
  std::unique_ptr<MeterStatusItem> statusItem_;
  std::unique_ptr<ObservingUpdater<StatusTitle>> titleObserver_;
  std::unique_ptr<QTimer> statusTimer_;
  bool pendingOpen_ = false;
};

}  // namespace tokvane
