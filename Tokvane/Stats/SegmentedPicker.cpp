#include "Tokvane/Stats/SegmentedPicker.hpp"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "Tokvane/Theme/Fonts.hpp"
#include "Tokvane/Theme/SystemColors.hpp"

namespace tokvane {

namespace {
constexpr double fontSize = 11;
constexpr double controlHeight = 20;
constexpr double padding = 10;
constexpr double inset = 2;
}  // namespace

SegmentedPicker::SegmentedPicker(const QString& accessibleLabel, QStringList options, QWidget* parent)
    : QWidget(parent), options_(std::move(options)) {
  setAccessibleName(accessibleLabel);
  setFocusPolicy(Qt::TabFocus);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SegmentedPicker::setSelectedIndex(int index) {
  if (index < 0 || index >= options_.size() || index == selected_) return;
  selected_ = index;
  update();
}

void SegmentedPicker::choose(int index) {
  if (index < 0 || index >= options_.size() || index == selected_) return;
  selected_ = index;
  update();
  emit chosen(index);
}

double SegmentedPicker::segmentWidth() const {
  const QFontMetricsF metrics(Fonts::system(fontSize, QFont::Medium));
  double widest = 0;
  for (const QString& option : options_) widest = std::max(widest, metrics.horizontalAdvance(option));
  return std::ceil(widest + 2 * padding);
}

QSize SegmentedPicker::sizeHint() const {
  return QSize(static_cast<int>(segmentWidth() * std::max<qsizetype>(1, options_.size()) + 2 * inset),
               static_cast<int>(controlHeight));
}

int SegmentedPicker::segmentAt(QPointF point) const {
  if (options_.isEmpty() || point.y() < 0 || point.y() > this->height()) return -1;
  const double w = (width() - 2 * inset) / options_.size();
  const int index = static_cast<int>(std::floor((point.x() - inset) / w));
  return index >= 0 && index < options_.size() ? index : -1;
}

void SegmentedPicker::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const Appearance appearance = appearanceOf(palette());
  const QRectF frame(0, 0, width(), this->height());
  painter.setPen(Qt::NoPen);
  painter.setBrush(SystemColors::fill().resolve(appearance));
  painter.drawRoundedRect(frame, 6, 6);

  const double w = (frame.width() - 2 * inset) / std::max<qsizetype>(1, options_.size());
  const QFont font = Fonts::system(fontSize, QFont::Medium);
  painter.setFont(font);
  for (int i = 0; i < options_.size(); ++i) {
    const QRectF segment(inset + i * w, inset, w, frame.height() - 2 * inset);
    if (i == selected_) {
      QColor face = appearance == Appearance::dark ? QColor(255, 255, 255, 56) : QColor(255, 255, 255);
      painter.setPen(QPen(SystemColors::separator().resolve(appearance), 0.5));
      painter.setBrush(face);
      painter.drawRoundedRect(segment, 4.5, 4.5);
    } else if (i > 0 && i - 1 != selected_) {
      painter.setPen(QPen(SystemColors::separator().resolve(appearance), 1));
      painter.drawLine(QPointF(segment.left(), segment.top() + 4), QPointF(segment.left(), segment.bottom() - 4));
    }
    painter.setPen(SystemColors::label().resolve(appearance));
    painter.drawText(segment, Qt::AlignCenter, options_[i]);
  }
  if (hasFocus()) {
    painter.setPen(QPen(SystemColors::accent().resolve(appearance), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(frame.adjusted(1, 1, -1, -1), 6, 6);
  }
}

void SegmentedPicker::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  choose(segmentAt(event->position()));
}

void SegmentedPicker::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Left) {
    choose(selected_ - 1);
  } else if (event->key() == Qt::Key_Right) {
    choose(selected_ + 1);
  } else {
    QWidget::keyPressEvent(event);
  }
}

}  // namespace tokvane
