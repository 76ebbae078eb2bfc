#include "VuroTheme/MaskImage.hpp"

#include <QPainterPath>
#include <cmath>

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
  mask.cornerRadius = cornerRadius;
  return mask;
}

void MaskImage::draw(QPainter& painter, const QRect& target) const {
  const qreal ratio = painter.device() != nullptr ? painter.device()->devicePixelRatioF() : 1.0;
  if (!qFuzzyCompare(ratio, image.devicePixelRatio())) {
    roundedRect(cornerRadius, ratio).draw(painter, target);
    return;
  }
  // Nine pieces: the corners as they are, the edges stretched along their
  // length, the middle both ways. Source rectangles are in image pixels.
  const qreal r = image.devicePixelRatio();
  const qreal sw = image.width(), sh = image.height();
  const qreal sl = capInsets.left() * r, st = capInsets.top() * r;
  const qreal sr = capInsets.right() * r, sb = capInsets.bottom() * r;
  const qreal sx[] = {0, sl, sw - sr, sw};
  const qreal sy[] = {0, st, sh - sb, sh};
  const qreal tx[] = {qreal(target.left()), target.left() + qreal(capInsets.left()),
                      target.left() + target.width() - qreal(capInsets.right()),
                      qreal(target.left() + target.width())};
  const qreal ty[] = {qreal(target.top()), target.top() + qreal(capInsets.top()),
                      target.top() + target.height() - qreal(capInsets.bottom()),
                      qreal(target.top() + target.height())};
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      const QRectF from(QPointF(sx[column], sy[row]), QPointF(sx[column + 1], sy[row + 1]));
      const QRectF to(QPointF(tx[column], ty[row]), QPointF(tx[column + 1], ty[row + 1]));
      if (from.isEmpty() || to.isEmpty()) continue;
      painter.drawImage(to, image, from);
    }
  }
}

QSize MaskImage::size() const { return image.deviceIndependentSize().toSize(); }

}  // namespace vuro
