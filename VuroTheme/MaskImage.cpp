#include "VuroTheme/MaskImage.hpp"

#include <QPainterPath>
#include <QPixmap>
#include <cmath>
#include <qdrawutil.h>

namespace vuro {

MaskImage MaskImage::roundedRect(qreal cornerRadius, qreal devicePixelRatio) {
  const int r = std::max(0, int(std::lround(cornerRadius)));
  const int side = 2 * r + 1;
  MaskImage mask;
  mask.image = QImage(QSize(side, side) * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
  mask.image.setDevicePixelRatio(devicePixelRatio);
  mask.image.fill(Qt::transparent);
  QPainter painter(&mask.image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(Qt::black);
  painter.drawRoundedRect(QRectF(0, 0, side, side), r, r);
  painter.end();
  mask.capInsets = QMargins(r, r, r, r);
  return mask;
}

void MaskImage::draw(QPainter& painter, const QRect& target) const {
  qDrawBorderPixmap(&painter, target, capInsets, QPixmap::fromImage(image));
}

QSize MaskImage::size() const { return image.deviceIndependentSize().toSize(); }

}  // namespace vuro
