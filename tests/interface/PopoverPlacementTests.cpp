#include <gtest/gtest.h>

#include "Tokvane/Popover/PopoverPlacement.hpp"

namespace tokvane {
namespace {

const QRect kScreen(0, 0, 1920, 1080);
const QSize kPopover(320, 400);

struct PlacementCase {
  const char* name;
  PopoverAnchor anchor;
  PopoverEdge edge;
  QPoint origin;
};

PopoverAnchor make(std::optional<QRect> item, std::optional<QPoint> cursor, QRect available,
                   QRect screen = kScreen) {
  return PopoverAnchor{item, cursor, screen, available};
}

QRect point(int x, int y) { return QRect(QPoint(x, y), QSize(1, 1)); }

class PopoverPlacementTest : public testing::TestWithParam<PlacementCase> {};

TEST_P(PopoverPlacementTest, OpensFromTheAnchorInsideTheWorkArea) {
  const PlacementCase& c = GetParam();
  const PopoverPlacement placement = placePopover(c.anchor, kPopover);
  EXPECT_EQ(placement.edge, c.edge);
  EXPECT_EQ(placement.origin, c.origin);
  EXPECT_EQ(popoverOrigin(c.anchor, kPopover), c.origin);
  // Whatever the anchor, the popover lies inside the work area when it fits.
  EXPECT_TRUE(c.anchor.available.contains(QRect(placement.origin, kPopover)));
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, PopoverPlacementTest,
    testing::Values(
        // GNOME's top bar sends Activate(x, 0): below the bar, centred on x.
        PlacementCase{"TopBarPoint", make(point(1500, 0), std::nullopt, QRect(0, 32, 1920, 1048)),
                      PopoverEdge::Below, QPoint(1340, 32)},
        // Near the right edge it is pushed back into the work area.
        PlacementCase{"TopBarPointAtRightEdge",
                      make(point(1900, 5), std::nullopt, QRect(0, 32, 1920, 1048)), PopoverEdge::Below,
                      QPoint(1600, 32)},
        // A bottom panel: above it.
        PlacementCase{"BottomPanelPoint",
                      make(point(1000, 1060), std::nullopt, QRect(0, 0, 1920, 1040)), PopoverEdge::Above,
                      QPoint(840, 640)},
        // Vertical panels: beside them, vertically centred, clamped.
        PlacementCase{"LeftPanelPoint", make(point(20, 500), std::nullopt, QRect(48, 0, 1872, 1080)),
                      PopoverEdge::RightOfLeft, QPoint(48, 300)},
        PlacementCase{"RightPanelPoint",
                      make(point(1900, 1000), std::nullopt, QRect(0, 0, 1872, 1080)),
                      PopoverEdge::LeftOfRight, QPoint(1552, 680)},
        // Where two panels meet in a corner, the horizontal panel decides.
        PlacementCase{"PanelCorner", make(point(10, 10), std::nullopt, QRect(48, 32, 1872, 1048)),
                      PopoverEdge::Below, QPoint(48, 32)},
        // A point inside the work area (a host sending its widget's own
        // coordinates) is not trusted; the pointer on the panel is.
        PlacementCase{"LocalPointFallsBackToCursor",
                      make(point(300, 300), QPoint(1700, 10), QRect(0, 32, 1920, 1048)),
                      PopoverEdge::Below, QPoint(1540, 32)},
        // Neither on a panel: the work-area corner nearest to the point.
        PlacementCase{"NearestCornerToPoint",
                      make(point(300, 900), QPoint(400, 600), QRect(0, 32, 1920, 1048)),
                      PopoverEdge::Above, QPoint(0, 680)},
        PlacementCase{"NearestCornerToCursor",
                      make(std::nullopt, QPoint(1800, 100), QRect(0, 32, 1920, 1048)),
                      PopoverEdge::Below, QPoint(1600, 32)},
        // Nothing known at all (and no panels, as under Wayland): top right.
        PlacementCase{"NothingKnown", make(std::nullopt, std::nullopt, kScreen), PopoverEdge::Below,
                      QPoint(1600, 0)},
        // An XEmbed tray reports the icon's real geometry, even inside the
        // work area of a panel that reserves no space.
        PlacementCase{"MeasuredTrayGeometry",
                      make(QRect(1700, 1050, 24, 24), std::nullopt, kScreen), PopoverEdge::Above,
                      QPoint(1551, 650)},
        PlacementCase{"MeasuredTrayGeometryTop",
                      make(QRect(1200, 4, 24, 24), std::nullopt, QRect(0, 32, 1920, 1048)),
                      PopoverEdge::Below, QPoint(1051, 32)},
        // A second screen to the right of the first.
        PlacementCase{"SecondScreen",
                      make(point(4400, 10), std::nullopt, QRect(1920, 27, 2560, 1413),
                           QRect(1920, 0, 2560, 1440)),
                      PopoverEdge::Below, QPoint(4160, 27)}),
    [](const testing::TestParamInfo<PlacementCase>& info) { return std::string(info.param.name); });

TEST(PopoverPlacement, PanelStripIsOnTheScreenOutsideTheWorkArea) {
  const PopoverAnchor anchor = make(std::nullopt, std::nullopt, QRect(0, 32, 1920, 1048));
  EXPECT_TRUE(isOnPanelStrip(QPoint(100, 0), anchor));
  EXPECT_TRUE(isOnPanelStrip(QPoint(1919, 31), anchor));
  EXPECT_FALSE(isOnPanelStrip(QPoint(100, 32), anchor));
  EXPECT_FALSE(isOnPanelStrip(QPoint(-5, 0), anchor));
  EXPECT_FALSE(isOnPanelStrip(QPoint(100, 2000), anchor));
}

TEST(PopoverPlacement, PopoverLargerThanTheWorkAreaStartsAtItsCorner) {
  const PopoverAnchor anchor = make(point(1500, 0), std::nullopt, QRect(0, 32, 1920, 1048));
  EXPECT_EQ(popoverOrigin(anchor, QSize(2500, 1500)), QPoint(0, 32));
}

TEST(PopoverPlacement, AtPointKeepsTheReportedPoint) {
  const PopoverAnchor anchor = PopoverAnchor::atPoint(QPoint(7, 9), kScreen, kScreen);
  ASSERT_TRUE(anchor.item.has_value());
  EXPECT_EQ(anchor.item->topLeft(), QPoint(7, 9));
  EXPECT_FALSE(anchor.cursor.has_value());
}

}  // namespace
}  // namespace tokvane
