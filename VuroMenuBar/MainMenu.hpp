#pragma once

#include <QMenu>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

namespace vuro {

// The main menu of a tray application. The desktop has no menu bar for it, so
// the menu is what the application's windows answer to: its items' key
// equivalents work in every window it is installed in.
//
// The returned menu is untitled and holds three submenus, in order: the
// untitled application menu ("Settings…" with ",", only when `openSettings`
// is given, then a separator; "Quit " + appName with "q"), "Edit" ("Undo" z,
// "Redo" Shift z, separator, "Cut" x, "Copy" c, "Paste" v, "Select All" a)
// and "Window" ("Close" w). Edit items act on the focused widget (a text
// field's own undo, cut, ...), "Close" closes the active window, "Quit" ends
// the application's event loop.
namespace MainMenu {

std::unique_ptr<QMenu> make(const QString& appName, std::function<void()> openSettings = {});

// Makes the key equivalents of `mainMenu` work while `window` is active. The
// menu must outlive the window's use of it.
void install(QMenu& mainMenu, QWidget& window);

// What an Edit or Window item does: sends the action (a slot name such as
// "undo", "selectAll", or "close" for the window) to `responder` and up its
// parents, to the first that answers it; "close" goes to the responder's
// window. Returns whether one answered.
bool send(const char* action, QWidget* responder);

}  // namespace MainMenu

}  // namespace vuro
