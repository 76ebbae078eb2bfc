#pragma once

#include <vector>

namespace tokvane::widgets {

struct SparklinePoint {
  double x = 0;
  double y = 0;
  friend bool operator==(const SparklinePoint&, const SparklinePoint&) = default;
};

// The points of the daily-cost line in a w x h box (y grows downwards):
// evenly spread from x = 0 to x = w; the peak 1 px below the top, zero 1 px
// above the bottom, negative values drawn as zero. A peak of at most 0.01
// counts as 0.01, so an all-zero series lies flat at the bottom. Fewer than
// two values give no points.
std::vector<SparklinePoint> sparklinePoints(const std::vector<double>& values, double w, double h);

}  // namespace tokvane::widgets
