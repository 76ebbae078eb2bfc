#include "Tokvane/Theme/SymbolImage.hpp"

#include <QFile>
#include <QPainter>
#include <QRectF>
#include <QSvgRenderer>
#include <cmath>

namespace tokvane::SymbolImage {

namespace {

QString resourcePath(const QString& name) { return QStringLiteral(":/symbols/") + name + QStringLiteral(".svg"); }

}  // namespace

bool has(const QString& name) { return QFile::exists(resourcePath(name)); }

QImage tinted(const QImage& image, const QColor& tint) {
  if (image.isNull()) return image;
  QImage result = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  QPainter painter(&result);
  painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
  painter.fillRect(result.rect(), tint);
  painter.end();
  result.setDevicePixelRatio(image.devicePixelRatio());
  return result;
}

QImage render(const QString& name, QSizeF size, const QColor& tint, qreal devicePixelRatio) {
  QSvgRenderer renderer(resourcePath(name));
  if (!renderer.isValid() || size.isEmpty()) return {};
  QSize pixels(static_cast<int>(std::ceil(size.width() * devicePixelRatio)),
               static_cast<int>(std::ceil(size.height() * devicePixelRatio)));
  QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // Keep the drawing's aspect ratio, centred.
    QSizeF drawn = renderer.defaultSize().toSizeF().scaled(QSizeF(pixels), Qt::KeepAspectRatio);
    QRectF target(QPointF((pixels.width() - drawn.width()) / 2, (pixels.height() - drawn.height()) / 2), drawn);
    renderer.render(&painter, target);
  }
  image.setDevicePixelRatio(devicePixelRatio);
  return tinted(image, tint);
}

void paint(QPainter& painter, const QString& name, const QRectF& rect, const QColor& tint) {
  qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
  QImage image = render(name, rect.size(), tint, ratio);
  if (!image.isNull()) painter.drawImage(rect, image);
}

}  // namespace tokvane::SymbolImage
