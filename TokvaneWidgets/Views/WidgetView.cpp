#include "TokvaneWidgets/Views/WidgetView.hpp"

#include <QPainter>

#include "TokvaneWidgets/Theme/WidgetPalette.hpp"
#include "TokvaneWidgets/Views/WidgetPainter.hpp"

namespace tokvane::widgets {

WidgetView::WidgetView(WidgetKind kind, QWidget* parent, qreal scale) : QWidget(parent), kind_(kind), scale_(scale) {
  model_.kind = kind;
  setFixedSize(sizeHint());
}

QSize WidgetView::sizeHint() const {
  const auto& kindInfo = info(kind_);
  return QSize(qRound(kindInfo.width * scale_), qRound(kindInfo.height * scale_));
}

std::vector<std::string> WidgetView::clockTexts(Date clock) const {
  std::vector<std::string> texts;
  auto collect = [&](const std::vector<WindowCell>& cells) {
    for (const auto& cell : cells) {
      if (cell.countdown && cell.countdown->running) texts.push_back(cell.countdown->text(clock));
    }
  };
  collect(model_.windows);
  for (const auto& row : model_.rows) collect(row.cells);
  return texts;
}

bool WidgetView::setModel(WidgetModel model, Date clock) {
  clock_ = clock;
  if (model == model_) return setClock(clock);
  model_ = std::move(model);
  shownTexts_ = clockTexts(clock);
  painted_ = false;
  update();
  return true;
}

bool WidgetView::setClock(Date clock) {
  clock_ = clock;
  auto texts = clockTexts(clock);
  if (texts == shownTexts_) return false;
  shownTexts_ = std::move(texts);
  if (!painted_) {
    update();
    return true;
  }
  // Only the countdown lines move: repaint just those.
  for (const QRectF& line : clockLines_) update(line.toAlignedRect().adjusted(-1, -1, 1, 1));
  return true;
}

void WidgetView::setRoundedCorners(bool rounded) {
  if (rounded == rounded_) return;
  rounded_ = rounded;
  painted_ = false;
  update();
}

QRectF WidgetView::refreshButtonRect() const {
  const auto& kindInfo = info(kind_);
  const QRectF rect = WidgetPainter::refreshButtonRect(model_, QSizeF(kindInfo.width, kindInfo.height));
  return QRectF(rect.topLeft() * scale_, rect.size() * scale_);
}

void WidgetView::paintEvent(QPaintEvent*) {
  ++paints_;
  QPainter painter(this);
  painter.scale(scale_, scale_);
  const auto& kindInfo = info(kind_);
  std::vector<QRectF> lines;
  WidgetPainter::paint(painter, model_, clock_, WidgetColors::of(appearanceOf(palette())),
                       QSizeF(kindInfo.width, kindInfo.height), rounded_, &lines);
  clockLines_.clear();
  for (const QRectF& line : lines) clockLines_.push_back(QRectF(line.topLeft() * scale_, line.size() * scale_));
  painted_ = true;
}

}  // namespace tokvane::widgets
