// The widget program on a real X server with a window manager and a private
// session bus: its windows' hints read back with xprop, its single
// instance, redraws on an atomic snapshot replace and on the reload signal,
// and what its clicks send over the bus. The application's side of the bus
// is played by a small listener and a stand-in org.freedesktop.Application
// of our own.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QVariantMap>
#include <functional>

#include "Tokvane/App/SingleInstance.hpp"
#include "TokvaneCore/Snapshot/SnapshotStore.hpp"
#include "platform/qt/DBusNotificationCenter.hpp"
#include "TokvaneWidgets/Bus/AppearanceWatcher.hpp"
#include "TokvaneWidgets/Bus/BusNames.hpp"
#include "TokvaneWidgets/Bus/WidgetBus.hpp"
#include "TokvaneWidgets/Host/DesktopWidgetWindow.hpp"
#include "TokvaneWidgets/Host/InstanceFile.hpp"
#include "TokvaneWidgets/Host/WidgetHost.hpp"
#include "TokvaneWidgets/Host/WindowHints.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane::widgets {
namespace {

bool waitFor(const std::function<bool()>& done, int ms = 8000) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 25);
  return done();
}

QString run(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.start(program, arguments);
  process.waitForFinished(10000);
  return QString::fromLocal8Bit(process.readAllStandardOutput());
}

// The X11 windows whose name is exactly `name`.
QStringList windowsNamed(const QString& name) {
  return run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                         QStringLiteral("--name"), QLatin1Char('^') + name + QLatin1Char('$')})
      .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QPoint windowPosition(const QString& id) {
  const QString text = run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"), id});
  const auto match = QRegularExpression(QStringLiteral("Position: (-?\\d+),(-?\\d+)")).match(text);
  return match.hasMatch() ? QPoint(match.captured(1).toInt(), match.captured(2).toInt()) : QPoint(-1, -1);
}

void click(QPoint at) {
  run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                                  QStringLiteral("click"), QStringLiteral("1")});
}

// Records every Posted(s) on the notifications path, from any sender.
class NotificationListener : public QObject {
  Q_OBJECT
 public:
  NotificationListener() {
    QDBusConnection::sessionBus().connect(QString(), QLatin1String(BusNames::notificationsPath),
                                          QLatin1String(BusNames::notificationsInterface),
                                          QLatin1String(BusNames::postedSignal), this, SLOT(posted(QString)));
  }
  QStringList names;
 public slots:
  void posted(const QString& name) { names << name; }
};

// A stand-in for the application's org.freedesktop.Application.
class ApplicationStandIn : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
 public:
  explicit ApplicationStandIn(QObject* parent) : QDBusAbstractAdaptor(parent) {}
  QStringList opened;
 public slots:
  void Activate(const QVariantMap&) {}
  void Open(const QStringList& uris, const QVariantMap&) { opened << uris; }
  void ActivateAction(const QString&, const QVariantList&, const QVariantMap&) {}
};

// The program itself, on its own configuration and data folders.
class WidgetProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString((dir / "config").string()));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString((dir / "data").string()));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  }
  void TearDown() override {
    for (QProcess* process : processes) {
      process->kill();
      process->waitForFinished(5000);
      delete process;
    }
  }

  std::filesystem::path instanceFile() const { return dir / "config" / "app.tokvane" / "widgets.json"; }
  std::filesystem::path snapshotDirectory() const { return dir / "data" / std::string(SnapshotStore::appGroup); }

  QProcess* start() {
    auto* process = new QProcess;
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(QStringLiteral(TOKVANE_BIN_DIR "/tokvane-widgets"), {});
    processes.push_back(process);
    return process;
  }

  testing::TempDir dir;
  QProcessEnvironment environment;
  std::vector<QProcess*> processes;
};

