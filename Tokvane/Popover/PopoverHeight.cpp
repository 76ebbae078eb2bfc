#include "Tokvane/Popover/PopoverHeight.hpp"

#include <algorithm>
#include <cmath>

namespace tokvane {

bool PopoverHeight::report(double height) {
  if (!(height > 0) || !std::isfinite(height)) return false;
  if (std::abs(height - contentHeight_) < minimumChange) return false;
  contentHeight_ = height;
  return true;
}

void PopoverHeight::setScreen(std::optional<double> visibleHeight) {
  if (visibleHeight && *visibleHeight > 0) maxHeight_ = std::floor(screenShare * *visibleHeight);
}

std::optional<int> PopoverHeight::target() const {
  if (contentHeight_ <= 0) return std::nullopt;
  return static_cast<int>(std::min(maxHeight_, std::ceil(contentHeight_)));
}

}  // namespace tokvane
