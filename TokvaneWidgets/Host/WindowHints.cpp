#include "TokvaneWidgets/Host/WindowHints.hpp"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QWidget>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace tokvane::widgets::WindowHints {

namespace {

xcb_connection_t* connection() {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
  auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 != nullptr ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
  auto cookie = xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name);
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
  if (reply == nullptr) return XCB_ATOM_NONE;
  xcb_atom_t result = reply->atom;
  std::free(reply);
  return result;
}

xcb_window_t rootOf(xcb_connection_t* c) {
  const xcb_setup_t* setup = xcb_get_setup(c);
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
  return it.data != nullptr ? it.data->root : static_cast<xcb_window_t>(XCB_WINDOW_NONE);
}

const char* const stateNames[] = {"_NET_WM_STATE_STICKY", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER",
                                  "_NET_WM_STATE_BELOW"};

void sendToRoot(xcb_connection_t* c, xcb_window_t window, xcb_atom_t type, uint32_t d0, uint32_t d1, uint32_t d2,
                uint32_t d3) {
  xcb_client_message_event_t event;
  std::memset(&event, 0, sizeof event);
  event.response_type = XCB_CLIENT_MESSAGE;
  event.format = 32;
  event.window = window;
  event.type = type;
  event.data.data32[0] = d0;
  event.data.data32[1] = d1;
  event.data.data32[2] = d2;
  event.data.data32[3] = d3;
  xcb_send_event(c, 0, rootOf(c), XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&event));
}

}  // namespace

bool onX11() { return connection() != nullptr; }

void setBeforeShow(QWidget& window) {
  xcb_connection_t* c = connection();
  if (c == nullptr) return;
  const auto id = static_cast<xcb_window_t>(window.winId());
  const uint32_t allDesktops = 0xFFFFFFFF;
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, atom(c, "_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL, 32, 1,
                      &allDesktops);
  std::vector<xcb_atom_t> states;
  for (const char* name : stateNames) states.push_back(atom(c, name));
  // Appended, so the states Qt sets itself (below, from the window flags) stay.
  xcb_change_property(c, XCB_PROP_MODE_APPEND, id, atom(c, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32,
                      static_cast<uint32_t>(states.size()), states.data());
  xcb_flush(c);
}

void requestAfterShow(QWidget& window) {
  xcb_connection_t* c = connection();
  if (c == nullptr) return;
  const auto id = static_cast<xcb_window_t>(window.winId());
  sendToRoot(c, id, atom(c, "_NET_WM_DESKTOP"), 0xFFFFFFFF, 1, 0, 0);
  const xcb_atom_t state = atom(c, "_NET_WM_STATE");
  constexpr uint32_t add = 1;
  sendToRoot(c, id, state, add, atom(c, stateNames[0]), atom(c, stateNames[1]), 1);
  sendToRoot(c, id, state, add, atom(c, stateNames[2]), atom(c, stateNames[3]), 1);
  xcb_flush(c);
}

bool compositorRunning() {
  xcb_connection_t* c = connection();
  if (c == nullptr) return false;
  int screen = 0;
  if (const char* display = std::getenv("DISPLAY")) {
    const char* dot = std::strrchr(display, '.');
    if (dot != nullptr) screen = std::atoi(dot + 1);
  }
  const std::string name = "_NET_WM_CM_S" + std::to_string(screen);
  const xcb_atom_t selection = atom(c, name.c_str());
  auto cookie = xcb_get_selection_owner(c, selection);
  xcb_get_selection_owner_reply_t* reply = xcb_get_selection_owner_reply(c, cookie, nullptr);
  if (reply == nullptr) return false;
  const bool owned = reply->owner != XCB_WINDOW_NONE;
  std::free(reply);
  return owned;
}

}  // namespace tokvane::widgets::WindowHints
