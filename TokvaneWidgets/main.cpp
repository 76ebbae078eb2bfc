// tokvane-widgets: shows Tokvane's widgets on the desktop. One instance per
// user; starting it again shows the running instance's gallery.

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "TokvaneCore/Snapshot/SnapshotStore.hpp"
#include "TokvaneWidgets/Bus/AppearanceWatcher.hpp"
#include "TokvaneWidgets/Bus/WidgetBus.hpp"
#include "TokvaneWidgets/Host/Autostart.hpp"
#include "TokvaneWidgets/Host/InstanceFile.hpp"
#include "TokvaneWidgets/Host/WidgetHost.hpp"
#include "TokvaneWidgets/Host/WindowHints.hpp"
#include "TokvaneWidgets/Theme/WidgetPalette.hpp"

using namespace tokvane::widgets;

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

  WidgetBus bus;
  if (!bus.claimInstance()) {
    if (WidgetBus::showGalleryOfRunningInstance()) return 0;
    std::fprintf(stderr, "tokvane-widgets: no session bus instance name; running on its own\n");
  }

  // Dark or light as the desktop says; without a say, as the palette is.
  const WidgetAppearance fallback = appearanceOf(QApplication::palette());
  AppearanceWatcher appearance;
  QApplication::setPalette(paletteFor(appearance.current().value_or(fallback)));
  QObject::connect(&appearance, &AppearanceWatcher::changed, &app, [fallback](std::optional<WidgetAppearance> next) {
    QApplication::setPalette(paletteFor(next.value_or(fallback)));
  });

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