TEST_F(WidgetProgramTest, WindowsAreBelowStickyAndOutOfTaskbarAndPager) {
  InstanceFile::write(instanceFile(), {{WidgetKind::small, 900, 40, ProviderID::claude},
                                       {WidgetKind::medium, 500, 40, ProviderID::claude},
                                       {WidgetKind::large, 500, 250, ProviderID::claude}});
  SnapshotStore(snapshotDirectory()).write(Snapshot::placeholder());
  start();
  const QString supported = run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTED")});
  for (const char* name : {"Provider limits", "All providers", "Limits and cost"}) {
    SCOPED_TRACE(name);
    QStringList ids;
    ASSERT_TRUE(waitFor([&] { return !(ids = windowsNamed(QString::fromLatin1(name))).isEmpty(); }));
    QString properties;
    // The window manager takes the states over when it maps the window.
    EXPECT_TRUE(waitFor([&] {
      properties = run(QStringLiteral("xprop"),
                       {QStringLiteral("-id"), ids.first(), QStringLiteral("_NET_WM_STATE"), QStringLiteral("_NET_WM_DESKTOP")});
      return properties.contains(QStringLiteral("_NET_WM_STATE_SKIP_PAGER"));
    }));
    EXPECT_TRUE(properties.contains(QStringLiteral("_NET_WM_STATE_BELOW"))) << properties.toStdString();
    // Openbox keeps a window on every workspace through its desktop alone
    // and drops the sticky state it does not support.
    if (supported.contains(QStringLiteral("_NET_WM_STATE_STICKY"))) {
      EXPECT_TRUE(properties.contains(QStringLiteral("_NET_WM_STATE_STICKY"))) << properties.toStdString();
    }
    EXPECT_TRUE(properties.contains(QStringLiteral("_NET_WM_STATE_SKIP_TASKBAR"))) << properties.toStdString();
    EXPECT_TRUE(properties.contains(QStringLiteral("_NET_WM_DESKTOP(CARDINAL) = 4294967295"))) << properties.toStdString();
  }
}

TEST_F(WidgetProgramTest, WithoutWidgetsShowsTheGalleryAndASecondLaunchShowsTheFirstOnes) {
  QProcess* first = start();
  ASSERT_TRUE(waitFor([] { return !windowsNamed(QStringLiteral("Tokvane Widgets")).isEmpty(); }));
  // Put away (minimized), then started again from the menu: the first
  // instance brings its gallery back and the second one leaves.
  run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--name"), QStringLiteral("^Tokvane Widgets$"),
                                  QStringLiteral("windowminimize")});
  ASSERT_TRUE(waitFor([] { return windowsNamed(QStringLiteral("Tokvane Widgets")).isEmpty(); }));
  QProcess* second = start();
  ASSERT_TRUE(second->waitForFinished(10000));
  EXPECT_EQ(second->exitCode(), 0);
  EXPECT_EQ(first->state(), QProcess::Running);
  EXPECT_TRUE(waitFor([] { return !windowsNamed(QStringLiteral("Tokvane Widgets")).isEmpty(); }));
}

TEST_F(WidgetProgramTest, RefreshButtonPostsTheRefreshNotification) {
  NotificationListener listener;
  InstanceFile::write(instanceFile(), {{WidgetKind::small, 900, 40, ProviderID::claude}});
  SnapshotStore(snapshotDirectory()).write(Snapshot::placeholder());
  start();
  QStringList ids;
  ASSERT_TRUE(waitFor([&] { return !(ids = windowsNamed(QStringLiteral("Provider limits"))).isEmpty(); }));
  const QPoint origin = windowPosition(ids.first());
  // The refresh button: 18 x 18 at the content's top right (margins 16).
  click(origin + QPoint(170 - 16 - 9, 16 + 9));
  ASSERT_TRUE(waitFor([&] { return !listener.names.isEmpty(); }));
  EXPECT_EQ(listener.names, QStringList{QStringLiteral("app.tokvane.refresh")});
  click(origin + QPoint(170 - 16 - 9, 16 + 9));
  EXPECT_TRUE(waitFor([&] { return listener.names.size() == 2; }));  // once per click
}

