#include "VuroSettings/XDGAutostartLoginItem.hpp"

#include <QCoreApplication>
#include <QGuiApplication>
#include <utility>

namespace vuro {

XDGAutostartLoginItem::XDGAutostartLoginItem(QString fileName, XDGAutostart::Folders folders,
                                             QString name, QString program)
    : fileName(std::move(fileName)),
      folders(std::move(folders)),
      name(std::move(name)),
      program(std::move(program)) {}

XDGAutostartLoginItem XDGAutostartLoginItem::forApplication() {
  QString id = QGuiApplication::desktopFileName();
  if (id.isEmpty()) id = QCoreApplication::applicationName();
  if (!id.endsWith(QStringLiteral(".desktop"))) id += QStringLiteral(".desktop");
  QString name = QGuiApplication::applicationDisplayName();
  if (name.isEmpty()) name = QCoreApplication::applicationName();
  return XDGAutostartLoginItem(
      id, XDGAutostart::Folders::fromEnvironment(QProcessEnvironment::systemEnvironment()), name,
      QCoreApplication::applicationFilePath());
}

bool XDGAutostartLoginItem::isEnabled() const {
  return XDGAutostart::reportedState(folders, fileName);
}

void XDGAutostartLoginItem::setEnabled(bool enabled) {
  XDGAutostart::setEnabled(folders, fileName, enabled, name, program);
}

}  // namespace vuro
