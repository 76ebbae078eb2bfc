#include "Tokvane/App/PopoverToggle.hpp"

namespace tokvane {

PopoverToggle popoverToggle(bool isShown, std::optional<std::chrono::steady_clock::time_point> closedAt,
                            std::chrono::steady_clock::time_point now) {
  if (isShown) return PopoverToggle::close;
  if (closedAt && !(now - *closedAt > reopenGuard)) return PopoverToggle::nothing;
  return PopoverToggle::show;
}

}  // namespace tokvane