TEST_F(WidgetProgramTest, ClickOpensTheApplication) {
  QObject object;
  auto* standIn = new ApplicationStandIn(&object);
  QDBusConnection bus = QDBusConnection::sessionBus();
  ASSERT_TRUE(bus.registerObject(QLatin1String(BusNames::applicationPath), &object, QDBusConnection::ExportAdaptors));
  ASSERT_TRUE(bus.registerService(QLatin1String(BusNames::applicationService)));
  InstanceFile::write(instanceFile(), {{WidgetKind::medium, 400, 300, ProviderID::claude}});
  start();
  QStringList ids;
  ASSERT_TRUE(waitFor([&] { return !(ids = windowsNamed(QStringLiteral("All providers"))).isEmpty(); }));
  click(windowPosition(ids.first()) + QPoint(180, 120));
  EXPECT_TRUE(waitFor([&] { return !standIn->opened.isEmpty(); }));
  EXPECT_EQ(standIn->opened, QStringList{QStringLiteral("tokvane://open")});
  bus.unregisterService(QLatin1String(BusNames::applicationService));
  bus.unregisterObject(QLatin1String(BusNames::applicationPath));
}

// The application's own bus code, run here in place of the whole program:
// its instance answers the widget's click and its notification centre
// hears the refresh button.
TEST_F(WidgetProgramTest, TheApplicationsBusCodeHearsTheClicks) {
  SingleInstance instance;
  ASSERT_EQ(instance.claim({}), SingleInstance::Role::primary);
  QStringList opened;
  instance.onOpen = [&](const QStringList& urls) { opened << urls; };
  DBusNotificationCenter notifications;
  int refreshes = 0;
  const auto observation = notifications.observe("app.tokvane.refresh", [&] { ++refreshes; });
  InstanceFile::write(instanceFile(), {{WidgetKind::small, 900, 40, ProviderID::claude}});
  SnapshotStore(snapshotDirectory()).write(Snapshot::placeholder());
  start();
  QStringList ids;
  ASSERT_TRUE(waitFor([&] { return !(ids = windowsNamed(QStringLiteral("Provider limits"))).isEmpty(); }));
  const QPoint origin = windowPosition(ids.first());
  click(origin + QPoint(170 - 16 - 9, 16 + 9));
  ASSERT_TRUE(waitFor([&] { return refreshes == 1; }));
  EXPECT_TRUE(opened.isEmpty());  // the refresh button opens nothing
  click(origin + QPoint(85, 120));
  ASSERT_TRUE(waitFor([&] { return !opened.isEmpty(); }));
  EXPECT_EQ(opened, QStringList{QStringLiteral("tokvane://open")});
  EXPECT_EQ(refreshes, 1);
}

// The host inside this process, on the real X server.
class WidgetHostOnX11Test : public ::testing::Test {
 protected:
  WidgetHost::Options options() {
    WidgetHost::Options o;
    o.instanceFile = dir / "widgets.json";
    o.snapshotDirectory = dir / "group";
    o.clock = [this] { return now; };
    return o;
  }
  testing::TempDir dir;
  Date now = Snapshot::placeholder().generatedAt + 60;
};

TEST_F(WidgetHostOnX11Test, RedrawsWhenTheSnapshotIsReplacedAtomically) {
  InstanceFile::write(options().instanceFile, {{WidgetKind::large, 100, 100, ProviderID::claude}});
  const SnapshotStore store(options().snapshotDirectory);
  store.write(Snapshot::placeholder());
  WidgetHost host(options());
  host.start();
  DesktopWidgetWindow* window = host.window(0);
  ASSERT_TRUE(waitFor([&] { return window->isVisible() && window->paintCount() > 0; }));
  ASSERT_TRUE(waitFor([&] { return window->model().rows.size() == 3; }));
  for (size_t providers : {2u, 1u}) {
    SCOPED_TRACE(providers);
    const int paints = window->paintCount();
    Snapshot changed = Snapshot::placeholder();
    changed.providers.resize(providers);
    store.write(changed);  // a rename over the old file each time
    EXPECT_TRUE(waitFor([&] { return window->model().rows.size() == providers && window->paintCount() > paints; }));
  }
}

