#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include "Tokvane/Popover/PopoverAnchor.hpp"

namespace tokvane {

// Which way the popover opens from its anchor.
enum class PopoverEdge {
  Below,        // anchor in the upper half of the screen (a top panel)
  Above,        // anchor in the lower half (a bottom panel)
  RightOfLeft,  // beside a vertical panel on the left
  LeftOfRight,  // beside a vertical panel on the right
};

struct PopoverPlacement {
  // The rectangle the popover is opened from (the item, the pointer, or a
  // corner of the work area).
  QRect anchor;
  PopoverEdge edge = PopoverEdge::Below;
  // The popover's top-left corner, clamped into the work area.
  QPoint origin;

  bool operator==(const PopoverPlacement&) const = default;
};

// True when the point lies on a panel strip: on the screen but outside the
// part of it that panels leave free.
bool isOnPanelStrip(QPoint point, const PopoverAnchor& anchor);

// Where a popover of this size opens for this anchor:
// - the anchor is the reported item if it lies on a panel strip, else the
//   pointer if that does, else the work-area corner nearest to whichever of
//   the two is known (the top-right corner when neither is);
// - it opens below an anchor in the upper half of the screen, above one in
//   the lower half, and beside an anchor left or right of the work area;
// - centred on the anchor along the panel, then clamped into the work area.
PopoverPlacement placePopover(const PopoverAnchor& anchor, QSize popoverSize);

// The popover's top-left corner (placePopover(...).origin).
QPoint popoverOrigin(const PopoverAnchor& anchor, QSize popoverSize);

}  // namespace tokvane
