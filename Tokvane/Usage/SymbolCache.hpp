#pragma once

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QString>

class QPainter;

namespace tokvane {

// Tinted symbol renderings kept for reuse: a repaint draws the same few
// symbols (pace, refresh, settings) in the same sizes and colours, so each
// is rendered from its SVG once. Main thread only.
namespace SymbolCache {

QImage image(const QString& name, QSizeF size, const QColor& tint, qreal devicePixelRatio);
// Paints the symbol into `rect` at the painter's device ratio.
void paint(QPainter& painter, const QString& name, const QRectF& rect, const QColor& tint);

}  // namespace SymbolCache

}  // namespace tokvane
