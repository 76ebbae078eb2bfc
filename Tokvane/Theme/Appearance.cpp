#include "Tokvane/Theme/Appearance.hpp"

#include "Tokvane/Theme/SystemColors.hpp"

namespace tokvane {

Appearance appearanceOf(const QPalette& palette) {
  return palette.color(QPalette::Window).lightness() < 128 ? Appearance::dark : Appearance::light;
}

QPalette paletteFor(Appearance appearance) {
  auto c = [appearance](const DynamicColor& color) { return color.resolve(appearance); };
  QColor window = c(SystemColors::windowBackground());
  QColor base = c(SystemColors::controlBackground());
  // Text colours are opaque in a Qt palette: the label's translucency over
  // the window colour.
  auto over = [](QColor top, QColor bottom) {
    float a = top.alphaF();
    return QColor::fromRgbF(top.redF() * a + bottom.redF() * (1 - a), top.greenF() * a + bottom.greenF() * (1 - a),
                            top.blueF() * a + bottom.blueF() * (1 - a));
  };
  QColor text = over(c(SystemColors::label()), window);
  QColor secondary = over(c(SystemColors::secondaryLabel()), window);
  QColor accent = c(SystemColors::accent());

  QPalette palette;
  palette.setColor(QPalette::Window, window);
  palette.setColor(QPalette::WindowText, text);
  palette.setColor(QPalette::Base, base);
  palette.setColor(QPalette::AlternateBase, window);
  palette.setColor(QPalette::Text, text);
  palette.setColor(QPalette::Button, appearance == Appearance::dark ? QColor(80, 80, 80) : QColor(255, 255, 255));
  palette.setColor(QPalette::ButtonText, text);
  palette.setColor(QPalette::BrightText, Qt::white);
  palette.setColor(QPalette::Highlight, accent);
  palette.setColor(QPalette::HighlightedText, Qt::white);
  palette.setColor(QPalette::Link, accent);
  palette.setColor(QPalette::ToolTipBase, base);
  palette.setColor(QPalette::ToolTipText, text);
  palette.setColor(QPalette::PlaceholderText, secondary);
  palette.setColor(QPalette::Mid, over(c(SystemColors::separator()), window));
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    palette.setColor(QPalette::Disabled, role, secondary);
  }
  return palette;
}

}  // namespace tokvane
