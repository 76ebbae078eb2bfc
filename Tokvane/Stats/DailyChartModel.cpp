#include "Tokvane/Stats/DailyChartModel.hpp"

#include <algorithm>
#include <cmath>

#include "Tokvane/Stats/SummaryDisplay.hpp"

namespace tokvane {

namespace {

// The axis asks for about this many steps.
constexpr int desiredTickCount = 4;

std::string upperASCII(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

}  // namespace

std::string dailyChartTitle(SummaryUnit unit) {
  return unit == SummaryUnit::cost ? "Daily cost" : "Daily processed tokens";
}

DailyChartModel makeDailyChartModel(const UsageSummary& summary, SummaryUnit unit, const Calendar& calendar) {
  DailyChartModel model;
  model.title = dailyChartTitle(unit);

  double maxValue = 0;
  for (const UsageSummary::Tool& tool : summary.tools) {
    DailyChartModel::Series series;
    series.provider = tool.provider;
    for (const UsageSummary::DayPoint& point : summary.lastDays(summary.days, tool.provider, calendar)) {
      double value = unit == SummaryUnit::tokens ? static_cast<double>(point.tokens) : point.costUSD;
      if (!std::isfinite(value)) value = 0;
      maxValue = std::max(maxValue, value);
      series.values.push_back(value);
    }
    model.series.push_back(std::move(series));
  }

  // Values in tokens are whole; in dollars, no step is finer than a cent.
  const double minimumStep = unit == SummaryUnit::tokens ? 1 : 0.01;
  const std::vector<double> values = DailyChartGeometry::axisValues(maxValue, desiredTickCount, minimumStep);
  model.yTop = values.back();
  for (double value : values) model.yTicks.push_back({value, SummaryDisplay::headlineValue(value, unit)});

  const ProviderID reference = summary.tools.empty() ? ProviderID::claude : summary.tools.front().provider;
  const std::vector<UsageSummary::DayPoint> days = summary.lastDays(summary.days, reference, calendar);
  model.dayCount = static_cast<int>(days.size());
  if (!days.empty()) {
    const int count = model.dayCount;
    const int indices[3] = {0, count / 2, count - 1};
    const DailyChartModel::Anchor anchors[3] = {DailyChartModel::Anchor::topLeading, DailyChartModel::Anchor::top,
                                                DailyChartModel::Anchor::topTrailing};
    for (int i = 0; i < 3; ++i) {
      const Date day = days[static_cast<std::size_t>(indices[i])].day;
      model.dayLabels.push_back(
          {indices[i], upperASCII(SummaryDisplay::formatDate(day, SummaryDisplay::DatePattern::monthDay, calendar)),
           anchors[i]});
    }
  }
  return model;
}

namespace DailyChartGeometry {

std::vector<double> axisValues(double maxValue, int desiredCount, double minimumStep) {
  const int count = std::max(1, desiredCount);
  if (!std::isfinite(maxValue) || maxValue <= 0) {
    const double top = std::max(1.0, minimumStep);
    return {0, top};
  }
  const double raw = maxValue / count;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  double step = 10 * magnitude;
  for (double factor : {1.0, 2.0, 2.5, 5.0}) {
    // A little slack, so 0.2 / 1e-1 still counts as 2.
    if (raw <= factor * magnitude * (1 + 1e-9)) {
      step = factor * magnitude;
      break;
    }
  }
  step = std::max(step, minimumStep);
  const double steps = std::ceil(maxValue / step * (1 - 1e-12));
  std::vector<double> values;
  for (double i = 0; i <= steps; ++i) values.push_back(i * step);
  return values;
}

QRectF plotRect(QSizeF size, double valueLabelWidth, double labelHeight) {
  const double left = valueLabelWidth + labelGap;
  const double top = labelHeight / 2;
  const double bottom = size.height() - labelHeight - dayLabelGap;
  return QRectF(left, top, std::max(0.0, size.width() - left), std::max(0.0, bottom - top));
}

double dayCentreX(int index, int count, const QRectF& plot) {
  if (count < 1) return plot.left();
  return plot.left() + plot.width() * (index + 0.5) / count;
}

double dayStartX(int index, int count, const QRectF& plot) {
  if (count < 1) return plot.left();
  return plot.left() + plot.width() * index / count;
}

double valueY(double value, double yTop, const QRectF& plot) {
  if (!(yTop > 0)) return plot.bottom();
  return plot.bottom() - plot.height() * value / yTop;
}

std::vector<QPointF> seriesPoints(const std::vector<double>& values, double yTop, const QRectF& plot) {
  std::vector<QPointF> points;
  points.reserve(values.size());
  const int count = static_cast<int>(values.size());
  for (int i = 0; i < count; ++i) {
    points.emplace_back(dayCentreX(i, count, plot), valueY(values[static_cast<std::size_t>(i)], yTop, plot));
  }
  return points;
}

std::vector<Cubic> catmullRom(const std::vector<QPointF>& points, double alpha) {
  std::vector<Cubic> pieces;
  if (points.size() < 2) return pieces;
  pieces.reserve(points.size() - 1);
  auto distance = [](QPointF a, QPointF b) { return std::hypot(b.x() - a.x(), b.y() - a.y()); };
  constexpr double epsilon = 1e-9;
  for (std::size_t i = 0; i + 1 < points.size(); ++i) {
    const QPointF p1 = points[i];
    const QPointF p2 = points[i + 1];
    const QPointF p0 = i == 0 ? p1 : points[i - 1];
    const QPointF p3 = i + 2 < points.size() ? points[i + 2] : p2;

    // Centripetal parametrisation: knot intervals of |Pi+1 - Pi|^alpha.
    const double d1 = std::pow(distance(p0, p1), alpha);
    const double d2 = std::pow(distance(p1, p2), alpha);
    const double d3 = std::pow(distance(p2, p3), alpha);

    Cubic piece{p1, p1, p2, p2};
    if (d2 > epsilon) {
      if (d1 > epsilon) {
        const double a = d1 * d1, b = d2 * d2;
        piece.control1 = (p2 * a - p0 * b + p1 * (2 * a + 3 * d1 * d2 + b)) / (3 * d1 * (d1 + d2));
      }
      if (d3 > epsilon) {
        const double c = d3 * d3, b = d2 * d2;
        piece.control2 = (p1 * c - p3 * b + p2 * (2 * c + 3 * d3 * d2 + b)) / (3 * d3 * (d3 + d2));
      }
    }
    pieces.push_back(piece);
  }
  return pieces;
}

std::vector<QPointF> flatten(const std::vector<Cubic>& pieces, int steps) {
  std::vector<QPointF> points;
  if (pieces.empty() || steps < 1) return points;
  points.reserve(pieces.size() * static_cast<std::size_t>(steps) + 1);
  points.push_back(pieces.front().start);
  for (const Cubic& c : pieces) {
    for (int i = 1; i <= steps; ++i) {
      const double t = static_cast<double>(i) / steps;
      const double u = 1 - t;
      points.push_back(c.start * (u * u * u) + c.control1 * (3 * u * u * t) + c.control2 * (3 * u * t * t) +
                       c.end * (t * t * t));
    }
  }
  return points;
}

std::vector<QPointF> lineOutline(const std::vector<QPointF>& polyline, double width) {
  std::vector<QPointF> outline;
  const std::size_t n = polyline.size();
  if (n < 2) return outline;
  std::vector<QPointF> normals(n);
  QPointF last(0, -1);
  for (std::size_t i = 0; i < n; ++i) {
    const QPointF chord = polyline[std::min(i + 1, n - 1)] - polyline[i == 0 ? 0 : i - 1];
    const double length = std::hypot(chord.x(), chord.y());
    // A point on top of its neighbours keeps the last direction.
    if (length > 1e-12) last = QPointF(-chord.y() / length, chord.x() / length);
    normals[i] = last * (width / 2);
  }
  outline.reserve(2 * n);
  for (std::size_t i = 0; i < n; ++i) outline.push_back(polyline[i] + normals[i]);
  for (std::size_t i = n; i-- > 0;) outline.push_back(polyline[i] - normals[i]);
  return outline;
}

QRectF dayLabelRect(double x, QSizeF textSize, DailyChartModel::Anchor anchor, double top) {
  double left = x;
  if (anchor == DailyChartModel::Anchor::top) left = x - textSize.width() / 2;
  if (anchor == DailyChartModel::Anchor::topTrailing) left = x - textSize.width();
  return QRectF(QPointF(left, top), textSize);
}

}  // namespace DailyChartGeometry

}  // namespace tokvane
