// The tray program on a desktop: the status item against a watcher and host
// of our own on a private session bus (its registration, label, tooltip,
// icon, Activate, Scroll and exported menu), the popover it opens, one
// instance per user with "tokvane://open" from a second launch, and the
// whole program over a temporary home with logs and a local server.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QWidget>
#include <QUrl>
#include <chrono>
#include <filesystem>
#include <optional>

#include "Tokvane/App/AppDelegate.hpp"
#include "Tokvane/App/SingleInstance.hpp"
#include "Tokvane/Popover/PopoverController.hpp"
#include "Tokvane/StatusItem/StatusNotifierItem.hpp"
#include "Tokvane/StatusItem/StatusNotifierTypes.hpp"
#include "Tokvane/StatusItem/SystemTrayItem.hpp"
#include "platform/qt/DBusNotificationCenter.hpp"
#include "platform/qt/DBusWidgetCenter.hpp"
#include "platform/qt/SessionBusNames.hpp"
#include "TokvaneCore/Foundation/ISO8601.hpp"
#include "TokvaneCore/Snapshot/SnapshotStore.hpp"
#include "tests/desktop/support/TestStatusWatcher.hpp"
#include "tests/interface/support/ShellEngine.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/TestHTTPServer.hpp"

namespace tokvane {
namespace {

namespace fs = std::filesystem;
using testing::CannedResponse;
using testing::pumpUntil;
using testing::RecordedRequest;
using testing::TempDir;
using testing::TestHTTPServer;
using testing::TestStatusWatcher;
using testing::writeFile;

const QString itemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString itemPath = QStringLiteral("/StatusNotifierItem");
const QString menuPath = QStringLiteral("/MenuBar");
const QString menuInterface = QStringLiteral("com.canonical.dbusmenu");

std::string base64URL(std::string_view bytes) {
  static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  unsigned buffer = 0;
  int bits = 0;
  for (unsigned char byte : bytes) {
    buffer = (buffer << 8) | byte;
    bits += 8;
    while (bits >= 6) {
      bits -= 6;
      out += alphabet[(buffer >> bits) & 63];
    }
  }
  if (bits > 0) out += alphabet[(buffer << (6 - bits)) & 63];
  return out;
}

std::string tokenExpiringAt(Date expiry) {
  const std::string payload =
      "{\"sub\":\"user\",\"exp\":" + std::to_string(static_cast<long long>(expiry.unixSeconds())) + "}";
  return base64URL(R"({"alg":"RS256","typ":"JWT"})") + "." + base64URL(payload) + ".c2ln";
}

// A home with Claude Code's and Codex's logs and logins, and a server that
// answers both providers: Claude 40 % used (60 % left), Codex 12.5 % used.
class ProviderWorld {
 public:
  ProviderWorld() {
    if (const char* old = getenv("HOME")) savedHome_ = old;
    setenv("HOME", home.path().c_str(), 1);
    const Date now = Date::now();
    const Date used = now - 1800;
    writeFile(home / ".claude" / "projects" / "demo" / "session.jsonl",
              R"({"type":"assistant","sessionId":"s1","timestamp":")" + ISO8601::format(used) +
                  R"(","message":{"id":"msg-a","model":"claude-sonnet-4-5","usage":{"input_tokens":1000000,"output_tokens":100000}}})"
                  "\n");
    writeFile(home / ".claude" / ".credentials.json",
              R"({"claudeAiOauth":{"accessToken":"claude-token-1","expiresAt":)" +
                  std::to_string(static_cast<long long>((now + 86400).unixSeconds() * 1000)) +
                  R"(,"subscriptionType":"max"}})");
    writeFile(home / ".codex" / "sessions" / "2026" / "rollout-1.jsonl",
              R"({"timestamp":")" + ISO8601::format(used - 60) +
                  R"(","type":"session_meta","payload":{"id":"codex-1"}})" "\n" R"({"timestamp":")" +
                  ISO8601::format(used - 30) + R"(","type":"turn_context","payload":{"model":"gpt-5"}})" "\n" +
                  R"({"timestamp":")" + ISO8601::format(used) +
                  R"(","type":"token_usage_record","payload":{"response_id":"r1","usage":{"input_tokens":800000,"output_tokens":10000}}})"
                  "\n");
    writeFile(home / ".codex" / "auth.json", R"({"tokens":{"access_token":")" + tokenExpiringAt(now + 86400) +
                                                 R"(","account_id":"acct-9"}})");
    const std::string resetsSoon = ISO8601::format(now + 3600);
    const std::string codexReset = std::to_string(static_cast<long long>((now + 3600).unixSeconds()));
    server.respondWith([resetsSoon, codexReset](const RecordedRequest& request) {
      if (request.path == "/api/oauth/usage")
        return CannedResponse{200, {}, R"({"five_hour":{"utilization":40,"resets_at":")" + resetsSoon +
                                           R"("},"seven_day":{"utilization":20}})"};
      if (request.path == "/backend-api/wham/usage")
        return CannedResponse{200, {},
                              R"({"plan_type":"plus","rate_limit":{"allowed":true,"primary_window":{"used_percent":12.5,)"
                              R"("limit_window_seconds":18000,"reset_at":)" + codexReset + "}}}"};
      return CannedResponse{404, {}, "{}"};
    });
  }
  ~ProviderWorld() {
    if (savedHome_) setenv("HOME", savedHome_->c_str(), 1);
  }

  EngineConfiguration configuration() const {
    EngineConfiguration c;
    c.home = home.path();
    c.dataHome = data.path();
    c.snapshotContainer = data / "container";
    c.securityTool = fs::path(TOKVANE_BIN_DIR) / "tokvane-security";
    c.claudeBaseURL = server.baseURL();
    c.codexBaseURL = server.baseURL();
    return c;
  }

  TempDir home;
  TempDir data;
  TestHTTPServer server;

 private:
  std::optional<std::string> savedHome_;
};

