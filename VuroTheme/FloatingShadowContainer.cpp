#include "VuroTheme/FloatingShadowContainer.hpp"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <vector>

namespace vuro {

namespace {

// One pass of a box blur of `radius` pixels along rows (or columns) of an
// 8-bit alpha image; three passes approach a Gaussian.
void boxBlur(QImage& image, int radius, bool alongRows) {
  const int width = image.width(), height = image.height();
  const int lines = alongRows ? height : width;
  const int length = alongRows ? width : height;
  std::vector<int> source(static_cast<size_t>(length));
  const int window = 2 * radius + 1;
  for (int line = 0; line < lines; ++line) {
    auto at = [&](int i) -> uchar& {
      return alongRows ? image.scanLine(line)[i] : image.scanLine(i)[line];
    };
    for (int i = 0; i < length; ++i) source[size_t(i)] = at(i);
    int sum = 0;
    for (int i = -radius; i <= radius; ++i) sum += (i >= 0 && i < length) ? source[size_t(i)] : 0;
    for (int i = 0; i < length; ++i) {
      at(i) = uchar(sum / window);
      const int out = i - radius, in = i + radius + 1;
      if (out >= 0) sum -= source[size_t(out)];
      if (in < length) sum += source[size_t(in)];
    }
  }
}

}  // namespace

FloatingShadowContainer::FloatingShadowContainer(const QRect& frame, qreal margin,
                                                 qreal cornerRadius, QWidget* parent)
    : QWidget(parent), margin_(margin), cornerRadius_(cornerRadius) {
  setAttribute(Qt::WA_TranslucentBackground);
  setAttribute(Qt::WA_NoSystemBackground);
  setGeometry(frame);
  updateShadowPath();
}

qreal FloatingShadowContainer::margin() const { return margin_; }

qreal FloatingShadowContainer::cornerRadius() const { return cornerRadius_; }

const QPainterPath& FloatingShadowContainer::shadowPath() const { return path; }

const QPainterPath& FloatingShadowContainer::shadowMask() const { return mask; }

void FloatingShadowContainer::updateShadowPath() {
  const QRectF bounds(QPointF(0, 0), QSizeF(size()));
  const QRectF inner = bounds.adjusted(margin_, margin_, -margin_, -margin_);
  path = QPainterPath();
  path.addRoundedRect(inner, cornerRadius_, cornerRadius_);
  mask = QPainterPath();
  mask.setFillRule(Qt::OddEvenFill);
  mask.addRect(bounds);
  mask.addRoundedRect(inner, cornerRadius_, cornerRadius_);

  const qreal ratio = devicePixelRatioF();
  if (size().isEmpty()) {
    shadow = QImage();
    update();
    return;
  }
  QImage alpha(size() * ratio, QImage::Format_Alpha8);
  alpha.fill(0);
  {
    QPainter painter(&alpha);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(ratio, ratio);
    painter.translate(shadowOffset);
    painter.fillPath(path, QColor(0, 0, 0, 255));
  }
  // A shadow radius r spreads like a Gaussian of deviation r / 2; three
  // passes of a box of half-width b come to a deviation of about b.
  const int box = std::max(1, int(std::lround(shadowRadius / 2 * ratio)));
  for (int pass = 0; pass < 3; ++pass) {
    boxBlur(alpha, box, true);
    boxBlur(alpha, box, false);
  }
  shadow = QImage(alpha.size(), QImage::Format_ARGB32_Premultiplied);
  shadow.fill(Qt::transparent);
  {
    QPainter painter(&shadow);
    painter.setOpacity(shadowOpacity);
    painter.drawImage(0, 0, alpha);
  }
  shadow.setDevicePixelRatio(ratio);
  {
    QPainter painter(&shadow);
    painter.setRenderHint(QPainter::Antialiasing);
    // Keeps what the even-odd mask keeps: everything outside the rectangle.
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.fillPath(path, Qt::black);
  }
  update();
}

void FloatingShadowContainer::paintEvent(QPaintEvent*) {
  if (shadow.isNull()) return;
  QPainter painter(this);
  painter.drawImage(QPointF(0, 0), shadow);
}

void FloatingShadowContainer::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  updateShadowPath();
}

}  // namespace vuro
