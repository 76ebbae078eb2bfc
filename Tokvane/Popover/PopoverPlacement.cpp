#include "Tokvane/Popover/PopoverPlacement.hpp"

#include <algorithm>
#include <array>

namespace tokvane {
namespace {

// A rectangle the tray really measured (an XEmbed icon), not a click point.
bool isMeasuredGeometry(const QRect& rect) { return rect.width() > 1 || rect.height() > 1; }

int clampInto(int value, int low, int length, int size) {
  const int high = low + length - size;
  if (high < low) return low;
  return std::clamp(value, low, high);
}

QPoint nearestCorner(QPoint reference, const QRect& area) {
  const std::array<QPoint, 4> corners{area.topLeft(), area.topRight(), area.bottomLeft(),
                                      area.bottomRight()};
  QPoint best = corners[0];
  long long bestDistance = -1;
  for (const QPoint& corner : corners) {
    const long long dx = corner.x() - reference.x();
    const long long dy = corner.y() - reference.y();
    const long long distance = dx * dx + dy * dy;
    if (bestDistance < 0 || distance < bestDistance) {
      best = corner;
      bestDistance = distance;
    }
  }
  return best;
}

QRect chooseAnchor(const PopoverAnchor& anchor) {
  if (anchor.item) {
    const QRect& item = *anchor.item;
    if (isOnPanelStrip(item.center(), anchor)) return item;
    if (isMeasuredGeometry(item) && (anchor.screen.isEmpty() || anchor.screen.contains(item.center())))
      return item;
  }
  if (anchor.cursor && isOnPanelStrip(*anchor.cursor, anchor)) return QRect(*anchor.cursor, QSize(1, 1));
  QPoint reference = anchor.available.topRight();
  if (anchor.item)
    reference = anchor.item->center();
  else if (anchor.cursor)
    reference = *anchor.cursor;
  // A corner stands for a panel we could not see: open from just outside it,
  // so the popover meets the work area's edge.
  const QRect& area = anchor.available;
  QPoint corner = nearestCorner(reference, area);
  corner.ry() += corner.y() == area.top() ? -1 : 1;
  return QRect(corner, QSize(1, 1));
}

PopoverEdge chooseEdge(const QRect& anchorRect, const PopoverAnchor& anchor) {
  const QPoint centre = anchorRect.center();
  const QRect& area = anchor.available;
  const bool besideHorizontally = centre.x() < area.left() || centre.x() > area.right();
  const bool besideVertically = centre.y() < area.top() || centre.y() > area.bottom();
  if (besideHorizontally && !besideVertically)
    return centre.x() < area.left() ? PopoverEdge::RightOfLeft : PopoverEdge::LeftOfRight;
  const QRect& screen = anchor.screen.isEmpty() ? area : anchor.screen;
  return centre.y() < screen.center().y() ? PopoverEdge::Below : PopoverEdge::Above;
}

}  // namespace

bool isOnPanelStrip(QPoint point, const PopoverAnchor& anchor) {
  if (anchor.available.contains(point)) return false;
  return anchor.screen.isEmpty() || anchor.screen.contains(point);
}

PopoverPlacement placePopover(const PopoverAnchor& anchor, QSize popoverSize) {
  PopoverPlacement placement;
  placement.anchor = chooseAnchor(anchor);
  placement.edge = chooseEdge(placement.anchor, anchor);

  const QRect& a = placement.anchor;
  const int width = popoverSize.width();
  const int height = popoverSize.height();
  QPoint origin;
  switch (placement.edge) {
    case PopoverEdge::Below:
      origin = QPoint(a.center().x() - width / 2, a.bottom() + 1);
      break;
    case PopoverEdge::Above:
      origin = QPoint(a.center().x() - width / 2, a.top() - height);
      break;
    case PopoverEdge::RightOfLeft:
      origin = QPoint(a.right() + 1, a.center().y() - height / 2);
      break;
    case PopoverEdge::LeftOfRight:
      origin = QPoint(a.left() - width, a.center().y() - height / 2);
      break;
  }
  const QRect& area = anchor.available;
  placement.origin = QPoint(clampInto(origin.x(), area.left(), area.width(), width),
                            clampInto(origin.y(), area.top(), area.height(), height));
  return placement;
}

QPoint popoverOrigin(const PopoverAnchor& anchor, QSize popoverSize) {
  return placePopover(anchor, popoverSize).origin;
}

}  // namespace tokvane
