#include "Tokvane/App/TokvaneApplication.hpp"

#include <QApplication>
#include <QTimer>
#include <cstdlib>

#include "Tokvane/App/AppearanceFollower.hpp"
#include "Tokvane/App/SingleInstance.hpp"
#include "platform/qt/SessionBusNames.hpp"

namespace tokvane {

int runTokvane(int argc, char** argv, AppDelegate::Options options) {
  // On an X11 display (XWayland included) the popover can be placed under
  // the status item; native Wayland cannot place it. The user's own choice
  // of platform stands.
  const char* display = std::getenv("DISPLAY");
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (display && *display && (!platform || !*platform)) setenv("QT_QPA_PLATFORM", "xcb", 1);

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tokvane"));
  QApplication::setQuitOnLastWindowClosed(false);
  QGuiApplication::setDesktopFileName(QString::fromLatin1(SessionBusNames::applicationID));

  const QStringList urls = QApplication::arguments().mid(1);
  SingleInstance instance;
  if (instance.claim(urls) == SingleInstance::Role::forwarded) return 0;

  AppearanceFollower appearance;
  AppDelegate delegate(std::move(options));
  instance.onOpen = [&delegate](const QStringList& requested) { delegate.applicationOpen(requested); };
  instance.onActivate = [&delegate] { delegate.activate(); };

  // The addresses of this launch are asked for before launching finishes, so
  // an open request waits for the status item.
  if (!urls.isEmpty()) delegate.applicationOpen(urls);
  QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
  const int status = QApplication::exec();
  // Quitting ends the process without teardown, like the menu's "Quit".
  std::fflush(nullptr);
  std::_Exit(status);
}

}  // namespace tokvane
