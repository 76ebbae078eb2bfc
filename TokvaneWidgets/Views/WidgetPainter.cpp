#include "TokvaneWidgets/Views/WidgetPainter.hpp"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "TokvaneCore/Presentation/ProviderDisplay.hpp"
#include "TokvaneWidgets/Display/MiniBar.hpp"
#include "TokvaneWidgets/Display/Sparkline.hpp"
#include "TokvaneWidgets/Theme/WidgetSymbols.hpp"

namespace tokvane::widgets::WidgetPainter {

namespace {

constexpr qreal refreshSize = 18;

// Where the painting in progress put lines that change with the clock.
thread_local std::vector<QRectF>* movingLines = nullptr;

void noteMovingLine(const WindowCell& cell, const QRectF& line) {
  if (movingLines != nullptr && cell.countdown && cell.countdown->running) movingLines->push_back(line);
}
constexpr qreal headerHeight = 18;

QString qs(const std::string& text) { return QString::fromStdString(text); }

QColor withOpacity(QColor color, qreal opacity) {
  color.setAlphaF(static_cast<float>(color.alphaF() * opacity));
  return color;
}

qreal textWidth(const QFont& font, const QString& text) { return QFontMetricsF(font).horizontalAdvance(text); }

// One line of text with its top at `top`, cut with an ellipsis to `width`.
// Returns the width drawn.
qreal drawLine(QPainter& painter, const QFont& font, const QColor& color, qreal x, qreal top, qreal width,
               const QString& text) {
  if (width <= 0 || text.isEmpty()) return 0;
  QFontMetricsF metrics(font);
  const QString shown = metrics.elidedText(text, Qt::ElideRight, width);
  painter.setFont(font);
  painter.setPen(color);
  painter.drawText(QPointF(x, top + metrics.ascent()), shown);
  return metrics.horizontalAdvance(shown);
}

// Text on a given baseline.
void drawAtBaseline(QPainter& painter, const QFont& font, const QColor& color, qreal x, qreal baseline,
                    const QString& text) {
  painter.setFont(font);
  painter.setPen(color);
  painter.drawText(QPointF(x, baseline), text);
}

QRectF contentRect(QSizeF size) {
  return QRectF(contentMargin, contentMargin, size.width() - 2 * contentMargin, size.height() - 2 * contentMargin);
}

void paintRefreshButton(QPainter& painter, const QRectF& frame, const WidgetColors& colors) {
  const qreal glyph = 11;
  QRectF symbol(frame.center().x() - glyph / 2, frame.center().y() - glyph / 2, glyph, glyph);
  WidgetSymbols::paintSymbol(painter, QStringLiteral("arrow.clockwise"), symbol, colors.secondary);
}

// The orange "Updated … ago", right-aligned to `right` when `alignRight`.
qreal staleWidth(const WidgetModel& model) {
  return model.staleText ? textWidth(widgetFont(10, QFont::Medium), qs(*model.staleText)) : 0;
}

void paintStale(QPainter& painter, const WidgetModel& model, const WidgetColors& colors, qreal x, qreal top,
                qreal width) {
  if (!model.staleText) return;
  drawLine(painter, widgetFont(10, QFont::Medium), colors.orange, x, top, width, qs(*model.staleText));
}

// The provider's logo, tinted with its accent, and its name: the logo is a
// square of size - 1, the name in `size` medium. Returns the width used.
qreal paintProviderName(QPainter& painter, ProviderID provider, qreal size, qreal x, qreal centreY, qreal width,
                        const WidgetColors& colors) {
  const qreal logoSide = size - 1;
  WidgetSymbols::paintLogo(painter, provider, QRectF(x, centreY - logoSide / 2, logoSide, logoSide),
                           colors.accent(accent(provider)));
  const QFont font = widgetFont(size, QFont::Medium);
  QFontMetricsF metrics(font);
  const qreal top = centreY - metrics.height() / 2;
  return logoSide + 4 +
         drawLine(painter, font, colors.primary, x + logoSide + 4, top, width - logoSide - 4,
                  QString::fromUtf8(displayName(provider).data(), static_cast<qsizetype>(displayName(provider).size())));
}

void paintMiniBar(QPainter& painter, const WindowCell& cell, const QRectF& rect, const QColor& accentColor,
                  const WidgetColors& colors) {
  const MiniBarGeometry geometry = MiniBarGeometry::make(cell.leftFraction, cell.timeLeftFraction, rect.width());
  painter.save();
  painter.setOpacity(cell.dimmed ? 0.6 : 1.0);
  QPainterPath clip;
  clip.addRoundedRect(rect, rect.height() / 3, rect.height() / 3);
  painter.setClipPath(clip);
  painter.fillRect(rect, withOpacity(accentColor, 0.14));
  painter.fillRect(QRectF(rect.left(), rect.top(), geometry.fillWidth, rect.height()), withOpacity(accentColor, 0.6));
  if (geometry.markerX) {
    painter.fillRect(QRectF(rect.left() + *geometry.markerX, rect.top(), MiniBarGeometry::markerWidth, rect.height()),
                     colors.primary);
  }
  painter.restore();
}

void paintEmptyState(QPainter& painter, QSizeF size, const WidgetColors& colors) {
  const QRectF content = contentRect(size);
  const QFont font = widgetFont(12, QFont::Medium);
  QFontMetricsF metrics(font);
  const qreal symbol = 22;
  const qreal total = symbol + 6 + metrics.height();
  const qreal top = content.center().y() - total / 2;
  WidgetSymbols::paintSymbol(painter, QString::fromLatin1(appSymbolName.data(), appSymbolName.size()),
                             QRectF(content.center().x() - symbol / 2, top, symbol, symbol), colors.secondary);
  const QString text = QStringLiteral("Open Tokvane to start");
  const qreal width = std::min(metrics.horizontalAdvance(text), content.width());
  drawLine(painter, font, colors.secondary, content.center().x() - width / 2, top + symbol + 6, content.width(),
           text);
}

// The small widget's window: label and countdown, share left, thin bar.
qreal paintSmallWindow(QPainter& painter, const WindowCell& cell, Date clock, qreal left, qreal top, qreal width,
                       const QColor& accentColor, const WidgetColors& colors) {
  const QFont lineFont = widgetFont(10);
  QFontMetricsF lineMetrics(lineFont);
  qreal countdownWidth = 0;
  if (cell.countdown) {
    const QString text = qs(cell.countdown->text(clock));
    countdownWidth = std::min(lineMetrics.horizontalAdvance(text), width);
    drawLine(painter, lineFont, colors.secondary, left + width - countdownWidth, top, countdownWidth, text);
  }
  drawLine(painter, lineFont, colors.secondary, left, top, width - countdownWidth - (cell.countdown ? 2 : 0),
           qs(cell.label));
  noteMovingLine(cell, QRectF(left, top, width, lineMetrics.height()));
  qreal y = top + lineMetrics.height() + 3;

  const QFont percentFont = widgetFont(17, QFont::DemiBold);
  const QFont leftFont = widgetFont(11);
  QFontMetricsF percentMetrics(percentFont);
  const qreal baseline = y + percentMetrics.ascent();
  const QString percent = qs(cell.percentLeftText);
  drawAtBaseline(painter, percentFont, colors.primary, left, baseline, percent);
  drawAtBaseline(painter, leftFont, colors.secondary, left + percentMetrics.horizontalAdvance(percent) + 3, baseline,
                 QStringLiteral("left"));
  y += percentMetrics.height() + 3;

  paintMiniBar(painter, cell, QRectF(left, y, width, 6), accentColor, colors);
  return y + 6 - top;
}

void paintSmall(QPainter& painter, const WidgetModel& model, Date clock, QSizeF size, const WidgetColors& colors) {
  const QRectF content = contentRect(size);
  paintProviderName(painter, model.provider, 13, content.left(), content.top() + headerHeight / 2,
                    content.width() - refreshSize - 4, colors);
  paintRefreshButton(painter, refreshButtonRect(model, size), colors);

  const QFont badgeFont = widgetFont(10, QFont::Medium);
  const qreal badgeHeight = QFontMetricsF(badgeFont).height();
  const qreal badgeTop = content.bottom() - badgeHeight;
  paintStale(painter, model, colors, content.left(), badgeTop, content.width());

  qreal y = content.top() + headerHeight + 8;
  const QColor accentColor = colors.accent(accent(model.provider));
  if (!model.windows.empty()) {
    for (const auto& cell : model.windows) {
      y += paintSmallWindow(painter, cell, clock, content.left(), y, content.width(), accentColor, colors) + 8;
    }
    return;
  }
  // No windows: the note and the 30-day cost in the middle of the free space.
  const QFont font = widgetFont(12);
  const qreal lineHeight = QFontMetricsF(font).height();
  const qreal bottom = model.staleText ? badgeTop - 8 : content.bottom();
  const qreal block = lineHeight * 2 + 8;
  const qreal top = y + std::max(0.0, (bottom - y - block) / 2);
  drawLine(painter, font, colors.secondary, content.left(), top, content.width(), qs(model.note));
  drawLine(painter, font, colors.tertiary, content.left(), top + lineHeight + 8, content.width(), qs(model.costLine));
}

// The header of the medium and large widgets.
void paintHeader(QPainter& painter, const WidgetModel& model, QSizeF size, const WidgetColors& colors) {
  const QRectF content = contentRect(size);
  const qreal centreY = content.top() + headerHeight / 2;
  const qreal symbol = 11;
  WidgetSymbols::paintSymbol(painter, QString::fromLatin1(appSymbolName.data(), appSymbolName.size()),
                             QRectF(content.left(), centreY - symbol / 2, symbol, symbol), colors.secondary);
  const QFont titleFont = widgetFont(12, QFont::DemiBold);
  QFontMetricsF titleMetrics(titleFont);
  const qreal titleLeft = content.left() + symbol + 4;
  const qreal titleWidth =
      drawLine(painter, titleFont, colors.primary, titleLeft, centreY - titleMetrics.height() / 2,
               content.width() - symbol - 4 - refreshSize - 8, QStringLiteral("Tokvane"));
  const QRectF refresh = refreshButtonRect(model, size);
  paintRefreshButton(painter, refresh, colors);
  if (model.staleText) {
    const qreal room = refresh.left() - 4 - (titleLeft + titleWidth + 4);
    const qreal width = std::min(staleWidth(model), std::max(0.0, room));
    const QFont badgeFont = widgetFont(10, QFont::Medium);
    paintStale(painter, model, colors, refresh.left() - 4 - width, centreY - QFontMetricsF(badgeFont).height() / 2,
               width);
  }
}

// One window of a provider row: label, share left, countdown, thin bar.
void paintCompactWindow(QPainter& painter, const WindowCell& cell, Date clock, qreal left, qreal top, qreal width,
                        const QColor& accentColor, const WidgetColors& colors) {
  const QFont font = widgetFont(10);
  const QFont percentFont = widgetFont(10, QFont::DemiBold);
  QFontMetricsF metrics(font);
  const QString percent = qs(cell.percentLeftText);
  const qreal percentWidth = QFontMetricsF(percentFont).horizontalAdvance(percent);
  qreal countdownWidth = 0;
  if (cell.countdown) {
    const QString text = qs(cell.countdown->text(clock));
    countdownWidth = metrics.horizontalAdvance(text);
    drawLine(painter, font, colors.secondary, left + width - countdownWidth, top, countdownWidth, text);
  }
  const qreal labelRoom = std::max(0.0, width - percentWidth - 3 - 2 - countdownWidth);
  const qreal labelWidth = drawLine(painter, font, colors.secondary, left, top, labelRoom, qs(cell.label));
  drawAtBaseline(painter, percentFont, colors.primary, left + labelWidth + (labelWidth > 0 ? 3 : 0),
                 top + metrics.ascent(), percent);
  noteMovingLine(cell, QRectF(left, top, width, metrics.height()));
  paintMiniBar(painter, cell, QRectF(left, top + metrics.height() + 2, width, 5), accentColor, colors);
}

qreal compactWindowHeight() { return QFontMetricsF(widgetFont(10)).height() + 2 + 5; }

// The provider rows from `top`; returns the bottom of the last row.
qreal paintRows(QPainter& painter, const WidgetModel& model, Date clock, QSizeF size, qreal top, qreal spacing,
                const WidgetColors& colors) {
  const QRectF content = contentRect(size);
  const qreal nameWidth = 64;
  const qreal cellWidth = (content.width() - nameWidth - 2 * 10) / 2;
  qreal y = top;
  bool first = true;
  for (const auto& row : model.rows) {
    if (!first) y += spacing;
    first = false;
    if (row.noLimitsText) {
      const QFont font = widgetFont(11);
      const qreal height = QFontMetricsF(font).height();
      WidgetSymbols::paintLogo(painter, row.provider, QRectF(content.left(), y + (height - 10) / 2, 10, 10),
                               colors.tertiary);
      drawLine(painter, font, colors.tertiary, content.left() + 14, y, content.width() - 14, qs(*row.noLimitsText));
      y += height;
      continue;
    }
    const qreal height = compactWindowHeight();
    paintProviderName(painter, row.provider, 11, content.left(), y + height / 2, nameWidth, colors);
    const QColor accentColor = colors.accent(accent(row.provider));
    qreal x = content.left() + nameWidth + 10;
    for (const auto& cell : row.cells) {
      paintCompactWindow(painter, cell, clock, x, y, cellWidth, accentColor, colors);
      x += cellWidth + 10;
    }
    y += height;
  }
  return y;
}

void paintSparkline(QPainter& painter, const std::vector<double>& values, const QRectF& rect,
                    const WidgetColors& colors) {
  const auto points = sparklinePoints(values, rect.width(), rect.height());
  if (points.size() < 2) return;
  QPainterPath area;
  area.moveTo(rect.left() + points.front().x, rect.top() + rect.height());
  QPainterPath line;
  bool first = true;
  for (const auto& point : points) {
    const QPointF at(rect.left() + point.x, rect.top() + point.y);
    area.lineTo(at);
    if (first) line.moveTo(at); else line.lineTo(at);
    first = false;
  }
  area.lineTo(rect.left() + points.back().x, rect.top() + rect.height());
  area.closeSubpath();
  painter.fillPath(area, withOpacity(colors.primary, 0.08));
  QPen pen(withOpacity(colors.primary, 0.6), 1.5, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin);
  painter.strokePath(line, pen);
}

// A line that shrinks to 80 % of its size before it is cut.
void drawShrinkingLine(QPainter& painter, const QFont& font, const QColor& color, qreal x, qreal top, qreal width,
                       const QString& text) {
  const qreal natural = textWidth(font, text);
  const qreal scale = natural <= width ? 1.0 : std::max(0.8, width / natural);
  painter.save();
  painter.translate(x, top);
  painter.scale(scale, scale);
  drawLine(painter, font, color, 0, 0, width / scale, text);
  painter.restore();
}

void paintList(QPainter& painter, const WidgetModel& model, Date clock, QSizeF size, const WidgetColors& colors) {
  const bool large = model.kind == WidgetKind::large;
  const QRectF content = contentRect(size);
  paintHeader(painter, model, size, colors);
  const qreal rowsBottom =
      paintRows(painter, model, clock, size, content.top() + headerHeight + (large ? 10 : 8), large ? 12 : 8, colors);
  if (!large) return;

  const QFont costFont = widgetFont(11);
  const qreal costHeight = QFontMetricsF(costFont).height();
  const qreal fixed = 10 + 4 + 10 + 1 + 10 + costHeight + 10;
  const qreal sparkHeight = std::clamp(content.bottom() - rowsBottom - fixed, 44.0, 80.0);
  const QRectF spark(content.left(), content.bottom() - sparkHeight, content.width(), sparkHeight);
  const qreal costTop = spark.top() - 10 - costHeight;
  const qreal dividerY = costTop - 10 - 1;
  painter.fillRect(QRectF(content.left(), dividerY, content.width(), 1), colors.separator);
  drawShrinkingLine(painter, costFont, colors.secondary, content.left(), costTop, content.width(), qs(model.costLine));
  paintSparkline(painter, model.dailyCost, spark, colors);
}

}  // namespace

void paint(QPainter& painter, const WidgetModel& model, Date clock, const WidgetColors& colors, QSizeF size,
           bool roundedCorners, std::vector<QRectF>* clockLines) {
  if (clockLines != nullptr) clockLines->clear();
  movingLines = clockLines;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  const QRectF box(QPointF(0, 0), size);
  if (roundedCorners) {
    QPainterPath background;
    background.addRoundedRect(box, cornerRadius, cornerRadius);
    painter.fillPath(background, colors.background);
    painter.setClipPath(background);
  } else {
    painter.fillRect(box, colors.background);
  }
  if (model.empty) {
    paintEmptyState(painter, size, colors);
  } else if (model.kind == WidgetKind::small) {
    paintSmall(painter, model, clock, size, colors);
  } else {
    paintList(painter, model, clock, size, colors);
  }
  painter.restore();
  movingLines = nullptr;
}

QRectF refreshButtonRect(const WidgetModel& model, QSizeF size) {
  if (model.empty) return {};
  const QRectF content = contentRect(size);
  return QRectF(content.right() - refreshSize, content.top(), refreshSize, refreshSize);
}

}  // namespace tokvane::widgets::WidgetPainter