// Records the addresses the program asks the desktop to open.
class URLRecorder final : public QObject {
  Q_OBJECT
 public:
  URLRecorder() {
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open");
  }
  ~URLRecorder() override {
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
  }
  QList<QUrl> opened;
 public Q_SLOTS:
  void open(const QUrl& url) { opened.append(url); }
};

// Counts a signal heard on another connection.
class SignalCounter final : public QObject {
  Q_OBJECT
 public:
  int count = 0;
 public Q_SLOTS:
  void heard() { ++count; }
};

TEST(SessionBusBindings, TheRefreshNotificationAndTheWidgetReloadTravelOnTheBus) {
  QDBusConnection other = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("poster"));
  ASSERT_TRUE(other.isConnected());
  DBusNotificationCenter center;
  int refreshes = 0;
  auto token = center.observe("app.tokvane.refresh", [&] { ++refreshes; });
  auto post = [&](const QString& name) {
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/app/tokvane/Notifications"),
                                                     QStringLiteral("app.tokvane.Notifications"),
                                                     QStringLiteral("Posted"));
    signal << name;
    other.send(signal);
  };
  post(QStringLiteral("app.tokvane.refresh"));
  post(QStringLiteral("app.tokvane.other"));
  EXPECT_TRUE(pumpUntil([&] { return refreshes == 1; }));
  pumpUntil([] { return false; }, 100);
  EXPECT_EQ(refreshes, 1);
  // Its own posts reach it too, as any sender's do.
  center.post("app.tokvane.refresh");
  EXPECT_TRUE(pumpUntil([&] { return refreshes == 2; }));
  token->cancel();
  post(QStringLiteral("app.tokvane.refresh"));
  pumpUntil([] { return false; }, 100);
  EXPECT_EQ(refreshes, 2);

  SignalCounter reloads;
  ASSERT_TRUE(other.connect(QString(), QStringLiteral("/app/tokvane/Widgets"), QStringLiteral("app.tokvane.Widgets"),
                            QStringLiteral("ReloadAllTimelines"), &reloads, SLOT(heard())));
  DBusWidgetCenter widgets;
  widgets.reloadAllTimelines();
  EXPECT_TRUE(pumpUntil([&] { return reloads.count == 1; }));
  QDBusConnection::disconnectFromBus(QStringLiteral("poster"));
}

