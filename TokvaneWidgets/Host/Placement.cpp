#include "TokvaneWidgets/Host/Placement.hpp"

#include <algorithm>
#include <functional>

namespace tokvane::widgets {

QPoint placeNewWidget(const std::vector<QRect>& placed, const QRect& workArea, QSize size) {
  constexpr int gap = 16;
  const QPoint first(workArea.right() + 1 - gap - size.width(), workArea.top() + gap);
  // Candidate columns and rows: the corner's, and those beside and below
  // every placed widget.
  std::vector<int> xs = {first.x()};
  std::vector<int> ys = {first.y()};
  for (const auto& other : placed) {
    xs.push_back(other.left() - gap - size.width());
    ys.push_back(other.bottom() + 1 + gap);
  }
  std::sort(xs.begin(), xs.end(), std::greater<>());
  std::sort(ys.begin(), ys.end());
  for (int x : xs) {
    if (x < workArea.left() + gap || x > first.x()) continue;
    for (int y : ys) {
      if (y < first.y() || y + size.height() > workArea.bottom() + 1 - gap) continue;
      const QRect candidate(QPoint(x, y), size);
      const bool free = std::none_of(placed.begin(), placed.end(), [&](const QRect& other) {
        return candidate.intersects(other.adjusted(-gap + 1, -gap + 1, gap - 1, gap - 1));
      });
      if (free) return candidate.topLeft();
    }
  }
  return first;
}

}  // namespace tokvane::widgets
