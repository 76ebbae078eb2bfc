#pragma once

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QString>

#include "TokvaneCore/Usage/ProviderID.hpp"

class QPainter;

namespace tokvane::widgets {

// The widgets' symbols (SVG files of our own drawing under Theme/Symbols,
// by symbol name) and the providers' logos (from the core's resources),
// drawn as template images: their shapes filled with one tint, kept in
// proportion and centred in the rectangle. Rendered images are cached.
namespace WidgetSymbols {

void paintSymbol(QPainter& painter, const QString& name, const QRectF& rect, const QColor& tint);
void paintLogo(QPainter& painter, ProviderID provider, const QRectF& rect, const QColor& tint);

}  // namespace WidgetSymbols

}  // namespace tokvane::widgets