class ShellOnDesktop : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs the xcb platform";
    registerStatusNotifierTypes();
  }

  // Starts the program's delegate in this process, its status item on the
  // session bus; with a watcher, waits until the item registered.
  void launch(std::optional<bool> labelHost, bool ownBackend = true) {
    if (labelHost) watcher = std::make_unique<TestStatusWatcher>(*labelHost);
    AppDelegate::Options options;
    options.engine = world.configuration();
    options.defaultsFile = world.data / "defaults.json";
    if (ownBackend) options.makeBackend = [] { return std::make_unique<StatusNotifierItem>(); };
    options.quit = [this] { ++quits; };
    delegate = std::make_unique<AppDelegate>(std::move(options));
    delegate->applicationDidFinishLaunching();
    if (labelHost) {
      ASSERT_TRUE(pumpUntil([&] { return !watcher->registrations().isEmpty(); }));
      service = watcher->registrations().constFirst();
    }
  }

  void TearDown() override {
    if (delegate && delegate->engine()) {
      Engine& engine = *delegate->engine();
      pumpUntil([&] {
        if (!engine.model->watcher() || engine.model->isPublishing()) return false;
        for (ProviderID id : allProviders) {
          if (const auto state = engine.limitsService->state(id); state && state->inFlight) return false;
        }
        return true;
      });
    }
    delegate.reset();
    watcher.reset();
    QCoreApplication::processEvents();
  }

  QVariant item(const QString& name) { return watcher->itemProperty(service, name); }
  QString label() { return item(QStringLiteral("XAyatanaLabel")).toString(); }
  SNIToolTip tooltip() { return qdbus_cast<SNIToolTip>(item(QStringLiteral("ToolTip"))); }
  SNIIconPixmapList pixmaps() { return qdbus_cast<SNIIconPixmapList>(item(QStringLiteral("IconPixmap"))); }
  QDBusMessage callItem(const QString& method, const QVariantList& arguments) {
    return watcher->call(service, itemPath, itemInterface, method, arguments);
  }
  bool popoverShown() { return delegate->popover() && delegate->popover()->isShown(); }
  bool limitsArrived() {
    const auto& limits = delegate->model()->limits();
    return limits.count(ProviderID::claude) && !limits.at(ProviderID::claude).windows.empty() &&
           limits.count(ProviderID::codex) && !limits.at(ProviderID::codex).windows.empty();
  }
  bool waitForLabel(const QString& prefix) {
    return pumpUntil([&] { return label().startsWith(prefix); });
  }

  // The menu's entries as the host reads them: labels, "-" for separators.
  QStringList menuEntries(QList<int>* ids = nullptr) {
    const QDBusMessage reply =
        watcher->call(service, menuPath, menuInterface, QStringLiteral("GetLayout"), {0, -1, QStringList()});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2) return {QStringLiteral("error")};
    const DBusMenuLayoutItem layout = qdbus_cast<DBusMenuLayoutItem>(reply.arguments().at(1));
    QStringList entries;
    for (const DBusMenuLayoutItem& child : layout.children) {
      if (ids) ids->append(child.id);
      entries << (child.properties.value(QStringLiteral("type")).toString() == QLatin1String("separator")
                      ? QStringLiteral("-")
                      : child.properties.value(QStringLiteral("label")).toString());
    }
    return entries;
  }
  void clickEntry(const QString& entry) {
    QList<int> ids;
    const QStringList entries = menuEntries(&ids);
    const qsizetype index = entries.indexOf(entry);
    ASSERT_GE(index, 0) << entry.toStdString();
    const QDBusMessage reply = watcher->call(service, menuPath, menuInterface, QStringLiteral("Event"),
                                             {ids.at(index), QStringLiteral("clicked"),
                                              QVariant::fromValue(QDBusVariant(QVariant(0))), 0u});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
  }

  ProviderWorld world;
  std::unique_ptr<TestStatusWatcher> watcher;
  std::unique_ptr<AppDelegate> delegate;
  QString service;
  int quits = 0;
};

