#include "Tokvane/Usage/LimitBarLayout.hpp"

#include <algorithm>
#include <cmath>

namespace tokvane {

LimitBarLayout LimitBarLayout::make(const LimitBarModel& bar, QSizeF size) {
  const double w = size.width();
  const double h = size.height();
  LimitBarLayout layout;
  double left = bar.leftFraction;
  if (std::isnan(left)) left = 0;
  layout.left = std::clamp(left, 0.0, 1.0);
  layout.remaining = QRectF(0, 0, w * layout.left, h);
  layout.used = QRectF(w * layout.left, 0, w * (1 - layout.left), h);
  if (bar.timeLeftFraction) {
    double x = std::min(w - markerWidth, std::max(0.0, *bar.timeLeftFraction * w - markerWidth / 2));
    layout.marker = QRectF(x, 0, markerWidth, h);
  }
  if (bar.resetText) layout.pillText = QStringLiteral("\u21BB ") + QString::fromStdString(*bar.resetText);
  return layout;
}

QRectF LimitBarLayout::pillRect(QSizeF size, double textWidth) {
  double width = textWidth + 2 * pillPadding;
  double height = std::max(0.0, size.height() - 2 * pillInset);
  return QRectF(size.width() - pillInset - width, (size.height() - height) / 2, width, height);
}

std::vector<QLineF> LimitBarLayout::hatchLines(QSizeF size) {
  std::vector<QLineF> lines;
  const double w = size.width();
  const double h = size.height();
  for (double x = -h; x < w; x += hatchSpacing) lines.emplace_back(QPointF(x, h), QPointF(x + h, 0));
  return lines;
}

}  // namespace tokvane
