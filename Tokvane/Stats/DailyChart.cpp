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
  painter.setClipRect(QRectF(plot.left() - G::lineWidth, 0, plot.width() + 2 * G::lineWidth, plot.bottom()));
  for (const auto& series : model.series) {
    const std::vector<QPointF> points = G::seriesPoints(series.values, model.yTop, plot);
    if (points.empty()) continue;
    const QColor accent = StatsStyle::accent(series.provider, appearance);
    const QPainterPath line = curvePath(points);

    QPainterPath area = line;
    area.lineTo(points.back().x(), plot.bottom());
    area.lineTo(points.front().x(), plot.bottom());
    area.closeSubpath();
    QLinearGradient gradient(QPointF(0, plot.top()), QPointF(0, plot.bottom()));
    gradient.setColorAt(0, withOpacity(accent, G::topFillOpacity));
    gradient.setColorAt(1, withOpacity(accent, G::bottomFillOpacity));
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawPath(area);

    QPen stroke(accent, G::lineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    stroke.setMiterLimit(10);
    painter.setPen(stroke);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(line);
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