TEST_F(ShellOnDesktop, TheItemRegistersAndRegistersAgainWhenTheWatcherRestarts) {
  launch(false);
  EXPECT_TRUE(service.startsWith(QStringLiteral("org.kde.StatusNotifierItem-")));
  EXPECT_EQ(item(QStringLiteral("Id")).toString(), QStringLiteral("tokvane"));
  EXPECT_EQ(item(QStringLiteral("Status")).toString(), QStringLiteral("Active"));
  EXPECT_EQ(qvariant_cast<QDBusObjectPath>(item(QStringLiteral("Menu"))).path(), menuPath);
  EXPECT_FALSE(item(QStringLiteral("ItemIsMenu")).toBool());
  EXPECT_TRUE(delegate->statusItem()->hasHost());
  // No tray host means no item: the popover did not open by itself.
  EXPECT_FALSE(popoverShown());

  watcher->stop();
  ASSERT_TRUE(pumpUntil([&] { return !delegate->statusItem()->hasHost(); }));
  watcher->start();
  ASSERT_TRUE(pumpUntil([&] { return watcher->registrations().size() == 2; }));
  EXPECT_EQ(watcher->registrations().at(1), service);
  EXPECT_TRUE(pumpUntil([&] { return delegate->statusItem()->hasHost(); }));
}

TEST_F(ShellOnDesktop, LabelTooltipAndIconFollowTheLimitsWithinOneTurn) {
  launch(true);
  ASSERT_TRUE(pumpUntil([&] { return limitsArrived(); }));
  ASSERT_TRUE(waitForLabel(QStringLiteral("60% · ")));
  const SNIToolTip tip = tooltip();
  EXPECT_TRUE(tip.title.startsWith(QStringLiteral("Claude · ")));
  EXPECT_TRUE(tip.title.contains(QStringLiteral("\nCodex · ")));
  const QString iconBefore = item(QStringLiteral("IconName")).toString();
  EXPECT_TRUE(iconBefore.endsWith(QStringLiteral("-symbolic")));  // normal state on a label host
  const SNIIconPixmapList pixmapsBefore = pixmaps();
  ASSERT_FALSE(pixmapsBefore.isEmpty());
  const int labelSignals = watcher->signalCount(QStringLiteral("XAyatanaNewLabel"));
  const int iconSignals = watcher->signalCount(QStringLiteral("NewIcon"));

  // Claude falls to 5 % left: critical.
  ProviderLimits low = delegate->model()->limits().at(ProviderID::claude);
  low.windows[0].usedFraction = 0.95;
  delegate->model()->limitsDidUpdate(ProviderID::claude, low);
  QCoreApplication::processEvents();  // one turn of the main loop
  ASSERT_TRUE(delegate->statusItem()->current().has_value());
  EXPECT_TRUE(delegate->statusItem()->current()->text->starts_with("5% · "));
  EXPECT_EQ(delegate->statusItem()->current()->severity, Severity::critical);

  EXPECT_TRUE(label().startsWith(QStringLiteral("5% · ")));
  EXPECT_TRUE(tooltip().title.startsWith(QStringLiteral("Claude · Session 5% left")) ||
              tooltip().title.contains(QStringLiteral(" 5% left")));
  const QString iconAfter = item(QStringLiteral("IconName")).toString();
  EXPECT_NE(iconAfter, iconBefore);
  EXPECT_FALSE(iconAfter.endsWith(QStringLiteral("-symbolic")));  // tinted red, not recoloured
  EXPECT_TRUE(fs::exists(fs::path(item(QStringLiteral("IconThemePath")).toString().toStdString()) /
                         (iconAfter.toStdString() + ".png")));
  EXPECT_NE(pixmaps().constFirst().bytes, pixmapsBefore.constFirst().bytes);
  EXPECT_TRUE(pumpUntil([&] {
    return watcher->signalCount(QStringLiteral("XAyatanaNewLabel")) > labelSignals &&
           watcher->signalCount(QStringLiteral("NewIcon")) > iconSignals;
  }));
}

TEST_F(ShellOnDesktop, HostsWithoutLabelsGetTheNumberInTheIcon) {
  launch(false);
  ASSERT_TRUE(pumpUntil([&] { return limitsArrived(); }));
  ASSERT_TRUE(waitForLabel(QStringLiteral("60% · ")));
  EXPECT_FALSE(item(QStringLiteral("IconName")).toString().endsWith(QStringLiteral("-symbolic")));
  // The chip: an opaque square, where a glyph leaves most pixels clear.
  const SNIIconPixmapList list = pixmaps();
  ASSERT_FALSE(list.isEmpty());
  const QImage image = list.constLast().toImage();
  int opaque = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) opaque += qAlpha(image.pixel(x, y)) == 255;
  EXPECT_GT(opaque, image.width() * image.height() * 7 / 10);
  EXPECT_EQ(delegate->statusItem()->backend().hostShowsLabel(), false);
}

