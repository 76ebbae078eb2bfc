#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneCore/Limits/LimitWindow.hpp"

namespace tokvane {

// Usage measured against the share of the window's time that has passed.
enum class Pace {
  under,    // used less than the time that has passed
  onPace,
  over,     // used faster than the time that has passed
  unknown,  // no time reference
};

std::string_view caseName(Pace pace);

// One limit window as a bar at one moment: the share left, the share of
// time left, the pace, the percent-left text and the reset countdown.
struct LimitBarModel {
  double leftFraction = 1;                  // 1 - used, or 1 once reset; not clamped
  std::optional<double> timeLeftFraction;   // 0...1; absent when unknown
  Pace pace = Pace::unknown;
  std::string percentLeftText;              // such as "58%"
  std::optional<std::string> resetText;     // absent when the reset time is unknown

  LimitBarModel(const LimitWindow& window, Date now);

  friend bool operator==(const LimitBarModel&, const LimitBarModel&) = default;
};

}  // namespace tokvane
