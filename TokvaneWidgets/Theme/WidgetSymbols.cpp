#include "TokvaneWidgets/Theme/WidgetSymbols.hpp"

#include <QFile>
#include <QHash>
#include <QPainter>
#include <QSvgRenderer>
#include <cmath>

#include "TokvaneCore/Presentation/ProviderDisplay.hpp"

namespace tokvane::widgets::WidgetSymbols {

namespace {

// Renders the drawing in black at the pixel size, then fills its shapes
// with the tint.
QImage render(QSvgRenderer& renderer, QSizeF size, const QColor& tint, qreal ratio) {
  if (!renderer.isValid() || size.isEmpty()) return {};
  const QSize pixels(static_cast<int>(std::ceil(size.width() * ratio)),
                     static_cast<int>(std::ceil(size.height() * ratio)));
  QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const QSizeF drawn = renderer.defaultSize().toSizeF().scaled(QSizeF(pixels), Qt::KeepAspectRatio);
  renderer.render(&painter,
                  QRectF(QPointF((pixels.width() - drawn.width()) / 2, (pixels.height() - drawn.height()) / 2), drawn));
  painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
  painter.fillRect(image.rect(), tint);
  painter.end();
  image.setDevicePixelRatio(ratio);
  return image;
}

QString cacheKey(const QString& name, const QRectF& rect, const QColor& tint, qreal ratio) {
  return name + QLatin1Char('|') + QString::number(rect.width()) + QLatin1Char('x') + QString::number(rect.height()) +
         QLatin1Char('|') + QString::number(tint.rgba(), 16) + QLatin1Char('|') + QString::number(ratio);
}

QHash<QString, QImage>& cache() {
  static QHash<QString, QImage> images;
  return images;
}

template <typename MakeRenderer>
void paintCached(QPainter& painter, const QString& name, const QRectF& rect, const QColor& tint,
                 MakeRenderer makeRenderer) {
  const qreal ratio = painter.device() != nullptr ? painter.device()->devicePixelRatioF() : 1.0;
  const QString key = cacheKey(name, rect, tint, ratio);
  auto found = cache().constFind(key);
  if (found == cache().constEnd()) {
    if (cache().size() > 256) cache().clear();
    QSvgRenderer renderer;
    makeRenderer(renderer);
    found = cache().insert(key, render(renderer, rect.size(), tint, ratio));
  }
  if (!found->isNull()) painter.drawImage(rect, *found);
}

}  // namespace

void paintSymbol(QPainter& painter, const QString& name, const QRectF& rect, const QColor& tint) {
  paintCached(painter, QStringLiteral("symbol:") + name, rect, tint, [&](QSvgRenderer& renderer) {
    renderer.load(QStringLiteral(":/widget-symbols/") + name + QStringLiteral(".svg"));
  });
}

void paintLogo(QPainter& painter, ProviderID provider, const QRectF& rect, const QColor& tint) {
  paintCached(painter, QStringLiteral("logo:") + QString::number(static_cast<int>(provider)), rect, tint,
              [&](QSvgRenderer& renderer) {
                const std::string_view svg = logo(provider);
                if (!svg.empty()) renderer.load(QByteArray(svg.data(), static_cast<qsizetype>(svg.size())));
              });
}

}  // namespace tokvane::widgets::WidgetSymbols