TEST_F(ShellOnDesktop, ActivateTogglesThePopoverWithTheReopenGuard) {
  launch(false);
  ASSERT_EQ(callItem(QStringLiteral("Activate"), {640, 0}).type(), QDBusMessage::ReplyMessage);
  ASSERT_TRUE(pumpUntil([&] { return popoverShown(); }));
  // Opened below the point on the screen's top edge, inside the work area.
  const QWidget* window = delegate->popover()->window();
  const QRect area = window->screen()->availableGeometry();
  EXPECT_TRUE(area.contains(window->frameGeometry())) << window->x() << "," << window->y();

  callItem(QStringLiteral("Activate"), {640, 0});
  ASSERT_TRUE(pumpUntil([&] { return !popoverShown(); }));
  // At once again: the click that closed it does not reopen it.
  callItem(QStringLiteral("Activate"), {640, 0});
  pumpUntil([] { return false; }, 100);
  EXPECT_FALSE(popoverShown());
  pumpUntil([] { return false; }, 300);
  callItem(QStringLiteral("Activate"), {640, 0});
  EXPECT_TRUE(pumpUntil([&] { return popoverShown(); }));
}

TEST_F(ShellOnDesktop, ScrollStepsThePinnedProvider) {
  launch(true);
  ASSERT_TRUE(pumpUntil([&] { return limitsArrived(); }));
  ASSERT_TRUE(waitForLabel(QStringLiteral("60% · ")));
  ASSERT_EQ(delegate->model()->present(), (std::vector<ProviderID>{ProviderID::claude, ProviderID::codex}));
  callItem(QStringLiteral("Scroll"), {120, QStringLiteral("vertical")});
  ASSERT_TRUE(pumpUntil([&] { return delegate->preferences()->pinnedProvider() == ProviderID::codex; }));
  EXPECT_TRUE(waitForLabel(QStringLiteral("88% · ")));
  // The same gesture does not step again; one after the gap does.
  callItem(QStringLiteral("Scroll"), {120, QStringLiteral("vertical")});
  pumpUntil([] { return false; }, 50);
  EXPECT_EQ(delegate->preferences()->pinnedProvider(), ProviderID::codex);
  pumpUntil([] { return false; }, 400);
  callItem(QStringLiteral("Scroll"), {-1, QStringLiteral("horizontal")});
  EXPECT_TRUE(pumpUntil([&] { return delegate->preferences()->pinnedProvider() == ProviderID::claude; }));
  EXPECT_TRUE(waitForLabel(QStringLiteral("60% · ")));
}

TEST_F(ShellOnDesktop, TheMenuIsTheStatusMenuBuiltAfreshWithItsActions) {
  launch(false);
  URLRecorder urls;
  const QStringList expected{QStringLiteral("Refresh"), QStringLiteral("Settings…"), QStringLiteral("-"),
                             QStringLiteral("Check for Updates…"), QStringLiteral("More Vuro apps…"),
                             QStringLiteral("-"), QStringLiteral("Quit Tokvane")};
  EXPECT_EQ(menuEntries(), expected);
  // Each opening builds it again.
  const int layouts = watcher->signalCount(QStringLiteral("LayoutUpdated"));
  const QDBusMessage shown = watcher->call(service, menuPath, menuInterface, QStringLiteral("AboutToShow"), {0});
  ASSERT_EQ(shown.type(), QDBusMessage::ReplyMessage);
  EXPECT_TRUE(shown.arguments().constFirst().toBool());
  EXPECT_TRUE(pumpUntil([&] { return watcher->signalCount(QStringLiteral("LayoutUpdated")) > layouts; }));
  EXPECT_EQ(menuEntries(), expected);

  // Refresh asks the model for an unforced refresh.
  bool refreshed = false;
  auto spy = delegate->model()->observe([&](AppModel::Property property) {
    if (property == AppModel::Property::isRefreshing && delegate->model()->isRefreshing()) refreshed = true;
  });
  clickEntry(QStringLiteral("Refresh"));
  EXPECT_TRUE(pumpUntil([&] { return refreshed; }));

  clickEntry(QStringLiteral("More Vuro apps…"));
  ASSERT_TRUE(pumpUntil([&] { return !urls.opened.isEmpty(); }));
  EXPECT_EQ(urls.opened.constLast(), QUrl(QString::fromLatin1(Preferences::makerSiteLink.data(),
                                                              qsizetype(Preferences::makerSiteLink.size()))));
  const qsizetype before = urls.opened.size();
  clickEntry(QStringLiteral("Check for Updates…"));
  EXPECT_TRUE(pumpUntil([&] { return urls.opened.size() > before; }));

  clickEntry(QStringLiteral("Quit Tokvane"));
  EXPECT_TRUE(pumpUntil([&] { return quits == 1; }));
  EXPECT_FALSE(popoverShown());
}

