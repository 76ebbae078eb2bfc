#include "Tokvane/Stats/StatsStyle.hpp"

#include <QByteArray>
#include <QPainter>
#include <QSvgRenderer>
#include <QLayout>
#include <QWidget>
#include <cmath>
#include <map>
#include <tuple>

#include "Tokvane/Theme/SymbolImage.hpp"
#include "Tokvane/Theme/SystemColors.hpp"
#include "TokvaneCore/Presentation/ProviderDisplay.hpp"

namespace tokvane::StatsStyle {

namespace {
QImage renderLogo(ProviderID provider, qreal size, const QColor& tint, qreal devicePixelRatio);
}  // namespace

QColor accent(ProviderID provider, Appearance appearance) {
  const AccentColor colour = tokvane::accent(provider);
  switch (colour.role) {
    case AccentColor::Role::primary:
      return SystemColors::label().resolve(appearance);
    case AccentColor::Role::secondary:
      return SystemColors::secondaryLabel().resolve(appearance);
    case AccentColor::Role::rgb:
      break;
  }
  QColor rgb;
  rgb.setRgbF(static_cast<float>(colour.red), static_cast<float>(colour.green), static_cast<float>(colour.blue),
              static_cast<float>(colour.opacity));
  return rgb;
}

QImage logo(ProviderID provider, qreal size, const QColor& tint, qreal devicePixelRatio) {
  // Rows repaint often with the same few logos: keep each rendering (views
  // run on the main thread only).
  static std::map<std::tuple<ProviderID, qreal, QRgb, qreal>, QImage> cache;
  const auto key = std::make_tuple(provider, size, tint.rgba(), devicePixelRatio);
  if (const auto found = cache.find(key); found != cache.end()) return found->second;
  QImage image = renderLogo(provider, size, tint, devicePixelRatio);
  if (cache.size() > 64) cache.clear();
  cache.emplace(key, image);
  return image;
}

namespace {

QImage renderLogo(ProviderID provider, qreal size, const QColor& tint, qreal devicePixelRatio) {
  const std::string_view svg = tokvane::logo(provider);
  if (svg.empty()) return {};
  QSvgRenderer renderer(QByteArray(svg.data(), static_cast<qsizetype>(svg.size())));
  if (!renderer.isValid()) return {};
  const int pixels = std::max(1, static_cast<int>(std::lround(size * devicePixelRatio)));
  QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // Keep the logo's own proportions, centred in the square.
    QSizeF natural = renderer.defaultSize();
    if (natural.isEmpty()) natural = QSizeF(1, 1);
    natural.scale(pixels, pixels, Qt::KeepAspectRatio);
    renderer.render(&painter, QRectF(QPointF((pixels - natural.width()) / 2, (pixels - natural.height()) / 2), natural));
  }
  image = SymbolImage::tinted(image, tint);
  image.setDevicePixelRatio(devicePixelRatio);
  return image;
}

}  // namespace

namespace {

// A layout's cached sizes and those of the layouts nested in it.
void invalidateTree(QLayout* layout) {
  layout->invalidate();
  for (int i = 0; i < layout->count(); ++i) {
    if (QLayout* inner = layout->itemAt(i)->layout()) invalidateTree(inner);
  }
}

}  // namespace

void relayoutFrom(QWidget* widget) {
  for (QWidget* w = widget; w != nullptr; w = w->parentWidget()) {
    // A widget that was never shown skips its parent's layout in
    // updateGeometry, so each layout on the way is invalidated as well.
    if (w->layout() != nullptr) invalidateTree(w->layout());
    w->updateGeometry();
    if (w->isWindow()) break;
  }
}

}  // namespace tokvane::StatsStyle
