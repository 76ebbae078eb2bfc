#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

#include "TokvaneCore/Presentation/ProviderDisplay.hpp"

namespace tokvane::widgets {

enum class WidgetAppearance { light, dark };

// Dark when the palette's window colour is dark.
WidgetAppearance appearanceOf(const QPalette& palette);
// A Qt palette for the widget program's own windows (gallery, menus).
QPalette paletteFor(WidgetAppearance appearance);

// The colours the widgets paint with, for one appearance.
struct WidgetColors {
  QColor background;  // the widget's container
  QColor primary;     // labels
  QColor secondary;
  QColor tertiary;
  QColor orange;      // the stale badge
  QColor separator;

  static WidgetColors of(WidgetAppearance appearance);
  // A provider's accent resolved against these colours.
  QColor accent(const AccentColor& accent) const;
};

// DejaVu Sans at a size in logical pixels (never points): its digits are
// tabular, so countdowns keep their width as they change.
QFont widgetFont(qreal pixelSize, QFont::Weight weight = QFont::Normal);

}  // namespace tokvane::widgets
