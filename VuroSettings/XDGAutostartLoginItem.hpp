#pragma once

#include <QString>

#include "VuroSettings/LoginItemService.hpp"
#include "VuroSettings/XDGAutostart.hpp"

namespace vuro {

// Launch at login through the desktop's autostart entry of the running
// application: the file `fileName` (for example "app.example.Example.desktop")
// in the user's autostart folder, starting `program` under `name`.
class XDGAutostartLoginItem : public LoginItemService {
 public:
  XDGAutostartLoginItem(QString fileName, XDGAutostart::Folders folders, QString name,
                        QString program);

  // The running application's entry: its desktop file name (plus
  // ".desktop"), display name and executable, in the folders of the
  // environment.
  static XDGAutostartLoginItem forApplication();

  bool isEnabled() const override;
  void setEnabled(bool enabled) override;

  const QString fileName;
  const XDGAutostart::Folders folders;
  const QString name;
  const QString program;
};

}  // namespace vuro
