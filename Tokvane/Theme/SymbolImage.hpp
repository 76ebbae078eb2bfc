#pragma once

#include <QColor>
#include <QImage>
#include <QSizeF>
#include <QString>

class QPainter;
class QRectF;

namespace tokvane {

// The symbol set: SVGs of our own drawing in Theme/Symbols/, one per symbol
// name ("arrow.clockwise.svg" is the symbol "arrow.clockwise"). Symbols are
// templates: their shapes are drawn in black and take the tint they are
// painted with.
namespace SymbolImage {

bool has(const QString& name);

// The symbol rendered at `size` logical pixels times `devicePixelRatio`,
// tinted with `tint`. A null image when the symbol does not exist.
QImage render(const QString& name, QSizeF size, const QColor& tint, qreal devicePixelRatio = 1.0);

// Paints the symbol into `rect`, tinted, at the painter's device's ratio.
void paint(QPainter& painter, const QString& name, const QRectF& rect, const QColor& tint);

// Any template image (a logo, a symbol) recoloured: its alpha with `tint`'s
// colour.
QImage tinted(const QImage& image, const QColor& tint);

}  // namespace SymbolImage

}  // namespace tokvane
