#include "Tokvane/Usage/LimitRow.hpp"

#include <QEvent>
#include <QFontMetricsF>
#include <QHelpEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <algorithm>
#include <cmath>

#include "Tokvane/Theme/Fonts.hpp"
#include "Tokvane/Usage/SymbolCache.hpp"
#include "Tokvane/Theme/SystemColors.hpp"
#include "Tokvane/Usage/LimitBar.hpp"
#include "Tokvane/Usage/LimitBarLayout.hpp"
#include "Tokvane/Usage/LimitColors.hpp"
#include "Tokvane/Usage/ProviderCardText.hpp"

namespace tokvane {

namespace {

constexpr double labelSize = 13;
constexpr double percentSize = 28;
constexpr double wordSize = 13;
constexpr double symbolSize = 12;
constexpr double columnSpacing = 2;
constexpr double valueSpacing = 4;

const QFont& labelFont() {
  static const QFont font = Fonts::system(labelSize);
  return font;
}
QFont percentFont(double scale = 1) {
  static const QFont full = Fonts::monospacedDigits(percentSize, QFont::DemiBold);
  return scale == 1 ? full : Fonts::monospacedDigits(percentSize * scale, QFont::DemiBold);
}
QFont wordFont(double scale = 1) {
  static const QFont full = Fonts::system(wordSize);
  return scale == 1 ? full : Fonts::system(wordSize * scale);
}

const QString& leftWord() {
  static const QString word = QStringLiteral("left");
  return word;
}

}  // namespace

std::optional<QString> paceSymbolName(Pace pace) {
  switch (pace) {
    case Pace::under: return QStringLiteral("gauge.with.dots.needle.33percent");
    case Pace::onPace: return QStringLiteral("gauge.with.dots.needle.50percent");
    case Pace::over: return QStringLiteral("chart.line.downtrend.xyaxis");
    case Pace::unknown: break;
  }
  return std::nullopt;
}

std::optional<QString> paceHelpText(Pace pace) {
  switch (pace) {
    case Pace::under: return QStringLiteral("Using less than the time elapsed");
    case Pace::onPace: return QStringLiteral("On pace to last until the reset");
    case Pace::over: return QStringLiteral("Using faster than the time elapsed");
    case Pace::unknown: break;
  }
  return std::nullopt;
}

LimitRow::LimitRow(const Value& value, QWidget* parent) : QWidget(parent), value_(value) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setFixedHeight(rowHeight());
  setAccessibleName(QString::fromStdString(limitAccessibilityLabel(value_.label, value_.bar)));
}

void LimitRow::setValue(const Value& value) {
  if (value_ == value) return;
  value_ = value;
  geometryCache_.reset();
  setAccessibleName(QString::fromStdString(limitAccessibilityLabel(value_.label, value_.bar)));
  update();
}

int LimitRow::rowHeight() const {
  const double column = QFontMetricsF(labelFont()).height() + columnSpacing + QFontMetricsF(percentFont()).height();
  return static_cast<int>(std::ceil(std::max(column, LimitBarLayout::barHeight))) + 2 * padding;
}

QSize LimitRow::sizeHint() const { return QSize(388, rowHeight()); }
QSize LimitRow::minimumSizeHint() const { return QSize(2 * padding + labelColumnWidth + spacing + 40, rowHeight()); }

