#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <vector>

namespace tokvane::widgets {

// Where a new widget goes: the first spot, in columns from the work area's
// top right corner downwards (16 px from the edges and between widgets),
// that overlaps none of the placed widgets; the top right corner itself
// when every spot is taken.
QPoint placeNewWidget(const std::vector<QRect>& placed, const QRect& workArea, QSize size);

}  // namespace tokvane::widgets
