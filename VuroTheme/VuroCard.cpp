#include "VuroTheme/VuroCard.hpp"

#include <QPainter>
#include <QPen>
#include <QVBoxLayout>

namespace vuro {

VuroCard::VuroCard(QWidget* content, qreal cornerRadius, QWidget* parent)
    : QWidget(parent), radius(cornerRadius) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  if (content != nullptr) layout->addWidget(content);
}

qreal VuroCard::cornerRadius() const { return radius; }

QRectF VuroCard::fillRect(const QRectF& bounds) { return bounds; }

QRectF VuroCard::borderRect(const QRectF& bounds) {
  const qreal inset = borderWidth / 2;
  return bounds.adjusted(inset, inset, -inset, -inset);
}

void VuroCard::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor primary = palette().color(QPalette::WindowText);
  QColor fill = primary;
  fill.setAlphaF(float(fillOpacity));
  QColor border = primary;
  border.setAlphaF(float(borderOpacity));
  const QRectF bounds = QRectF(rect());
  painter.setPen(Qt::NoPen);
  painter.setBrush(fill);
  painter.drawRoundedRect(fillRect(bounds), radius, radius);
  painter.setPen(QPen(border, borderWidth));
  painter.setBrush(Qt::NoBrush);
  const qreal inset = borderWidth / 2;
  painter.drawRoundedRect(borderRect(bounds), std::max<qreal>(0, radius - inset),
                          std::max<qreal>(0, radius - inset));
}

}  // namespace vuro