LimitRow::Geometry LimitRow::geometryFor(int width) const {
  Geometry geometry;
  const QFontMetricsF labelMetrics(labelFont());
  const QFontMetricsF percentMetrics(percentFont());
  const double inner = rowHeight() - 2 * padding;
  const double column = labelMetrics.height() + columnSpacing + percentMetrics.height();
  const double columnTop = padding + (inner - column) / 2;
  geometry.label = QRectF(padding, columnTop, labelColumnWidth, labelMetrics.height());

  // The value line: percentage, "left" and the symbol on one baseline,
  // shrunk together (down to 0.7) when wider than the column.
  const QString percent = QString::fromStdString(value_.bar.percentLeftText);
  const bool hasSymbol = paceSymbolName(value_.bar.pace).has_value();
  auto lineWidth = [&](double scale) {
    double w = QFontMetricsF(percentFont(scale)).horizontalAdvance(percent) + valueSpacing * scale +
               QFontMetricsF(wordFont(scale)).horizontalAdvance(leftWord());
    if (hasSymbol) w += valueSpacing * scale + symbolSize * scale;
    return w;
  };
  double scale = 1;
  const double natural = lineWidth(1);
  if (natural > labelColumnWidth) scale = std::max(minimumScale, labelColumnWidth / natural);
  geometry.percentScale = scale;
  const QFontMetricsF scaledPercent(percentFont(scale));
  const QFontMetricsF scaledWord(wordFont(scale));
  const double lineTop = geometry.label.bottom() + columnSpacing;
  const double baseline = lineTop + percentMetrics.ascent();
  const double percentWidth = scaledPercent.horizontalAdvance(percent);
  geometry.percent = QRectF(padding, baseline - scaledPercent.ascent(), percentWidth, scaledPercent.height());
  const double wordX = geometry.percent.right() + valueSpacing * scale;
  geometry.left = QRectF(wordX, baseline - scaledWord.ascent(), scaledWord.horizontalAdvance(leftWord()),
                         scaledWord.height());
  if (hasSymbol) {
    const double side = symbolSize * scale;
    geometry.paceSymbol = QRectF(geometry.left.right() + valueSpacing * scale, baseline - side, side, side);
  }
  const double barX = padding + labelColumnWidth + spacing;
  geometry.bar = QRectF(barX, padding + (inner - LimitBarLayout::barHeight) / 2,
                        std::max(0.0, width - padding - barX), LimitBarLayout::barHeight);
  return geometry;
}

void LimitRow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPalette& colours = palette();
  const Appearance appearance = appearanceOf(colours);

  // The card: fill, then a 1-pixel border inside its edge.
  const QRectF card = QRectF(rect());
  painter.setPen(Qt::NoPen);
  painter.setBrush(LimitColors::cardFill().resolve(appearance));
  painter.drawRoundedRect(card, cornerRadius, cornerRadius);
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(LimitColors::cardBorder().resolve(appearance), 1));
  painter.drawRoundedRect(card.adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius - 0.5, cornerRadius - 0.5);

  if (!geometryCache_ || geometryCache_->first != width()) geometryCache_.emplace(width(), geometryFor(width()));
  const Geometry& geometry = geometryCache_->second;
  painter.setFont(labelFont());
  painter.setPen(SystemColors::label().resolve(appearance));
  const QString label = QFontMetricsF(labelFont())
                            .elidedText(QString::fromStdString(value_.label), Qt::ElideRight, geometry.label.width());
  painter.drawText(geometry.label, Qt::AlignLeft | Qt::AlignVCenter, label);

  painter.setFont(percentFont(geometry.percentScale));
  painter.drawText(geometry.percent, Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromStdString(value_.bar.percentLeftText));
  const QColor secondary = SystemColors::secondaryLabel().resolve(appearance);
  painter.setFont(wordFont(geometry.percentScale));
  painter.setPen(secondary);
  painter.drawText(geometry.left, Qt::AlignLeft | Qt::AlignVCenter, leftWord());
  if (geometry.paceSymbol) {
    SymbolCache::paint(painter, *paceSymbolName(value_.bar.pace), *geometry.paceSymbol, secondary);
  }

  LimitBar::paintBar(painter, geometry.bar, LimitBar::Value{value_.bar, value_.accent, value_.isStale}, colours);
}

bool LimitRow::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const Geometry geometry = geometryFor(width());
    if (geometry.paceSymbol && geometry.paceSymbol->adjusted(-2, -2, 2, 2).contains(help->pos())) {
      QToolTip::showText(help->globalPos(), *paceHelpText(value_.bar.pace), this);
    } else {
      QToolTip::hideText();
      event->ignore();
    }
    return true;
  }
  return QWidget::event(event);
}

}  // namespace tokvane
