#include "Tokvane/Usage/ProgressSpinner.hpp"

#include <QPainter>

#include "Tokvane/Theme/SystemColors.hpp"

namespace tokvane {

ProgressSpinner::ProgressSpinner(int size, QWidget* parent) : QWidget(parent), size_(size) {
  setFixedSize(size, size);
}

QSize ProgressSpinner::sizeHint() const { return QSize(size_, size_); }

void ProgressSpinner::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QPen pen(SystemColors::secondaryLabel().resolve(palette()), 1.6);
  pen.setCapStyle(Qt::RoundCap);
  painter.setPen(pen);
  QRectF box = QRectF(rect()).adjusted(2, 2, -2, -2);
  painter.drawArc(box, -angle_ * 16, 270 * 16);
}

void ProgressSpinner::showEvent(QShowEvent*) {
  if (timer_ == 0) timer_ = startTimer(50);
}

void ProgressSpinner::hideEvent(QHideEvent*) {
  if (timer_ != 0) killTimer(timer_);
  timer_ = 0;
}

void ProgressSpinner::timerEvent(QTimerEvent*) {
  angle_ = (angle_ + 30) % 360;
  update();
}

}  // namespace tokvane
