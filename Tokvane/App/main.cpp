// tokvane: the tray program.

#include <QApplication>

#include "Tokvane/Theme/Appearance.hpp"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QGuiApplication::setDesktopFileName(QStringLiteral("app.tokvane.Tokvane"));
  return QApplication::exec();
}
