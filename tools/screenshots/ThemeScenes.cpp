// The theme's colours and symbols side by side, to check both appearances.

#include <QPainter>

#include "Tokvane/Theme/Fonts.hpp"
#include "Tokvane/Theme/SymbolImage.hpp"
#include "Tokvane/Theme/SystemColors.hpp"
#include "tools/screenshots/Scene.hpp"

namespace tokvane::screenshots {
namespace {

QImage renderSwatches(Appearance appearance) {
  struct Named {
    const char* name;
    DynamicColor color;
  };
  const Named colours[] = {
      {"label", SystemColors::label()},   {"secondaryLabel", SystemColors::secondaryLabel()},
      {"red", SystemColors::red()},       {"orange", SystemColors::orange()},
      {"yellow", SystemColors::yellow()}, {"green", SystemColors::green()},
      {"blue", SystemColors::blue()},     {"purple", SystemColors::purple()},
  };
  const qreal ratio = 2.0;
  const int rowHeight = 22;
  QImage image(QSize(220, rowHeight * (std::size(colours) + 1) + 8) * ratio, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(ratio);
  image.fill(SystemColors::windowBackground().resolve(appearance));
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setFont(Fonts::system(12));
  int y = 4;
  for (const auto& entry : colours) {
    painter.fillRect(QRectF(8, y + 3, 16, 16), entry.color.resolve(appearance));
    painter.setPen(SystemColors::label().resolve(appearance));
    painter.drawText(QRectF(32, y, 180, rowHeight), Qt::AlignVCenter, QString::fromLatin1(entry.name));
    y += rowHeight;
  }
  SymbolImage::paint(painter, "arrow.clockwise", QRectF(8, y + 3, 16, 16), SystemColors::label().resolve(appearance));
  return image;
}

SceneRegistration swatches("theme-swatches", renderSwatches);

}  // namespace
}  // namespace tokvane::screenshots
