#pragma once

class QWidget;

namespace tokvane::widgets {

// What the window manager is told about a desktop widget on X11: on every
// workspace (_NET_WM_DESKTOP 0xFFFFFFFF), sticky, below other windows, out
// of the taskbar and the pager. Everything is a no-op off X11 (offscreen,
// Wayland), where Qt's own hints are all there is.
namespace WindowHints {

bool onX11();

// Sets the properties on the window's X11 window; call after winId() (set
// earlier, Qt drops them) and before the window is shown.
void setBeforeShow(QWidget& window);
// Asks the window manager again for a window that is already mapped.
void requestAfterShow(QWidget& window);

// Whether a compositing manager owns _NET_WM_CM_S<screen>: only then can
// the corners be translucent.
bool compositorRunning();

}  // namespace WindowHints

}  // namespace tokvane::widgets
