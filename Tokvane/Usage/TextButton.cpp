#include "Tokvane/Usage/TextButton.hpp"

#include <QPainter>

namespace tokvane {

TextButton::TextButton(const QString& text, const QFont& font, DynamicColor color, QWidget* parent)
    : QAbstractButton(parent), color_(std::move(color)) {
  setText(text);
  setFont(font);
  setCursor(Qt::PointingHandCursor);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize TextButton::sizeHint() const {
  QFontMetrics metrics(font());
  return QSize(metrics.horizontalAdvance(text()) + 2, metrics.height());
}

void TextButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QColor color = color_.resolve(palette());
  if (isDown()) color = color.darker(130);
  painter.setPen(color);
  painter.setFont(font());
  painter.drawText(rect(), Qt::AlignCenter, text());
}

}  // namespace tokvane
