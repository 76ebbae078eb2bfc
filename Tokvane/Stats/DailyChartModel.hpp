#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <string>
#include <vector>

#include "Tokvane/Engine/Settings/PreferenceValues.hpp"
#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Summary/UsageSummary.hpp"
#include "TokvaneCore/Usage/ProviderID.hpp"

namespace tokvane {

// Everything the daily chart shows, as one comparable value: one series per
// tool of the summary (in the summary's order, the costliest first and so
// drawn at the bottom), the value axis with its labels and the three day
// labels. The painting only maps it onto its rectangle.
struct DailyChartModel {
  struct Series {
    ProviderID provider = ProviderID::claude;
    std::vector<double> values;  // one per day of the window, oldest first
    friend bool operator==(const Series&, const Series&) = default;
  };
  struct Tick {
    double value = 0;
    std::string label;
    friend bool operator==(const Tick&, const Tick&) = default;
  };
  enum class Anchor { topLeading, top, topTrailing };
  struct DayLabel {
    int dayIndex = 0;  // position in the window, 0 = oldest day
    std::string text;  // "DEC 9"
    Anchor anchor = Anchor::top;
    friend bool operator==(const DayLabel&, const DayLabel&) = default;
  };

  std::string title;   // "Daily cost" / "Daily processed tokens"
  int dayCount = 0;    // days on the x axis
  std::vector<Series> series;
  double yTop = 1;     // the value at the top of the plot
  std::vector<Tick> yTicks;  // ascending, from 0 to yTop
  std::vector<DayLabel> dayLabels;

  friend bool operator==(const DailyChartModel&, const DailyChartModel&) = default;
};

// "Daily cost" or "Daily processed tokens".
std::string dailyChartTitle(SummaryUnit unit);

// The chart of a summary: each tool's `lastDays` series over the window
// (processed tokens or cost per day; a value that is not finite counts as
// 0), the automatic value axis (about four steps), and the day labels at
// the first day, the middle day (index count / 2) and the last day of the
// reference series, that of the first tool (Claude's when there is none).
DailyChartModel makeDailyChartModel(const UsageSummary& summary, SummaryUnit unit, const Calendar& calendar);

// The chart's geometry, apart from any widget.
namespace DailyChartGeometry {

inline constexpr double chartHeight = 140;
inline constexpr double labelFontSize = 10;
inline constexpr double lineWidth = 1.5;
inline constexpr double gridLineWidth = 0.5;
inline constexpr double topFillOpacity = 0.32;
inline constexpr double bottomFillOpacity = 0.04;
// The gap between the value labels and the plot, and between the plot and
// the day labels.
inline constexpr double labelGap = 6;
inline constexpr double dayLabelGap = 4;

// Axis values from 0 up: a step of 1, 2, 2.5 or 5 times a power of ten (at
// least `minimumStep`) chosen so that about `desiredCount` steps cover
// `maxValue`; the last value is the first multiple of the step at or above
// `maxValue`. A maximum that is not above zero (or not finite) gives the
// axis of 0 to 1 (or to `minimumStep`, if larger).
std::vector<double> axisValues(double maxValue, int desiredCount, double minimumStep);

// The plot inside a chart of `size`: value labels `valueLabelWidth` wide
// on the left, day labels `labelHeight` high below, and half a label's
// height kept free above so the top label is not cut.
QRectF plotRect(QSizeF size, double valueLabelWidth, double labelHeight);

// Days are bins of equal width across the plot: a day's point lies at the
// middle of its bin, a day label at the bin's start.
double dayCentreX(int index, int count, const QRectF& plot);
double dayStartX(int index, int count, const QRectF& plot);
// 0 at the plot's bottom, yTop at its top.
double valueY(double value, double yTop, const QRectF& plot);

std::vector<QPointF> seriesPoints(const std::vector<double>& values, double yTop, const QRectF& plot);

// One cubic Bézier piece of a curve.
struct Cubic {
  QPointF start, control1, control2, end;
  friend bool operator==(const Cubic&, const Cubic&) = default;
};

// The Catmull-Rom spline through `points` (centripetal for alpha 0.5) as
// one Bézier piece per pair of neighbours. The first and the last point are
// repeated as their own outer neighbours; two equal neighbouring points
// make a straight piece.
std::vector<Cubic> catmullRom(const std::vector<QPointF>& points, double alpha = 0.5);

// The curve as a polyline: `steps` straight pieces per Bézier piece.
std::vector<QPointF> flatten(const std::vector<Cubic>& pieces, int steps);

// The outline of a line `width` wide along a polyline: its left edge
// forward, then its right edge back (each point pushed out along the
// normal of its neighbours' chord). Filled with the non-zero rule it draws
// the line in one pass, which the rasteriser does several times faster
// than stroking a curve of this length; the caller adds the round caps.
std::vector<QPointF> lineOutline(const std::vector<QPointF>& polyline, double width);

// Where a day label of `textSize` goes for the point `x` on the axis below
// the plot whose bottom is `top`.
QRectF dayLabelRect(double x, QSizeF textSize, DailyChartModel::Anchor anchor, double top);

}  // namespace DailyChartGeometry

}  // namespace tokvane
