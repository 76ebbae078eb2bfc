#include "TokvaneWidgets/Display/MiniBar.hpp"

#include <algorithm>
#include <cmath>

namespace tokvane::widgets {

MiniBarGeometry MiniBarGeometry::make(double leftFraction, std::optional<double> timeLeftFraction, double width) {
  MiniBarGeometry geometry;
  const double fill = std::isnan(leftFraction) ? 0 : std::clamp(leftFraction, 0.0, 1.0);
  geometry.fillWidth = width * fill;
  if (timeLeftFraction) {
    geometry.markerX = std::min(width - markerWidth, std::max(0.0, width * *timeLeftFraction - markerWidth / 2));
  }
  return geometry;
}

}  // namespace tokvane::widgets
