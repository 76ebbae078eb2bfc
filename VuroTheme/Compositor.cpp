#include "VuroTheme/Compositor.hpp"

#include <xcb/xcb.h>

#include <QByteArray>
#include <QGuiApplication>
#include <cstdlib>

namespace vuro::Compositor {

namespace {

bool x11SelectionOwned(xcb_connection_t* connection) {
  // The default screen's number comes from the display name (":0.1" is
  // screen 1).
  int screen = 0;
  if (const char* display = std::getenv("DISPLAY")) {
    const char* dot = nullptr;
    for (const char* p = display; *p != '\0'; ++p) {
      if (*p == ':') dot = nullptr;
      if (*p == '.') dot = p;
    }
    if (dot != nullptr) screen = std::atoi(dot + 1);
  }
  const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screen);
  xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 1, uint16_t(name.size()), name.constData()), nullptr);
  if (atom == nullptr) return false;
  const xcb_atom_t selection = atom->atom;
  std::free(atom);
  if (selection == XCB_ATOM_NONE) return false;
  xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
      connection, xcb_get_selection_owner(connection, selection), nullptr);
  if (owner == nullptr) return false;
  const bool owned = owner->owner != XCB_WINDOW_NONE;
  std::free(owner);
  return owned;
}

}  // namespace

bool isRunning() {
  if (QGuiApplication::instance() == nullptr) return false;
  const QString platform = QGuiApplication::platformName();
  if (platform.startsWith(QStringLiteral("wayland"))) return true;
  if (platform != QStringLiteral("xcb")) return false;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 == nullptr || x11->connection() == nullptr) return false;
  return x11SelectionOwned(x11->connection());
}

}  // namespace vuro::Compositor
