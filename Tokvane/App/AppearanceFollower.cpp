#include "Tokvane/App/AppearanceFollower.hpp"

#include <QApplication>

#include "Tokvane/Theme/ColorScheme.hpp"

namespace tokvane {

AppearanceFollower::AppearanceFollower(QObject* parent)
    : QObject(parent), desktopPalette_(QApplication::palette()) {
  connect(&portal_, &ColorSchemePortal::schemeChanged, this, &AppearanceFollower::apply);
  portal_.read();
  apply();
}

void AppearanceFollower::apply() {
  appearance_ = appearanceForColorScheme(portal_.scheme(), desktopPalette_);
  QApplication::setPalette(paletteFor(appearance_));
}

}  // namespace tokvane
