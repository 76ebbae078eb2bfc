#include "Tokvane/Usage/LimitColors.hpp"

#include "Tokvane/Theme/SystemColors.hpp"

namespace tokvane {

namespace {

QColor grey(double white, double alpha) { return QColor::fromRgbF(white, white, white, alpha); }

}  // namespace

DynamicColor dynamicColor(QColor dark, QColor light) { return DynamicColor{light, dark}; }

namespace LimitColors {

DynamicColor cardFill() {
  static const DynamicColor color = dynamicColor(grey(1.0, 0.035), grey(0.0, 0.025));
  return color;
}

DynamicColor cardBorder() {
  static const DynamicColor color = dynamicColor(grey(1.0, 0.08), grey(0.0, 0.08));
  return color;
}

DynamicColor resetPillFill() {
  static const DynamicColor color = dynamicColor(grey(0.07, 1.0), grey(1.0, 1.0));
  return color;
}

DynamicColor timeMarker() {
  static const DynamicColor color = dynamicColor(QColor(Qt::white), SystemColors::label().light);
  return color;
}

}  // namespace LimitColors

DynamicColor accentColor(const AccentColor& accent) {
  switch (accent.role) {
    case AccentColor::Role::primary: return SystemColors::label();
    case AccentColor::Role::secondary: return SystemColors::secondaryLabel();
    case AccentColor::Role::rgb: break;
  }
  return fixedColor(QColor::fromRgbF(accent.red, accent.green, accent.blue, accent.opacity));
}

DynamicColor accentColor(ProviderID provider) { return accentColor(accent(provider)); }

}  // namespace tokvane
