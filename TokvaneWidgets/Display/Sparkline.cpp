#include "TokvaneWidgets/Display/Sparkline.hpp"

#include <algorithm>
#include <cmath>

namespace tokvane::widgets {

std::vector<SparklinePoint> sparklinePoints(const std::vector<double>& values, double w, double h) {
  std::vector<SparklinePoint> points;
  const size_t n = values.size();
  if (n < 2) return points;
  // A value that is not a number is drawn as zero.
  auto drawn = [](double value) { return std::isfinite(value) ? std::max(value, 0.0) : 0.0; };
  double peak = 0.01;
  for (double value : values) peak = std::max(peak, drawn(value));
  const double step = w / static_cast<double>(n - 1);
  points.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    points.push_back({step * static_cast<double>(i), (h - 1) - (h - 2) * drawn(values[i]) / peak});
  }
  return points;
}

}  // namespace tokvane::widgets
