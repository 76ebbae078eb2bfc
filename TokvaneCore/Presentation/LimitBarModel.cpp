#include "TokvaneCore/Presentation/LimitBarModel.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "TokvaneCore/Format/MeterFormat.hpp"
#include "TokvaneCore/Foundation/Saturating.hpp"

namespace tokvane {

std::string_view caseName(Pace pace) {
  switch (pace) {
    case Pace::under: return "under";
    case Pace::onPace: return "onPace";
    case Pace::over: return "over";
    case Pace::unknown: return "unknown";
  }
  return "unknown";
}

namespace {

// How far usage may run ahead of elapsed time, or lag behind it, and still
// count as on pace. The band is lopsided on purpose: running ahead is the
// warning worth showing early.
constexpr double aheadTolerance = 0.05;
constexpr double behindTolerance = 0.15;

// The percent left, rounded half away from zero. The window initialiser
// clamps the used fraction, so the percent normally lies in 0...100; only a
// decoded window can carry a fraction far outside 0...1. Such a percent
// saturates at the ends of the 64-bit integer range ("9223372036854775807%"
// or "-9223372036854775808%", infinities included) rather than overflowing,
// and a NaN fraction, which no decoder produces, reads as "0%".
std::string percentText(double leftFraction) {
  return std::to_string(saturating::fromDouble(std::round(leftFraction * 100))) + "%";
}

}  // namespace

LimitBarModel::LimitBarModel(const LimitWindow& window, Date now) {
  if (window.isReset(now)) {
    leftFraction = 1;
    pace = Pace::unknown;
    percentLeftText = "100%";
    resetText = "now";
    return;
  }
  const double used = window.usedFraction;
  leftFraction = 1 - used;
  percentLeftText = percentText(leftFraction);
  if (!window.resetsAt) return;

  const double remaining = *window.resetsAt - now;
  resetText = MeterFormat::countdown(remaining);

  if (!window.duration || !(*window.duration > 0)) return;
  const double ratio = remaining / *window.duration;
  if (std::isnan(ratio)) return;  // infinite times on both sides: no reference
  const double timeLeft = std::clamp(ratio, 0.0, 1.0);
  timeLeftFraction = timeLeft;
  const double elapsed = 1 - timeLeft;
  if (elapsed + aheadTolerance < used) {
    pace = Pace::over;
  } else if (used < elapsed - behindTolerance) {
    pace = Pace::under;
  } else {
    pace = Pace::onPace;
  }
}

}  // namespace tokvane
