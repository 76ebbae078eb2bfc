#include "Tokvane/Popover/SegmentedControl.hpp"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "Tokvane/Theme/Fonts.hpp"
#include "Tokvane/Theme/SystemColors.hpp"

namespace tokvane {

namespace {

constexpr int segmentPadding = 14;
constexpr int controlHeight = 24;
constexpr int inset = 2;

}  // namespace

SegmentedControl::SegmentedControl(QStringList labels, QWidget* parent) : QWidget(parent), labels_(std::move(labels)) {
  setFont(Fonts::system(13));
  setFocusPolicy(Qt::TabFocus);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setAccessibleName(QStringLiteral("View"));
}

void SegmentedControl::setCurrent(int index) {
  if (index < 0 || index >= labels_.size() || index == current_) return;
  current_ = index;
  update();
}

int SegmentedControl::segmentWidth() const {
  QFontMetrics metrics(font());
  int widest = 0;
  for (const QString& label : labels_) widest = std::max(widest, metrics.horizontalAdvance(label));
  return widest + 2 * segmentPadding;
}

QSize SegmentedControl::sizeHint() const {
  return QSize(segmentWidth() * static_cast<int>(labels_.size()) + 2 * inset, controlHeight);
}

QRect SegmentedControl::segmentRect(int index) const {
  return QRect(inset + index * segmentWidth(), inset, segmentWidth(), height() - 2 * inset);
}

void SegmentedControl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const Appearance appearance = appearanceOf(palette());
  painter.setPen(Qt::NoPen);
  painter.setBrush(SystemColors::fill().resolve(appearance));
  painter.drawRoundedRect(QRectF(rect()), 6, 6);

  const QRectF chosen = QRectF(segmentRect(current_));
  painter.setBrush(appearance == Appearance::dark ? QColor(255, 255, 255, 56) : QColor(255, 255, 255));
  painter.setPen(QPen(QColor(0, 0, 0, appearance == Appearance::dark ? 0 : 20), 0.5));
  painter.drawRoundedRect(chosen.adjusted(0.25, 0.25, -0.25, -0.25), 4.5, 4.5);

  painter.setFont(font());
  for (int i = 0; i < labels_.size(); ++i) {
    if (i > 0 && i != current_ && i - 1 != current_) {
      const QRect segment = segmentRect(i);
      painter.fillRect(QRectF(segment.left() - 0.5, segment.top() + 4, 1, segment.height() - 8),
                       SystemColors::separator().resolve(appearance));
    }
    painter.setPen(SystemColors::label().resolve(appearance));
    painter.drawText(segmentRect(i), Qt::AlignCenter, labels_[i]);
  }
}

void SegmentedControl::mousePressEvent(QMouseEvent* event) {
  for (int i = 0; i < labels_.size(); ++i) {
    if (segmentRect(i).contains(event->position().toPoint())) {
      choose(i);
      return;
    }
  }
}

void SegmentedControl::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Left) choose(std::max(0, current_ - 1));
  else if (event->key() == Qt::Key_Right) choose(std::min(static_cast<int>(labels_.size()) - 1, current_ + 1));
  else QWidget::keyPressEvent(event);
}

void SegmentedControl::choose(int index) {
  if (index == current_) return;
  current_ = index;
  update();
  if (onChange) onChange(index);
}

}  // namespace tokvane
