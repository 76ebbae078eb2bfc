// tokvane-widgets: shows Tokvane's widgets on the desktop. One instance per
// user; starting it again shows the running instance's gallery.

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QMetaType>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "TokvaneCore/Snapshot/SnapshotStore.hpp"
#include "TokvaneWidgets/Bus/WidgetBus.hpp"
#include "TokvaneWidgets/Host/Autostart.hpp"
#include "TokvaneWidgets/Host/InstanceFile.hpp"
#include "TokvaneWidgets/Host/WidgetHost.hpp"
#include "TokvaneWidgets/Host/WindowHints.hpp"
#include "TokvaneWidgets/Theme/WidgetPalette.hpp"

namespace {

using namespace tokvane::widgets;

// The desktop's colour scheme from the settings portal: 1 dark, 2 light;
// none (or 0) means the palette decides.
std::optional<WidgetAppearance> portalAppearance() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return std::nullopt;
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
      QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("Read"));
  call << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme");
  QDBusMessage reply = bus.call(call, QDBus::Block, 1000);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return std::nullopt;
  QVariant value = reply.arguments().first();
  // Version 1 of the portal wraps the value twice.
  while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>()) {
    value = value.value<QDBusVariant>().variant();
  }
  bool ok = false;
  const uint scheme = value.toUInt(&ok);
  if (!ok) return std::nullopt;
  if (scheme == 1) return WidgetAppearance::dark;
  if (scheme == 2) return WidgetAppearance::light;
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  // Under a Wayland session the widgets run through XWayland, where the
  // window manager honours their hints.
  if (std::getenv("DISPLAY") != nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr) {
    setenv("QT_QPA_PLATFORM", "xcb", 1);
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("tokvane-widgets"));
  QGuiApplication::setDesktopFileName(QStringLiteral("app.tokvane.TokvaneWidgets"));
  QApplication::setQuitOnLastWindowClosed(false);
  qRegisterMetaType<QDBusVariant>();

  WidgetBus bus;
  if (!bus.claimInstance()) {
    if (WidgetBus::showGalleryOfRunningInstance()) return 0;
    std::fprintf(stderr, "tokvane-widgets: no session bus instance name; running on its own\n");
  }

  const WidgetAppearance appearance = portalAppearance().value_or(appearanceOf(QApplication::palette()));
  QApplication::setPalette(paletteFor(appearance));

  WidgetHost::Options options;
  options.instanceFile = InstanceFile::defaultPath();
  options.snapshotDirectory = tokvane::SnapshotStore::appGroupContainer();
  options.autostartEntry = Autostart::entryPath();
  options.program = QCoreApplication::applicationFilePath().toStdString();
  options.translucent = WindowHints::compositorRunning();
  WidgetHost host(options);
  QObject::connect(&bus, &WidgetBus::reloadRequested, &host, &WidgetHost::reloadAll);
  QObject::connect(&bus, &WidgetBus::galleryRequested, &host, &WidgetHost::showGallery);
  QObject::connect(&host, &WidgetHost::idle, &app, [] {
    std::fflush(nullptr);
    _exit(0);
  });
  host.start();
  const int status = app.exec();
  std::fflush(nullptr);
  _exit(status);
}
