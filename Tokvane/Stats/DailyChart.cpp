#include "Tokvane/Stats/DailyChart.hpp"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <algorithm>

#include "Tokvane/Stats/SectionTitle.hpp"
#include "Tokvane/Stats/StatsStyle.hpp"
#include "Tokvane/Theme/Fonts.hpp"
#include "Tokvane/Theme/SystemColors.hpp"

namespace tokvane {

namespace {

namespace G = DailyChartGeometry;

// Straight pieces per day of the curve's outline: finer than a pixel at
// the popover's width.
constexpr int curveSteps = 8;

QColor withOpacity(QColor colour, double opacity) {
  colour.setAlphaF(static_cast<float>(colour.alphaF() * opacity));
  return colour;
}

QPainterPath curvePath(const std::vector<QPointF>& points) {
  QPainterPath path;
  if (points.empty()) return path;
  path.moveTo(points.front());
  for (const G::Cubic& piece : G::catmullRom(points)) path.cubicTo(piece.control1, piece.control2, piece.end);
  return path;
}

// The line through the points: 1.5 wide with round ends (the curve is
// smooth, so its joins are too). Qt's rasteriser spends time in proportion
// to a shape's extent, so a long curve filled at once costs several times
// more than the same curve in short pieces; the pieces (a day each,
// overlapping by one step so no seam shows) are filled opaque in a layer,
// which is then laid down at the colour's own opacity.
void paintLine(QPainter& painter, QSizeF size, const std::vector<QPointF>& points, const QColor& colour) {
  const std::vector<QPointF> flat = G::flatten(G::catmullRom(points), curveSteps);
  const std::vector<QPointF> outline = G::lineOutline(flat, G::lineWidth);
  // The layer covers the chart, in the painter's (chart-local) coordinates.
  const qreal ratio = painter.device() != nullptr ? painter.device()->devicePixelRatioF() : 1.0;
  QImage layer((size * ratio).toSize() + QSize(1, 1), QImage::Format_ARGB32_Premultiplied);
  layer.setDevicePixelRatio(ratio);
  layer.fill(Qt::transparent);
  {
    QPainter line(&layer);
    line.setRenderHint(QPainter::Antialiasing);
    line.setPen(Qt::NoPen);
    QColor opaque = colour;
    opaque.setAlphaF(1);
    line.setBrush(opaque);
    const std::size_t n = flat.size();
    const std::size_t chunk = static_cast<std::size_t>(curveSteps);
    std::vector<QPointF> piece;
    for (std::size_t start = 0; start + 1 < n; start += chunk) {
      const std::size_t first = start == 0 ? 0 : start - 1;
      const std::size_t last = std::min(n - 1, start + chunk);
      piece.clear();
      for (std::size_t i = first; i <= last; ++i) piece.push_back(outline[i]);
      for (std::size_t i = last + 1; i-- > first;) piece.push_back(outline[2 * n - 1 - i]);
      line.drawPolygon(piece.data(), static_cast<int>(piece.size()), Qt::WindingFill);
    }
    const double radius = G::lineWidth / 2;
    line.drawEllipse(points.front(), radius, radius);
    if (points.size() > 1) line.drawEllipse(points.back(), radius, radius);
  }
  painter.save();
  painter.setOpacity(painter.opacity() * colour.alphaF());
  painter.drawImage(QPointF(0, 0), layer);
  painter.restore();
}

class ChartPlot final : public QWidget {
 public:
  ChartPlot(const DailyChart& owner, QWidget* parent) : QWidget(parent), owner_(owner) {
    setFixedHeight(static_cast<int>(G::chartHeight));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  }
  QSize sizeHint() const override { return QSize(200, static_cast<int>(G::chartHeight)); }
  int paints = 0;

 protected:
  void paintEvent(QPaintEvent*) override {
    ++paints;
    QPainter painter(this);
    paintDailyChart(painter, QRectF(rect()), owner_.model(), appearanceOf(palette()));
  }

