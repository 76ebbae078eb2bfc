#include "Tokvane/StatusItem/StatusIcon.hpp"

#include <QFile>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>
#include <cmath>

#include "Tokvane/Theme/Fonts.hpp"
#include "Tokvane/Theme/SymbolImage.hpp"
#include "TokvaneCore/Presentation/ProviderDisplay.hpp"

namespace tokvane {

QString chipNumber(const std::string& text) {
  std::string head = text.substr(0, text.find(" · "));
  if (!head.empty() && head.back() == '%') head.pop_back();
  return QString::fromStdString(head);
}

StatusPresentation presentStatus(const StatusTitle& title, bool hostShowsLabel) {
  StatusPresentation presentation;
  presentation.tooltip = QString::fromStdString(title.tooltip);
  if (title.text) presentation.label = QString::fromStdString(*title.text);
  presentation.icon.severity = title.severity;
  if (hostShowsLabel) {
    presentation.icon.kind = StatusIcon::Kind::glyph;
    presentation.icon.provider = title.provider;
  } else {
    presentation.icon.kind = StatusIcon::Kind::chip;
    if (title.text) presentation.icon.chipText = chipNumber(*title.text);
  }
  return presentation;
}

namespace StatusIconArt {
namespace {

QByteArray symbolSVG() {
  QFile file(QStringLiteral(":/symbols/") + QString::fromLatin1(appSymbolName.data(), appSymbolName.size()) +
             QStringLiteral(".svg"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

// The glyph's shapes in one colour, centred in `pixels` with a margin.
QByteArray sourceSVG(const StatusIcon& icon) {
  if (icon.provider) {
    const std::string_view svg = logo(*icon.provider);
    if (!svg.empty()) return QByteArray(svg.data(), static_cast<qsizetype>(svg.size()));
  }
  return symbolSVG();
}

QImage glyphMask(const StatusIcon& icon, int pixels, qreal scale) {
  QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QByteArray svg = sourceSVG(icon);
  QSvgRenderer renderer(svg);
  if (!renderer.isValid()) return image;
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal side = pixels * scale;
  QSizeF drawn = renderer.defaultSize().toSizeF().scaled(QSizeF(side, side), Qt::KeepAspectRatio);
  renderer.render(&painter, QRectF(QPointF((pixels - drawn.width()) / 2, (pixels - drawn.height()) / 2), drawn));
  return image;
}

QImage renderGlyph(const StatusIcon& icon, int pixels) {
  const QImage mask = glyphMask(icon, pixels, 0.82);
  if (!icon.isSymbolic()) return SymbolImage::tinted(mask, glyphTint(icon.severity));
  // A white glyph on a dark rim: the rim is the mask spread by about a
  // twelfth of the size in every direction.
  QImage result(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
  result.fill(Qt::transparent);
  QPainter painter(&result);
  const QImage rim = SymbolImage::tinted(mask, QColor(0, 0, 0, 170));
  const qreal spread = std::max(1.0, pixels / 16.0);
  for (int step = 0; step < 8; ++step) {
    const qreal angle = step * M_PI / 4;
    painter.drawImage(QPointF(std::cos(angle) * spread, std::sin(angle) * spread), rim);
  }
  painter.drawImage(QPointF(0, 0), SymbolImage::tinted(mask, Qt::white));
  return result;
}

QImage renderChip(const StatusIcon& icon, int pixels) {
  QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF square(0.5, 0.5, pixels - 1.0, pixels - 1.0);
  const qreal radius = pixels * 0.22;
  painter.setPen(QPen(QColor(255, 255, 255, 90), std::max(1.0, pixels / 22.0)));
  painter.setBrush(chipColor(icon.severity));
  painter.drawRoundedRect(square, radius, radius);
  if (icon.chipText.isEmpty()) {
    StatusIcon glyph{StatusIcon::Kind::glyph, std::nullopt, Severity::warning, {}};
    painter.drawImage(QPointF(0, 0), SymbolImage::tinted(glyphMask(glyph, pixels, 0.7), Qt::white));
    return image;
  }
  // The largest bold size at which the number fits the chip.
  const qreal maxWidth = pixels * 0.86;
  const qreal maxHeight = pixels * 0.66;
  qreal size = maxHeight;
  QFont font = Fonts::system(size, QFont::Bold);
  for (; size > 4; size -= 0.5) {
    font.setPixelSize(static_cast<int>(std::floor(size)));
    const QFontMetricsF metrics(font);
    if (metrics.horizontalAdvance(icon.chipText) <= maxWidth && metrics.capHeight() <= maxHeight * 0.75) break;
  }
  painter.setFont(font);
  painter.setPen(Qt::white);
  // Centre on the digits' cap height, not on the line box.
  const QFontMetricsF metrics(font);
  const qreal width = metrics.horizontalAdvance(icon.chipText);
  const QPointF baseline((pixels - width) / 2, (pixels + metrics.capHeight()) / 2);
  painter.drawText(baseline, icon.chipText);
  return image;
}

}  // namespace

QColor chipColor(Severity severity) {
  switch (severity) {
    case Severity::normal: return QColor(74, 74, 80);
    case Severity::warning: return QColor(196, 90, 0);
    case Severity::critical: return QColor(200, 16, 46);
  }
  return QColor(74, 74, 80);
}

QColor glyphTint(Severity severity) {
  switch (severity) {
    case Severity::normal: return Qt::white;
    case Severity::warning: return QColor(242, 140, 0);
    case Severity::critical: return QColor(229, 53, 43);
  }
  return Qt::white;
}

QImage render(const StatusIcon& icon, int pixels) {
  if (pixels <= 0) return {};
  return icon.kind == StatusIcon::Kind::chip ? renderChip(icon, pixels) : renderGlyph(icon, pixels);
}

QByteArray glyphSVG(const StatusIcon& icon) {
  if (icon.kind != StatusIcon::Kind::glyph) return {};
  // Hosts recolour a symbolic icon by overriding the fill of its shapes, so
  // strokes would turn into blobs: the glyph is traced into filled runs of
  // pixels on a fine grid, one path, which any host draws smoothly scaled.
  constexpr int grid = 64;
  const QImage mask = glyphMask(icon, grid, 0.82);
  QByteArray path;
  for (int y = 0; y < grid; ++y) {
    const QRgb* row = reinterpret_cast<const QRgb*>(mask.constScanLine(y));
    int x = 0;
    while (x < grid) {
      while (x < grid && qAlpha(row[x]) < 128) ++x;
      const int start = x;
      while (x < grid && qAlpha(row[x]) >= 128) ++x;
      if (x > start) path += "M" + QByteArray::number(start) + " " + QByteArray::number(y) + "h" +
                             QByteArray::number(x - start) + "v1h-" + QByteArray::number(x - start) + "z";
    }
  }
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"16\" height=\"16\" viewBox=\"0 0 64 64\">"
         "<path fill=\"#000\" d=\"" + path + "\"/></svg>\n";
}

}  // namespace StatusIconArt
}  // namespace tokvane
