#pragma once

#include <optional>

#include <QPoint>
#include <QRect>

namespace tokvane {

// Where the status item is, as far as the tray lets us know, and the screen it
// is on. Tray hosts differ: an XEmbed tray reports the icon's real geometry,
// a StatusNotifierItem host only sends the point of `Activate(x, y)` (which may
// be on the panel, at the panel's edge, or local to the host's own widget),
// and some hosts send nothing at all.
struct PopoverAnchor {
  // The item's geometry in global coordinates. A point reported by
  // `Activate(x, y)` is kept as a 1x1 rectangle at that point.
  std::optional<QRect> item;
  // The pointer's global position when the click arrived (QCursor::pos()),
  // if the platform knows it.
  std::optional<QPoint> cursor;
  // The whole screen, and the part of it that panels leave free.
  QRect screen;
  QRect available;

  static PopoverAnchor atPoint(QPoint point, QRect screen, QRect available) {
    return PopoverAnchor{QRect(point, QSize(1, 1)), std::nullopt, screen, available};
  }

  bool operator==(const PopoverAnchor&) const = default;
};

}  // namespace tokvane