TEST_F(ShellOnDesktop, OnLabelHostsTheMenuLeadsToThePopover) {
  launch(true);
  ASSERT_TRUE(pumpUntil([&] { return delegate->statusItem()->backend().hostShowsLabel(); }));
  const QStringList entries = menuEntries();
  ASSERT_GE(entries.size(), 3);
  EXPECT_EQ(entries.at(0), QStringLiteral("Open Tokvane"));
  EXPECT_EQ(entries.at(1), QStringLiteral("-"));
  EXPECT_EQ(entries.mid(2).constFirst(), QStringLiteral("Refresh"));
  EXPECT_EQ(entries.size(), 9);
  clickEntry(QStringLiteral("Open Tokvane"));
  EXPECT_TRUE(pumpUntil([&] { return popoverShown(); }));
}

TEST_F(ShellOnDesktop, WithoutAnyTrayTheLaunchShowsThePopover) {
  launch(std::nullopt, /*ownBackend=*/false);
  EXPECT_FALSE(delegate->statusItem()->hasHost());
  EXPECT_TRUE(pumpUntil([&] { return popoverShown(); }));
}

TEST_F(ShellOnDesktop, AnXEmbedTrayGetsQtsTrayIconWithItsRealGeometry) {
  QProcess tray;
  tray.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                                        QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                                        QStringLiteral("--width"), QStringLiteral("120"), QStringLiteral("--height"),
                                        QStringLiteral("24"), QStringLiteral("--SetPartialStrut"), QStringLiteral("true"),
                                        QStringLiteral("--SetDockType"), QStringLiteral("true")});
  if (!tray.waitForStarted()) GTEST_SKIP() << "trayer is not installed";
  ASSERT_TRUE(pumpUntil([] { return SystemTrayItem::trayAvailable(); }));
  launch(std::nullopt, /*ownBackend=*/false);
  ASSERT_NE(dynamic_cast<SystemTrayItem*>(&delegate->statusItem()->backend()), nullptr);
  EXPECT_TRUE(delegate->statusItem()->hasHost());
  EXPECT_FALSE(delegate->statusItem()->backend().hostShowsLabel());
  // Embedded in the tray at the screen's top right (before that it sits at 0,0).
  ASSERT_TRUE(pumpUntil([&] {
    const auto geometry = delegate->statusItem()->backend().geometry();
    return geometry && geometry->x() > 640;
  }));
  const QRect icon = *delegate->statusItem()->backend().geometry();
  EXPECT_FALSE(popoverShown());
  // A real click on the icon opens the popover below the tray.
  QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QString::number(icon.center().x()),
                                                QString::number(icon.center().y()), QStringLiteral("click"),
                                                QStringLiteral("1")});
  ASSERT_TRUE(pumpUntil([&] { return popoverShown(); }));
  EXPECT_GE(delegate->popover()->window()->y(), icon.bottom());
  delegate.reset();
  tray.kill();
  tray.waitForFinished();
}

TEST_F(ShellOnDesktop, ASecondLaunchHandsItsAddressToTheFirst) {
  SingleInstance instance;
  ASSERT_EQ(instance.claim({}), SingleInstance::Role::primary);
  launch(false);
  instance.onOpen = [this](const QStringList& urls) { delegate->applicationOpen(urls); };
  instance.onActivate = [this] { delegate->activate(); };

  auto second = [](const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(TOKVANE_BIN_DIR "/tokvane"), arguments);
    pumpUntil([&] { return process.state() == QProcess::NotRunning; }, 15000);
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  };
  // A URL of another form changes nothing.
  EXPECT_EQ(second({QStringLiteral("tokvane://Open")}), 0);
  pumpUntil([] { return false; }, 200);
  EXPECT_FALSE(popoverShown());

  EXPECT_EQ(second({QStringLiteral("tokvane://open")}), 0);
  ASSERT_TRUE(pumpUntil([&] { return popoverShown(); }));
  delegate->popover()->close();
  ASSERT_FALSE(popoverShown());

  // A plain second launch opens it too.
  EXPECT_EQ(second({}), 0);
  EXPECT_TRUE(pumpUntil([&] { return popoverShown(); }));
}

