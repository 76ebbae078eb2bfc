#include "Tokvane/Usage/LimitBar.hpp"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

#include "Tokvane/Theme/Fonts.hpp"
#include "Tokvane/Theme/SystemColors.hpp"
#include "Tokvane/Usage/LimitBarLayout.hpp"
#include "Tokvane/Usage/LimitColors.hpp"

namespace tokvane {

namespace {

constexpr double staleOpacity = 0.6;

QColor withOpacity(QColor color, double opacity) {
  color.setAlphaF(static_cast<float>(color.alphaF() * opacity));
  return color;
}

void paintLayers(QPainter& painter, QSizeF size, const LimitBar::Value& value, const QPalette& palette) {
  const Appearance appearance = appearanceOf(palette);
  const QColor accent = value.accent.resolve(appearance);
  const LimitBarLayout layout = LimitBarLayout::make(value.bar, size);

  painter.setRenderHint(QPainter::Antialiasing);
  QPainterPath clip;
  clip.addRoundedRect(QRectF(QPointF(0, 0), size), LimitBarLayout::cornerRadius, LimitBarLayout::cornerRadius);
  painter.setClipPath(clip);

  painter.fillRect(QRectF(QPointF(0, 0), size), withOpacity(accent, 0.08));
  painter.fillRect(layout.remaining, withOpacity(accent, 0.35));
  if (layout.used.width() > 0) {
    painter.save();
    painter.translate(layout.used.topLeft());
    painter.setClipRect(QRectF(QPointF(0, 0), layout.used.size()), Qt::IntersectClip);
    painter.setPen(QPen(withOpacity(accent, 0.3), 1));
    const auto lines = LimitBarLayout::hatchLines(layout.used.size());
    painter.drawLines(lines.data(), static_cast<int>(lines.size()));
    painter.restore();
  }
  if (layout.marker) painter.fillRect(*layout.marker, LimitColors::timeMarker().resolve(appearance));
  if (layout.pillText) {
    const QFont font = Fonts::monospacedDigits(11, QFont::Medium);
    const QFontMetricsF metrics(font);
    const QRectF pill = LimitBarLayout::pillRect(size, metrics.horizontalAdvance(*layout.pillText));
    painter.setPen(Qt::NoPen);
    painter.setBrush(LimitColors::resetPillFill().resolve(appearance));
    painter.drawRoundedRect(pill, LimitBarLayout::pillRadius, LimitBarLayout::pillRadius);
    painter.setFont(font);
    painter.setPen(SystemColors::label().resolve(appearance));
    painter.drawText(pill, Qt::AlignCenter, *layout.pillText);
  }
}

}  // namespace

LimitBar::LimitBar(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setFixedHeight(static_cast<int>(LimitBarLayout::barHeight));
}

void LimitBar::setValue(const Value& value) {
  if (value_ == value) return;
  value_ = value;
  update();
}

QSize LimitBar::sizeHint() const { return QSize(200, static_cast<int>(LimitBarLayout::barHeight)); }
QSize LimitBar::minimumSizeHint() const { return QSize(40, static_cast<int>(LimitBarLayout::barHeight)); }

void LimitBar::paintBar(QPainter& painter, const QRectF& rect, const Value& value, const QPalette& palette) {
  if (rect.isEmpty()) return;
  painter.save();
  if (!value.dimmed) {
    painter.translate(rect.topLeft());
    paintLayers(painter, rect.size(), value, palette);
  } else {
    // The whole bar fades as one: its layers go to an image first.
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    QImage layer((rect.size() * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(ratio);
    layer.fill(Qt::transparent);
    {
      QPainter layerPainter(&layer);
      paintLayers(layerPainter, rect.size(), value, palette);
    }
    painter.setOpacity(painter.opacity() * staleOpacity);
    painter.drawImage(rect.topLeft(), layer);
  }
  painter.restore();
}

void LimitBar::paintEvent(QPaintEvent*) {
  if (!value_) return;
  QPainter painter(this);
  paintBar(painter, QRectF(rect()), *value_, palette());
}

}  // namespace tokvane
