#include "Tokvane/Usage/SymbolCache.hpp"

#include <QPainter>
#include <map>
#include <tuple>

#include "Tokvane/Theme/SymbolImage.hpp"

namespace tokvane::SymbolCache {

namespace {

using Key = std::tuple<QString, qreal, qreal, QRgb, qreal>;

// A handful of entries in practice; bounded so that odd sizes cannot grow it.
constexpr size_t maximumEntries = 64;

}  // namespace

QImage image(const QString& name, QSizeF size, const QColor& tint, qreal devicePixelRatio) {
  static std::map<Key, QImage> cache;
  const Key key{name, size.width(), size.height(), tint.rgba(), devicePixelRatio};
  if (auto found = cache.find(key); found != cache.end()) return found->second;
  QImage rendered = SymbolImage::render(name, size, tint, devicePixelRatio);
  if (cache.size() >= maximumEntries) cache.clear();
  cache.emplace(key, rendered);
  return rendered;
}

void paint(QPainter& painter, const QString& name, const QRectF& rect, const QColor& tint) {
  const qreal ratio = painter.device() != nullptr ? painter.device()->devicePixelRatioF() : 1.0;
  const QImage rendered = image(name, rect.size(), tint, ratio);
  if (!rendered.isNull()) painter.drawImage(rect, rendered);
}

}  // namespace tokvane::SymbolCache
