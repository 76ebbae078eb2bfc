#pragma once

#include <QLineF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <optional>
#include <vector>

#include "TokvaneCore/Presentation/LimitBarModel.hpp"

namespace tokvane {

// Where the layers of a limit bar go in a bar of a given size: the solid
// part that is left from the leading edge, the hatched part that is used
// right of it, the time-left marker and the reset pill's text. Pure, so the
// geometry is tested without painting.
struct LimitBarLayout {
  static constexpr double barHeight = 22;
  static constexpr double markerWidth = 2;
  static constexpr double cornerRadius = 6;
  // The pill: padded 6 on each side, 2 from the trailing end and 2 from
  // top and bottom, radius 5.
  static constexpr double pillPadding = 6;
  static constexpr double pillInset = 2;
  static constexpr double pillRadius = 5;
  // The stripes: 1 wide, 5 apart along the bar, at 45 degrees.
  static constexpr double hatchSpacing = 5;

  double left = 1;  // leftFraction clamped to 0...1
  QRectF remaining;
  QRectF used;
  std::optional<QRectF> marker;
  // "↻ " and the reset countdown, when the window has a reset time.
  std::optional<QString> pillText;

  static LimitBarLayout make(const LimitBarModel& bar, QSizeF size);

  // The pill's rectangle in a bar of `size` for a text `textWidth` wide.
  static QRectF pillRect(QSizeF size, double textWidth);

  // The stripes of a hatched area of `size`, in its own coordinates: lines
  // from (x, h) to (x + h, 0) for x = -h, -h + 5, ... while x < w.
  static std::vector<QLineF> hatchLines(QSizeF size);

  friend bool operator==(const LimitBarLayout&, const LimitBarLayout&) = default;
};

}  // namespace tokvane
