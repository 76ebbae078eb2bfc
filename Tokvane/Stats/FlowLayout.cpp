#include "Tokvane/Stats/FlowLayout.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include <QWidget>

namespace tokvane {

std::vector<FlowLayout::Row> FlowLayout::rows(const std::vector<QSizeF>& sizes, double maxWidth, double spacing,
                                              double lineSpacing) {
  std::vector<Row> finished;
  Row line;
  double y = 0;
  for (int i = 0; i < static_cast<int>(sizes.size()); ++i) {
    const double w = sizes[static_cast<std::size_t>(i)].width();
    const double h = sizes[static_cast<std::size_t>(i)].height();
    const bool empty = line.indices.empty();
    const double candidate = empty ? w : line.width + spacing + w;
    if (candidate > maxWidth && !empty) {
      line.y = y;
      y += line.height + lineSpacing;
      finished.push_back(std::move(line));
      line = Row{};
    }
    line.width = line.indices.empty() ? w : line.width + spacing + w;
    line.indices.push_back(i);
    line.height = std::max(line.height, h);
  }
  if (!line.indices.empty()) {
    line.y = y;
    finished.push_back(std::move(line));
  }
  return finished;
}

QSizeF FlowLayout::sizeThatFits(const std::vector<QSizeF>& sizes, std::optional<double> proposedWidth,
                                double spacing, double lineSpacing) {
  const double maxWidth = proposedWidth.value_or(std::numeric_limits<double>::infinity());
  const std::vector<Row> lines = rows(sizes, maxWidth, spacing, lineSpacing);
  double width = 0;
  if (proposedWidth) {
    width = *proposedWidth;
  } else {
    for (const Row& row : lines) width = std::max(width, row.width);
  }
  const double height = lines.empty() ? 0 : lines.back().y + lines.back().height;
  return QSizeF(width, height);
}

FlowLayout::FlowLayout(double spacing, double lineSpacing, QWidget* parent)
    : QLayout(parent), spacing_(spacing), lineSpacing_(lineSpacing) {
  setContentsMargins(0, 0, 0, 0);
}

FlowLayout::~FlowLayout() {
  while (QLayoutItem* item = takeAt(0)) delete item;
}

void FlowLayout::addItem(QLayoutItem* item) { items_.append(item); }
int FlowLayout::count() const { return static_cast<int>(items_.size()); }
QLayoutItem* FlowLayout::itemAt(int index) const { return index >= 0 && index < items_.size() ? items_[index] : nullptr; }
QLayoutItem* FlowLayout::takeAt(int index) {
  return index >= 0 && index < items_.size() ? items_.takeAt(index) : nullptr;
}

std::vector<QSizeF> FlowLayout::itemSizes() const {
  std::vector<QSizeF> sizes;
  sizes.reserve(static_cast<std::size_t>(items_.size()));
  for (QLayoutItem* item : items_) {
    sizes.emplace_back(item->isEmpty() ? QSizeF(0, 0) : QSizeF(item->sizeHint()));
  }
  return sizes;
}

int FlowLayout::heightForWidth(int width) const {
  const QSizeF size = sizeThatFits(itemSizes(), static_cast<double>(width), spacing_, lineSpacing_);
  return static_cast<int>(std::ceil(size.height()));
}

QSize FlowLayout::sizeHint() const {
  const QSizeF size = sizeThatFits(itemSizes(), std::nullopt, spacing_, lineSpacing_);
  return QSize(static_cast<int>(std::ceil(size.width())), static_cast<int>(std::ceil(size.height())));
}

QSize FlowLayout::minimumSize() const { return QSize(0, 0); }

void FlowLayout::setGeometry(const QRect& rect) {
  QLayout::setGeometry(rect);
  const std::vector<QSizeF> sizes = itemSizes();
  for (const Row& row : rows(sizes, rect.width(), spacing_, lineSpacing_)) {
    double x = rect.x();
    for (int index : row.indices) {
      const QSizeF size = sizes[static_cast<std::size_t>(index)];
      items_[index]->setGeometry(QRect(QPoint(static_cast<int>(std::lround(x)),
                                              rect.y() + static_cast<int>(std::lround(row.y))),
                                       size.toSize()));
      x += size.width() + spacing_;
    }
  }
}

}  // namespace tokvane