TEST_F(WidgetHostOnX11Test, ReloadSignalRebuildsEveryWidgetOnceForABurst) {
  InstanceFile::write(options().instanceFile, {{WidgetKind::small, 100, 100, ProviderID::claude},
                                               {WidgetKind::medium, 300, 100, ProviderID::claude}});
  SnapshotStore(options().snapshotDirectory).write(Snapshot::placeholder());
  WidgetHost host(options());
  WidgetBus bus;
  QObject::connect(&bus, &WidgetBus::reloadRequested, &host, &WidgetHost::reloadAll);
  host.start();
  ASSERT_TRUE(waitFor([&] { return host.window(0)->paintCount() > 0 && host.window(1)->paintCount() > 0; }));
  EXPECT_FALSE(host.window(0)->model().staleText);
  // Time passes without a timeline change that is due; the application then
  // asks for a reload, three times in a row.
  now = Snapshot::placeholder().generatedAt + 1700;
  const int reloads = host.reloads();
  const int paints = host.window(1)->paintCount();
  for (int i = 0; i < 3; ++i) {
    run(QStringLiteral("dbus-send"), {QStringLiteral("--session"), QStringLiteral("--type=signal"),
                                      QLatin1String(BusNames::widgetsPath),
                                      QStringLiteral("app.tokvane.Widgets.ReloadAllTimelines")});
  }
  ASSERT_TRUE(waitFor([&] { return host.reloads() > reloads; }));
  waitFor([] { return false; }, 400);
  EXPECT_EQ(host.reloads(), reloads + 1);
  // The session's reset (780 s after generation) has passed: both redraw.
  EXPECT_EQ(host.window(0)->model().windows[0].percentLeftText, "100%");
  EXPECT_GT(host.window(1)->paintCount(), paints);
}

TEST(WidgetAppearanceOnTheBus, FollowsThePortalsColourScheme) {
  // The portal is played by a second connection that owns its name.
  QDBusConnection portal = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("portal"));
  ASSERT_TRUE(portal.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
  AppearanceWatcher watcher;  // its first Read finds nobody answering: no preference
  std::vector<std::optional<WidgetAppearance>> seen;
  QObject::connect(&watcher, &AppearanceWatcher::changed, [&](auto appearance) { seen.push_back(appearance); });
  auto announce = [&](const QString& group, uint scheme) {
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/portal/desktop"),
                                                     QStringLiteral("org.freedesktop.portal.Settings"),
                                                     QStringLiteral("SettingChanged"));
    signal << group << QStringLiteral("color-scheme") << QVariant::fromValue(QDBusVariant(QVariant(scheme)));
    portal.send(signal);
  };
  announce(QStringLiteral("org.freedesktop.appearance"), 1);
  ASSERT_TRUE(waitFor([&] { return seen.size() == 1; }));
  EXPECT_EQ(watcher.current(), WidgetAppearance::dark);
  announce(QStringLiteral("org.example.other"), 2);  // not ours
  announce(QStringLiteral("org.freedesktop.appearance"), 2);
  ASSERT_TRUE(waitFor([&] { return seen.size() == 2; }));
  EXPECT_EQ(seen.back(), WidgetAppearance::light);
  portal.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
  QDBusConnection::disconnectFromBus(QStringLiteral("portal"));
}

}  // namespace
}  // namespace tokvane::widgets

#include "WidgetDesktopTests.moc"