TEST_F(ShellOnDesktop, AnEarlyOpenRequestWaitsForTheStatusItem) {
  watcher = std::make_unique<TestStatusWatcher>(false);
  AppDelegate::Options options;
  options.engine = world.configuration();
  options.defaultsFile = world.data / "defaults.json";
  options.makeBackend = [] { return std::make_unique<StatusNotifierItem>(); };
  delegate = std::make_unique<AppDelegate>(std::move(options));
  delegate->applicationOpen({QStringLiteral("https://open"), QStringLiteral("tokvane://open")});
  EXPECT_TRUE(delegate->pendingOpen());
  delegate->applicationDidFinishLaunching();
  EXPECT_FALSE(delegate->pendingOpen());
  EXPECT_TRUE(pumpUntil([&] { return popoverShown(); }));
  EXPECT_EQ(delegate->statusTimer()->interval(), 30000);
  EXPECT_TRUE(delegate->statusTimer()->isActive());
  EXPECT_TRUE(delegate->titleObserver()->isArmed());
}

TEST_F(ShellOnDesktop, TheWholeProgramWritesTheLedgerAndTheSnapshot) {
  watcher = std::make_unique<TestStatusWatcher>(true);
  TempDir config;
  QProcess program;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("HOME"), QString::fromStdString(world.home.path().string()));
  environment.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString(world.data.path().string()));
  environment.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(config.path().string()));
  program.setProcessEnvironment(environment);
  program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  const QString base = QString::fromStdString(world.server.baseURL());
  program.start(QStringLiteral(TOKVANE_BIN_DIR "/tokvane-under-test"),
                {QStringLiteral("--claude-base-url=") + base, QStringLiteral("--codex-base-url=") + base,
                 QStringLiteral("--security-tool=" TOKVANE_BIN_DIR "/tokvane-security")});
  ASSERT_TRUE(program.waitForStarted());

  ASSERT_TRUE(pumpUntil([&] { return !watcher->registrations().isEmpty(); }, 20000));
  service = watcher->registrations().constFirst();
  EXPECT_TRUE(service.contains(QString::number(program.processId())));
  EXPECT_TRUE(waitForLabel(QStringLiteral("60% · ")));

  const SnapshotStore snapshots(world.data / "K7QX4TLM2B.app.tokvane");
  auto snapshotReady = [&] {
    const auto snapshot = snapshots.read();
    return snapshot && snapshot->providers.size() == 2 && !snapshot->providers[0].windows.empty() &&
           std::abs(snapshot->providers[0].cost30dUSD - 4.5) < 1e-9;
  };
  ASSERT_TRUE(pumpUntil(snapshotReady, 20000));
  const auto snapshot = snapshots.read();
  EXPECT_EQ(snapshot->providers[0].id, ProviderID::claude);
  EXPECT_EQ(snapshot->providers[1].id, ProviderID::codex);
  EXPECT_NEAR(snapshot->providers[1].cost30dUSD, 1.1, 1e-9);
  EXPECT_TRUE(fs::exists(world.data / "Tokvane" / "usage.sqlite"));
  EXPECT_TRUE(fs::exists(config / "app.tokvane" / "defaults.json") || !fs::exists(config / "app.tokvane"));

  // It answers to its menu's "Quit Tokvane": it ends at once, with success.
  QList<int> ids;
  const QStringList entries = menuEntries(&ids);
  ASSERT_EQ(entries.constLast(), QStringLiteral("Quit Tokvane"));
  watcher->call(service, menuPath, menuInterface, QStringLiteral("Event"),
                {ids.constLast(), QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(QVariant(0))), 0u});
  ASSERT_TRUE(pumpUntil([&] { return program.state() == QProcess::NotRunning; }, 10000));
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0);
}

}  // namespace
}  // namespace tokvane

#include "ShellDesktopTests.moc"
