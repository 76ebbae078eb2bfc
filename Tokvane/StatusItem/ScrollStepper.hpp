#pragma once

#include <chrono>
#include <optional>
#include <vector>

#include "TokvaneCore/Usage/ProviderID.hpp"

namespace tokvane {

// Turns a stream of scroll deltas into at most one step per gesture. A
// gesture ends when a new one begins or when more than `gestureGap` passes
// between two events; the gap is measured on the monotonic clock, so a wall
// clock set back or forward neither merges nor splits gestures.
struct ScrollStepper {
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds gestureGap{300};
  // Accumulated delta needed for a step: trackpads send many small precise
  // deltas, wheels one per notch.
  static constexpr double preciseThreshold = 3.0;
  static constexpr double lineThreshold = 1.0;

  double accumulated = 0;
  bool spent = false;
  std::optional<Clock::time_point> lastEvent;

  // One scroll event: the vertical delta, or the horizontal one when the
  // vertical is exactly 0. Returns +1, -1 or 0 (no step).
  int feed(double deltaY, double deltaX, bool precise, bool gestureBegan, Clock::time_point now);

  friend bool operator==(const ScrollStepper&, const ScrollStepper&) = default;
};

// The provider `step` places away from `pinned` among `present`, wrapping at
// both ends; a pinned provider that is not present counts as the first.
// `present` must not be empty.
ProviderID steppedProvider(const std::vector<ProviderID>& present, ProviderID pinned, int step);

}  // namespace tokvane
