#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace vuro {

// The desktop's autostart entries (XDG Autostart): an application opens at
// login when the first entry of its file name, looked up in the user's
// autostart folder and then in each system folder in order, exists and is
// not marked Hidden=true. (Some desktops also read
// X-GNOME-Autostart-enabled; others ignore it, so it decides nothing here.)
namespace XDGAutostart {

// The autostart folders, user's first: $XDG_CONFIG_HOME/autostart (default
// ~/.config), then <dir>/autostart for each of $XDG_CONFIG_DIRS (default
// /etc/xdg). Relative paths in the variables are ignored, as the desktop does.
struct Folders {
  QString user;
  QStringList system;

  static Folders fromEnvironment(const QProcessEnvironment& environment);
};

// Whether an entry's [Desktop Entry] group says Hidden=true.
bool isHidden(const QByteArray& entry);

// The state the desktop reports from the entries in lookup order (absent
// where a folder has no such file): the first present one is on unless
// hidden; none present is off.
bool reportedState(const std::vector<std::optional<QByteArray>>& entriesInOrder);

// The same, read from the folders.
bool reportedState(const Folders& folders, const QString& fileName);

// What turning launch at login on or off does to the user's file:
// on writes a full entry; off writes an entry with Hidden=true where a system
// folder has the file (deleting the user's would let the system one start
// it), else removes the user's file, else there is nothing to do.
enum class Change { WriteEntry, WriteHiddenEntry, RemoveUserFile, Nothing };
Change changeFor(bool enable, bool userFileExists, bool systemFileExists);

// An entry that starts `program` (an absolute path, quoted as the Exec key
// requires) under the display name `name`; `hidden` adds Hidden=true.
QByteArray entryFor(const QString& name, const QString& program, bool hidden);

// Turns launch at login on or off by changing the user's file; throws
// LoginItemError when the folder or the file cannot be written or removed.
void setEnabled(const Folders& folders, const QString& fileName, bool enable, const QString& name,
                const QString& program);

}  // namespace XDGAutostart

}  // namespace vuro
