#pragma once

#include <optional>

namespace tokvane {

// The popover's height rules. The content reports its natural height; the
// popover is as high as that, rounded up, but never higher than 80 % of the
// visible height of its screen. Reports within half a pixel of the last
// accepted one, and heights of zero or less, change nothing.
class PopoverHeight {
 public:
  static constexpr int width = 420;
  static constexpr double initialMaxHeight = 600;
  static constexpr double screenShare = 0.8;
  static constexpr double minimumChange = 0.5;

  // Accepts a reported content height; true when it was taken.
  bool report(double height);
  // Recomputes the cap from the visible height of the screen the popover
  // opens on; without a screen the cap stays.
  void setScreen(std::optional<double> visibleHeight);

  // The popover's height: none until a height was reported.
  std::optional<int> target() const;

  double contentHeight() const { return contentHeight_; }
  double maxHeight() const { return maxHeight_; }

 private:
  double contentHeight_ = 0;
  double maxHeight_ = initialMaxHeight;
};

}  // namespace tokvane
