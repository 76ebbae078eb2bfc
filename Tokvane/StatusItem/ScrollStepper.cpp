#include "Tokvane/StatusItem/ScrollStepper.hpp"

#include <algorithm>
#include <cmath>

namespace tokvane {

int ScrollStepper::feed(double deltaY, double deltaX, bool precise, bool gestureBegan, Clock::time_point now) {
  const double delta = deltaY == 0 ? deltaX : deltaY;
  if (gestureBegan || (lastEvent && now - *lastEvent > gestureGap)) {
    accumulated = 0;
    spent = false;
  }
  lastEvent = now;
  if (spent) return 0;
  accumulated += delta;
  const double threshold = precise ? preciseThreshold : lineThreshold;
  if (!(std::abs(accumulated) >= threshold)) return 0;
  spent = true;
  return accumulated > 0 ? 1 : -1;
}

ProviderID steppedProvider(const std::vector<ProviderID>& present, ProviderID pinned, int step) {
  const auto found = std::find(present.begin(), present.end(), pinned);
  const long long n = static_cast<long long>(present.size());
  const long long i = found == present.end() ? 0 : found - present.begin();
  const long long next = ((i + step) % n + n) % n;
  return present[static_cast<size_t>(next)];
}

}  // namespace tokvane
