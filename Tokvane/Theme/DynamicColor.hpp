#pragma once

#include <QColor>
#include <QPalette>

#include "Tokvane/Theme/Appearance.hpp"

namespace tokvane {

// A colour with one value per appearance, resolved at paint time.
struct DynamicColor {
  QColor light;
  QColor dark;

  QColor resolve(Appearance appearance) const { return appearance == Appearance::dark ? dark : light; }
  QColor resolve(const QPalette& palette) const { return resolve(appearanceOf(palette)); }

  friend bool operator==(const DynamicColor&, const DynamicColor&) = default;
};

// One colour in both appearances.
inline DynamicColor fixedColor(QColor color) { return {color, color}; }

}  // namespace tokvane
