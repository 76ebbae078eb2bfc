#pragma once

#include <optional>

namespace tokvane::widgets {

// Where the thin limit bar's pieces go in a bar `width` wide: the filled
// part (the share left, clamped to 0...1) and, when the window's time left
// is known, the left edge of the 1.5-wide time marker, kept inside the bar.
struct MiniBarGeometry {
  double fillWidth = 0;
  std::optional<double> markerX;

  static constexpr double markerWidth = 1.5;

  static MiniBarGeometry make(double leftFraction, std::optional<double> timeLeftFraction, double width);

  friend bool operator==(const MiniBarGeometry&, const MiniBarGeometry&) = default;
};

}  // namespace tokvane::widgets
