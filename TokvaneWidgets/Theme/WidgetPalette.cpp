#include "TokvaneWidgets/Theme/WidgetPalette.hpp"

#include <algorithm>
#include <cmath>

namespace tokvane::widgets {

namespace {

QColor rgba(int r, int g, int b, double alpha = 1.0) {
  QColor color(r, g, b);
  color.setAlphaF(static_cast<float>(alpha));
  return color;
}

}  // namespace

WidgetAppearance appearanceOf(const QPalette& palette) {
  return palette.color(QPalette::Window).lightnessF() < 0.5 ? WidgetAppearance::dark : WidgetAppearance::light;
}

QPalette paletteFor(WidgetAppearance appearance) {
  const bool dark = appearance == WidgetAppearance::dark;
  const WidgetColors colors = WidgetColors::of(appearance);
  QPalette palette;
  const QColor window = dark ? QColor(50, 50, 50) : QColor(236, 236, 236);
  const QColor base = dark ? QColor(30, 30, 30) : QColor(255, 255, 255);
  const QColor text = dark ? QColor(230, 230, 230) : QColor(30, 30, 30);
  palette.setColor(QPalette::Window, window);
  palette.setColor(QPalette::WindowText, text);
  palette.setColor(QPalette::Base, base);
  palette.setColor(QPalette::AlternateBase, window);
  palette.setColor(QPalette::Text, text);
  palette.setColor(QPalette::Button, dark ? QColor(70, 70, 70) : QColor(250, 250, 250));
  palette.setColor(QPalette::ButtonText, text);
  palette.setColor(QPalette::Highlight, dark ? QColor(10, 132, 255) : QColor(0, 122, 255));
  palette.setColor(QPalette::HighlightedText, Qt::white);
  palette.setColor(QPalette::PlaceholderText, colors.secondary);
  palette.setColor(QPalette::Disabled, QPalette::Text, colors.tertiary);
  palette.setColor(QPalette::Disabled, QPalette::WindowText, colors.tertiary);
  palette.setColor(QPalette::Disabled, QPalette::ButtonText, colors.tertiary);
  return palette;
}

WidgetColors WidgetColors::of(WidgetAppearance appearance) {
  if (appearance == WidgetAppearance::dark) {
    return {QColor(30, 30, 32),          rgba(255, 255, 255, 0.85), rgba(255, 255, 255, 0.55),
            rgba(255, 255, 255, 0.25), QColor(255, 159, 10),       rgba(255, 255, 255, 0.12)};
  }
  return {QColor(255, 255, 255), rgba(0, 0, 0, 0.85), rgba(0, 0, 0, 0.50),
          rgba(0, 0, 0, 0.26),   QColor(255, 149, 0), rgba(0, 0, 0, 0.10)};
}

QColor WidgetColors::accent(const AccentColor& accent) const {
  QColor color;
  switch (accent.role) {
    case AccentColor::Role::primary:
      color = primary;
      break;
    case AccentColor::Role::secondary:
      color = secondary;
      break;
    case AccentColor::Role::rgb:
      color = QColor::fromRgbF(static_cast<float>(accent.red), static_cast<float>(accent.green),
                               static_cast<float>(accent.blue));
      break;
  }
  color.setAlphaF(static_cast<float>(color.alphaF() * std::clamp(accent.opacity, 0.0, 1.0)));
  return color;
}

QFont widgetFont(qreal pixelSize, QFont::Weight weight) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixelSize))));
  font.setWeight(weight);
  return font;
}

}  // namespace tokvane::widgets
