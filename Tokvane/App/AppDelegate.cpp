#include "Tokvane/App/AppDelegate.hpp"

#include <QDesktopServices>
#include <QUrl>
#include <cstdio>
#include <cstdlib>

#include "Tokvane/App/OpenRequest.hpp"
#include "Tokvane/App/PopoverToggle.hpp"
#include "Tokvane/Popover/PopoverController.hpp"
#include "VuroMenuBar/ClosureMenuItem.hpp"
#include "VuroMenuBar/MainMenu.hpp"
#include "VuroSettings/DockIcon.hpp"
#include "VuroSparkle/SparkleUpdater.hpp"
#include "platform/linux/JSONFileUserDefaults.hpp"
#include "platform/qt/DBusNotificationCenter.hpp"
#include "platform/qt/DBusWidgetCenter.hpp"
#include "platform/qt/QtEnv.hpp"

namespace tokvane {
namespace {

void quitNow() {
  // No teardown: the ledger's transactions and the snapshot's atomic write
  // keep everything whole.
  std::fflush(nullptr);
  std::_Exit(0);
}

// The maker's page of its other applications, in the default browser.
void openMakerSite() {
  QDesktopServices::openUrl(QUrl(QString::fromLatin1(Preferences::makerSiteLink.data(),
                                                     static_cast<qsizetype>(Preferences::makerSiteLink.size()))));
}

}  // namespace

AppDelegate::AppDelegate(Options options)
    : options_(std::move(options)), updater_(std::make_unique<vuro::SparkleUpdater>()) {
  if (!options_.quit) options_.quit = quitNow;
}

AppDelegate::~AppDelegate() {
  // The title's sources go before what they observe.
  statusTimer_.reset();
  titleObserver_.reset();
  statusItem_.reset();
  popover_.reset();
}

void AppDelegate::applicationDidFinishLaunching() {
  env_ = std::make_unique<QtEnv>();
  const std::filesystem::path file =
      options_.defaultsFile.empty() ? JSONFileUserDefaults::defaultFile() : options_.defaultsFile;
  defaults_ = std::make_unique<JSONFileUserDefaults>(file, [env = env_.get()](std::string_view line) { env->log(line); });
  preferences_ = std::make_unique<Preferences>(*defaults_);

  vuro::DockIcon::apply(preferences_->showDockIcon());
  mainMenu_ = vuro::MainMenu::make(QStringLiteral("Tokvane"), [this] { openSettings(); });
  if (!preferences_->hasCompletedOnboarding()) showOnboarding();
  buildModel();
  installStatusItem();
}

void AppDelegate::showOnboarding() {
  // The first-run window comes with the onboarding steps; until they exist
  // there is nothing to show.
}

void AppDelegate::finishOnboarding() {
  if (preferences_) preferences_->setHasCompletedOnboarding(true);
}

void AppDelegate::buildModel() {
  notifications_ = std::make_unique<DBusNotificationCenter>();
  widgets_ = std::make_unique<DBusWidgetCenter>();
  engine_ = tokvane::buildModel({*env_, *defaults_, *preferences_, *notifications_, *widgets_}, options_.engine);
}

void AppDelegate::installStatusItem() {
  AppModel& model = *engine_->model;
  Preferences& preferences = *preferences_;

  popover_ = std::make_unique<PopoverController>(model, preferences, [this] { openSettings(); }, engine_->locations);
  model.onOpenRequest = [this] { showPopover(); };

  statusItem_ = std::make_unique<MeterStatusItem>(
      model, preferences, [this] { togglePopover(); }, [this] { return statusMenu(); }, options_.makeBackend());

  auto compute = [&model, &preferences] {
    return StatusTitle::make(preferences, model.limits(), model.present(), Date::now());
  };
  auto apply = [this](const StatusTitle& title) {
    if (statusItem_) statusItem_->apply(title);
  };
  auto track = [&model, &preferences](std::function<void()> changed) {
    std::vector<std::shared_ptr<Subscription>> subscriptions;
    subscriptions.push_back(model.observe([changed](AppModel::Property property) {
      if (property == AppModel::Property::limits || property == AppModel::Property::present) changed();
    }));
    subscriptions.push_back(preferences.observe([changed](Preferences::Property property) {
      using P = Preferences::Property;
      switch (property) {
        case P::tintEnabled:
        case P::criticalThreshold:
        case P::warningThreshold:
        case P::pinnedProvider:
        case P::menuBarStyle:
        case P::showResetTime:
        case P::menuBarWindows:
        case P::providerOrder:
        case P::disabledProviders:
          changed();
          break;
        default:
          break;
      }
    }));
    return subscriptions;
  };
  auto post = [env = env_.get()](std::function<void()> work) { env->postToMain(std::move(work)); };
  titleObserver_ = std::make_unique<ObservingUpdater<StatusTitle>>(compute, apply, track, post);
  titleObserver_->arm();

  statusTimer_ = std::make_unique<QTimer>();
  statusTimer_->setInterval(titleTimerMilliseconds);
  connect(statusTimer_.get(), &QTimer::timeout, this, [this] {
    if (titleObserver_) titleObserver_->refresh();
  });
  statusTimer_->start();

  if (pendingOpen_) {
    pendingOpen_ = false;
    if (model.onOpenRequest) model.onOpenRequest();
  } else if (!statusItem_->hasHost()) {
    // No tray on this desktop: show the popover, or the user sees nothing.
    showPopover();
  }
}

void AppDelegate::showPopover() {
  if (!statusItem_ || !popover_) return;
  popover_->show(statusItem_->anchor());
}

void AppDelegate::applicationOpen(const QStringList& urls) {
  std::vector<std::string> texts;
  texts.reserve(static_cast<size_t>(urls.size()));
  for (const QString& url : urls) texts.push_back(url.toStdString());
  if (!firstOpenURL(texts)) return;
  AppModel* current = model();
  if (current && current->onOpenRequest) {
    current->onOpenRequest();
  } else {
    pendingOpen_ = true;
  }
}

void AppDelegate::activate() { applicationOpen({QString::fromLatin1(openURLText.data(), openURLText.size())}); }

void AppDelegate::togglePopover() {
  if (!statusItem_ || !popover_) return;
  switch (popoverToggle(popover_->isShown(), popover_->closedAt(), std::chrono::steady_clock::now())) {
    case PopoverToggle::close:
      popover_->close();
      break;
    case PopoverToggle::show:
      popover_->show(statusItem_->anchor());
      break;
    case PopoverToggle::nothing:
      break;
  }
}

std::unique_ptr<QMenu> AppDelegate::statusMenu() {
  auto menu = std::make_unique<QMenu>();
  // Hosts that show the text beside the icon open this menu on a left
  // click too: its first entry leads to the popover.
  if (statusItem_ && statusItem_->backend().hostShowsLabel()) {
    vuro::addItem(*menu, QStringLiteral("Open Tokvane"), QString(), vuro::weakly(this, [](AppDelegate& self) {
                    if (self.model() && self.model()->onOpenRequest) self.model()->onOpenRequest();
                  }));
    menu->addSeparator();
  }
  vuro::addItem(*menu, QStringLiteral("Refresh"), QStringLiteral("r"),
                vuro::weakly(this, [](AppDelegate& self) { self.refreshRequest(); }));
  vuro::addItem(*menu, QStringLiteral("Settings…"), QStringLiteral(","),
                vuro::weakly(this, [](AppDelegate& self) { self.openSettings(); }));
  menu->addSeparator();
  if (updater_->isAvailable()) {
    vuro::addItem(*menu, QStringLiteral("Check for Updates…"), QString(),
                  vuro::weakly(this, [](AppDelegate& self) { self.checkForUpdates(); }));
  }
  vuro::addItem(*menu, QStringLiteral("More Vuro apps…"), QString(), openMakerSite);
  menu->addSeparator();
  vuro::addItem(*menu, QStringLiteral("Quit Tokvane"), QStringLiteral("q"), [quit = options_.quit] { quit(); });
  return menu;
}

void AppDelegate::refreshRequest() {
  if (AppModel* current = model()) current->refresh(false);
}

void AppDelegate::openSettings() {
  // The settings window comes with the settings pages.
}

void AppDelegate::checkForUpdates() { updater_->checkForUpdates(); }

void AppDelegate::showMoreApps() { openMakerSite(); }

}  // namespace tokvane