 private:
  const DailyChart& owner_;
};

}  // namespace

void paintDailyChart(QPainter& painter, const QRectF& rect, const DailyChartModel& model, Appearance appearance) {
  painter.save();
  painter.translate(rect.topLeft());
  painter.setRenderHint(QPainter::Antialiasing);

  const QFont valueFont = Fonts::monospacedDigits(G::labelFontSize);
  const QFont dayFont = Fonts::system(G::labelFontSize);
  const QFontMetricsF valueMetrics(valueFont);
  const QFontMetricsF dayMetrics(dayFont);

  std::vector<QString> valueLabels;
  double valueLabelWidth = 0;
  for (const auto& tick : model.yTicks) {
    valueLabels.push_back(QString::fromStdString(tick.label));
    valueLabelWidth = std::max(valueLabelWidth, valueMetrics.horizontalAdvance(valueLabels.back()));
  }
  const double labelHeight = std::max(valueMetrics.height(), dayMetrics.height());
  const QRectF plot = G::plotRect(rect.size(), valueLabelWidth, labelHeight);
  const QColor labelColour = SystemColors::secondaryLabel().resolve(appearance);

  // Grid lines and value labels.
  QPen grid(SystemColors::quaternaryLabel().resolve(appearance), G::gridLineWidth, Qt::SolidLine, Qt::FlatCap,
            Qt::MiterJoin);
  painter.setFont(valueFont);
  for (std::size_t i = 0; i < model.yTicks.size(); ++i) {
    const double y = G::valueY(model.yTicks[i].value, model.yTop, plot);
    painter.setPen(grid);
    painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    painter.setPen(labelColour);
    painter.drawText(QRectF(0, y - labelHeight / 2, valueLabelWidth, labelHeight), Qt::AlignRight | Qt::AlignVCenter,
                     valueLabels[i]);
  }

  // The series, costliest first, so later ones lie on top. Anything the
  // curve swings below zero is cut at the baseline.
  painter.save();
  // A whole-pixel clip keeps the rasteriser on its fast path.
  painter.setClipRect(QRectF(plot.left() - G::lineWidth, 0, plot.width() + 2 * G::lineWidth, plot.bottom()).toAlignedRect());
  for (const auto& series : model.series) {
    const std::vector<QPointF> points = G::seriesPoints(series.values, model.yTop, plot);
    if (points.empty()) continue;
    const QColor accent = StatsStyle::accent(series.provider, appearance);
    QPainterPath area = curvePath(points);
    area.lineTo(points.back().x(), plot.bottom());
    area.lineTo(points.front().x(), plot.bottom());
    area.closeSubpath();
    QLinearGradient gradient(QPointF(0, plot.top()), QPointF(0, plot.bottom()));
    gradient.setColorAt(0, withOpacity(accent, G::topFillOpacity));
    gradient.setColorAt(1, withOpacity(accent, G::bottomFillOpacity));
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawPath(area);

    paintLine(painter, rect.size(), points, accent);
  }
  painter.restore();

  // Day labels.
  painter.setFont(dayFont);
  painter.setPen(labelColour);
  const double labelTop = plot.bottom() + G::dayLabelGap;
  for (const auto& label : model.dayLabels) {
    const QString text = QString::fromStdString(label.text);
    const QSizeF size(dayMetrics.horizontalAdvance(text), dayMetrics.height());
    const double x = G::dayStartX(label.dayIndex, model.dayCount, plot);
    painter.drawText(G::dayLabelRect(x, size, label.anchor, labelTop), Qt::AlignLeft | Qt::AlignTop, text);
  }
  painter.restore();
}

DailyChart::DailyChart(QWidget* parent) : QWidget(parent) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(8);
  title_ = new SectionTitle(QString(), this);
  column->addWidget(title_);
  plot_ = new ChartPlot(*this, this);
  column->addWidget(plot_);
}

void DailyChart::setModel(DailyChartModel model) {
  if (model == model_) return;
  model_ = std::move(model);
  title_->setPlainText(model_.title);
  plot_->setAccessibleName(QString::fromStdString(model_.title));
  plot_->update();
}

int DailyChart::paintCount() const { return static_cast<ChartPlot*>(plot_)->paints; }

}  // namespace tokvane
