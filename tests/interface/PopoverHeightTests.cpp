#include <gtest/gtest.h>

#include "Tokvane/Popover/PopoverHeight.hpp"

namespace tokvane {
namespace {

TEST(PopoverHeight, NoTargetBeforeTheFirstReport) {
  PopoverHeight height;
  EXPECT_EQ(height.target(), std::nullopt);
  EXPECT_DOUBLE_EQ(height.maxHeight(), 600);
}

TEST(PopoverHeight, RoundsUpAndIgnoresSmallChangesAndNonPositiveHeights) {
  PopoverHeight height;
  EXPECT_TRUE(height.report(312.2));
  EXPECT_EQ(height.target(), 313);
  EXPECT_FALSE(height.report(312.6));  // 0.4 away
  EXPECT_DOUBLE_EQ(height.contentHeight(), 312.2);
  EXPECT_FALSE(height.report(0));
  EXPECT_FALSE(height.report(-40));
  EXPECT_FALSE(height.report(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_EQ(height.target(), 313);
  EXPECT_TRUE(height.report(312.7));  // 0.5 away
  EXPECT_EQ(height.target(), 313);
  EXPECT_TRUE(height.report(400));
  EXPECT_EQ(height.target(), 400);
}

TEST(PopoverHeight, CappedAtEightyPercentOfTheScreensVisibleHeight) {
  PopoverHeight height;
  height.report(2000);
  EXPECT_EQ(height.target(), 600);  // before any screen
  height.setScreen(777);
  EXPECT_DOUBLE_EQ(height.maxHeight(), 621);  // floor(621.6)
  EXPECT_EQ(height.target(), 621);
  height.setScreen(std::nullopt);  // no screen: the cap stays
  EXPECT_EQ(height.target(), 621);
  height.setScreen(1400);  // another screen on the next show
  EXPECT_EQ(height.target(), 1120);
}

}  // namespace
}  // namespace tokvane
