#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "Tokvane/Stats/ByTypeBar.hpp"
#include "Tokvane/Stats/DailyChartModel.hpp"
#include "Tokvane/Stats/FlowLayout.hpp"
#include "TokvaneCore/Foundation/Calendar.hpp"

namespace tokvane {
namespace {

namespace G = DailyChartGeometry;
using Anchor = DailyChartModel::Anchor;

// Monday 2024-12-09 00:00 UTC.
const Date windowEnd = Date::fromUnix(1733702400);

UsageSummary twoTools(int days = 30) {
  UsageSummary summary;
  summary.days = days;
  summary.windowEnd = windowEnd;
  summary.tools = {UsageSummary::Tool{ProviderID::codex}, UsageSummary::Tool{ProviderID::claude}};
  // Codex used on the last day only; Claude on the first and last.
  summary.daily = {{windowEnd, ProviderID::codex, 1'000'000, 12.5},
                   {windowEnd - 86400.0 * (days - 1), ProviderID::claude, 300, 0.5},
                   {windowEnd, ProviderID::claude, 200, std::numeric_limits<double>::quiet_NaN()}};
  return summary;
}

TEST(DailyChartModel, SeriesPerToolInTheSummarysOrderZeroFilled) {
  const FixedOffsetCalendar utc;
  const UsageSummary summary = twoTools();
  const DailyChartModel cost = makeDailyChartModel(summary, SummaryUnit::cost, utc);
  EXPECT_EQ(cost.title, "Daily cost");
  ASSERT_EQ(cost.series.size(), 2u);
  EXPECT_EQ(cost.series[0].provider, ProviderID::codex);
  ASSERT_EQ(cost.series[0].values.size(), 30u);
  EXPECT_EQ(cost.series[0].values[28], 0);
  EXPECT_EQ(cost.series[0].values[29], 12.5);
  // A cost that is not finite is plotted at 0.
  EXPECT_EQ(cost.series[1].values[0], 0.5);
  EXPECT_EQ(cost.series[1].values[29], 0);
  // 12.5 over about four steps: 0, 5, 10, 15.
  std::vector<std::string> labels;
  for (const auto& tick : cost.yTicks) labels.push_back(tick.label);
  EXPECT_EQ(labels, (std::vector<std::string>{"$0", "$5", "$10", "$15"}));
  EXPECT_EQ(cost.yTop, 15);

  const DailyChartModel tokens = makeDailyChartModel(summary, SummaryUnit::tokens, utc);
  EXPECT_EQ(tokens.title, "Daily processed tokens");
  EXPECT_EQ(tokens.series[0].values[29], 1e6);
  labels.clear();
  for (const auto& tick : tokens.yTicks) labels.push_back(tick.label);
  EXPECT_EQ(labels, (std::vector<std::string>{"0", "250K", "500K", "750K", "1M"}));
}

TEST(DailyChartModel, ThreeDayLabelsFromTheReferenceSeries) {
  const FixedOffsetCalendar utc;
  const DailyChartModel model = makeDailyChartModel(twoTools(), SummaryUnit::cost, utc);
  EXPECT_EQ(model.dayCount, 30);
  EXPECT_EQ(model.dayLabels, (std::vector<DailyChartModel::DayLabel>{
                                 {0, "NOV 10", Anchor::topLeading}, {15, "NOV 25", Anchor::top}, {29, "DEC 9", Anchor::topTrailing}}));

  // No tools: no series, but Claude's zero-filled days still label the axis.
  UsageSummary none = twoTools();
  none.tools.clear();
  const DailyChartModel empty = makeDailyChartModel(none, SummaryUnit::tokens, utc);
  EXPECT_TRUE(empty.series.empty());
  EXPECT_EQ(empty.dayLabels.size(), 3u);
  EXPECT_EQ(empty.yTicks.front().value, 0);
  EXPECT_EQ(empty.yTop, 1);

  // One day: three labels on the same date, anchored three ways.
  const DailyChartModel one = makeDailyChartModel(twoTools(1), SummaryUnit::cost, utc);
  EXPECT_EQ(one.dayLabels, (std::vector<DailyChartModel::DayLabel>{
                               {0, "DEC 9", Anchor::topLeading}, {0, "DEC 9", Anchor::top}, {0, "DEC 9", Anchor::topTrailing}}));

  // No days at all: no points and no labels.
  const DailyChartModel nothing = makeDailyChartModel(twoTools(0), SummaryUnit::cost, utc);
  EXPECT_TRUE(nothing.dayLabels.empty());
  EXPECT_TRUE(nothing.series[0].values.empty());
}

TEST(DailyChartGeometry, AxisValuesAreRoundStepsCoveringTheMaximum) {
  struct Case {
    double max, minimumStep;
    std::vector<double> expected;
  };
  const Case cases[] = {
      {100, 0.01, {0, 25, 50, 75, 100}},
      {37, 0.01, {0, 10, 20, 30, 40}},
      {12.5, 0.01, {0, 5, 10, 15}},
      {0.8, 0.01, {0, 0.2, 0.4, 0.6, 0.8}},
      {0.02, 0.01, {0, 0.01, 0.02}},
      {3, 1, {0, 1, 2, 3}},
      {46'000'000, 1, {0, 2e7, 4e7, 6e7}},
      {0, 1, {0, 1}},
      {-5, 0.01, {0, 1}},
      {std::numeric_limits<double>::infinity(), 0.01, {0, 1}},
  };
  for (const auto& c : cases) {
    const auto values = G::axisValues(c.max, 4, c.minimumStep);
    ASSERT_EQ(values.size(), c.expected.size()) << c.max;
    for (std::size_t i = 0; i < values.size(); ++i) EXPECT_NEAR(values[i], c.expected[i], 1e-9) << c.max;
  }
}

TEST(DailyChartGeometry, PointsSitMidDayAndLabelsAtTheDaysStart) {
  const QRectF plot = G::plotRect(QSizeF(388, 140), 30, 12);
  EXPECT_EQ(plot, QRectF(36, 6, 352, 140 - 12 - 4 - 6));
  const auto points = G::seriesPoints({0, 5, 10, 2.5}, 10, plot);
  ASSERT_EQ(points.size(), 4u);
  EXPECT_DOUBLE_EQ(points[0].x(), 36 + 352 * 0.125);
  EXPECT_DOUBLE_EQ(points[0].y(), plot.bottom());
  EXPECT_DOUBLE_EQ(points[1].y(), plot.center().y());
  EXPECT_DOUBLE_EQ(points[2].y(), plot.top());
  EXPECT_DOUBLE_EQ(G::dayStartX(0, 4, plot), plot.left());
  EXPECT_DOUBLE_EQ(G::dayStartX(3, 4, plot), 36 + 352 * 0.75);

  const QSizeF text(40, 12);
  EXPECT_EQ(G::dayLabelRect(100, text, Anchor::topLeading, 124), QRectF(100, 124, 40, 12));
  EXPECT_EQ(G::dayLabelRect(100, text, Anchor::top, 124), QRectF(80, 124, 40, 12));
  EXPECT_EQ(G::dayLabelRect(100, text, Anchor::topTrailing, 124), QRectF(60, 124, 40, 12));
}

TEST(DailyChartGeometry, CatmullRomPassesThroughThePointsWithControlsInsideEachPiece) {
  // Evenly spaced points on a line: the control points fall at the thirds.
  const std::vector<QPointF> line = {{0, 0}, {3, 3}, {6, 6}, {9, 9}};
  const auto pieces = G::catmullRom(line);
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[1].start, QPointF(3, 3));
  EXPECT_EQ(pieces[1].end, QPointF(6, 6));
  EXPECT_NEAR(pieces[1].control1.x(), 4, 1e-9);
  EXPECT_NEAR(pieces[1].control2.y(), 5, 1e-9);
  // The ends repeat their own point as the outer neighbour.
  EXPECT_EQ(pieces[0].control1, QPointF(0, 0));
  EXPECT_EQ(pieces[2].control2, QPointF(9, 9));

  // A dip between flat stretches.
  const std::vector<QPointF> spike = {{0, 100}, {10, 100}, {20, 0}, {30, 100}, {40, 100}};
  const auto curve = G::catmullRom(spike);
  ASSERT_EQ(curve.size(), 4u);
  for (std::size_t i = 0; i < curve.size(); ++i) {
    EXPECT_EQ(curve[i].start, spike[i]);
    EXPECT_EQ(curve[i].end, spike[i + 1]);
  }
  EXPECT_EQ(curve[0].control1, spike[0]);
  // Centripetal: the controls of a piece never leave its own x range.
  for (const auto& piece : curve) {
    for (QPointF c : {piece.control1, piece.control2}) {
      EXPECT_GE(c.x(), piece.start.x() - 1e-9);
      EXPECT_LE(c.x(), piece.end.x() + 1e-9);
    }
  }

  // Repeated points make straight pieces; fewer than two points make none.
  const auto repeated = G::catmullRom({{0, 0}, {0, 0}, {5, 5}});
  EXPECT_EQ(repeated[0], (G::Cubic{{0, 0}, {0, 0}, {0, 0}, {0, 0}}));
  EXPECT_TRUE(G::catmullRom({{1, 1}}).empty());
}

TEST(DailyChartGeometry, TheLineIsAnOutlineOfConstantWidthAroundTheFlattenedCurve) {
  const auto pieces = G::catmullRom({{0, 10}, {10, 10}, {20, 10}});
  const auto flat = G::flatten(pieces, 4);
  ASSERT_EQ(flat.size(), 9u);
  EXPECT_EQ(flat.front(), QPointF(0, 10));
  EXPECT_EQ(flat.back(), QPointF(20, 10));
  EXPECT_NEAR(flat[4].x(), 10, 1e-9);
  // Left edge forward, right edge back, each half the width from the line.
  const auto outline = G::lineOutline(flat, 1.5);
  ASSERT_EQ(outline.size(), 18u);
  for (std::size_t i = 0; i < 9; ++i) {
    EXPECT_NEAR(outline[i].y(), 10.75, 1e-9);
    EXPECT_NEAR(outline[17 - i].y(), 9.25, 1e-9);
    EXPECT_NEAR(outline[i].x(), flat[i].x(), 1e-9);
  }
  // Repeated points keep the last direction instead of a zero normal.
  const auto still = G::lineOutline({{0, 0}, {0, 0}, {0, 0}}, 2);
  for (const QPointF& p : still) EXPECT_NEAR(std::abs(p.y()), 1, 1e-9);
  EXPECT_TRUE(G::lineOutline({{1, 1}}, 2).empty());
  EXPECT_TRUE(G::flatten({}, 8).empty());
}

TEST(FlowLayoutRows, BreaksBeforeTheItemThatWouldPassTheWidth) {
  const std::vector<QSizeF> three(3, QSizeF(40, 10));
  auto rows = FlowLayout::rows(three, 120, 12, 4);
  EXPECT_EQ(rows, (std::vector<FlowLayout::Row>{{{0, 1}, 0, 92, 10}, {{2}, 14, 40, 10}}));
  EXPECT_EQ(FlowLayout::sizeThatFits(three, 120.0, 12, 4), QSizeF(120, 24));

  // Exactly as wide as the room left stays; wider than the width alone takes a line.
  rows = FlowLayout::rows({QSizeF(50, 10), QSizeF(58, 14), QSizeF(200, 8), QSizeF(10, 10)}, 120, 12, 4);
  EXPECT_EQ(rows, (std::vector<FlowLayout::Row>{{{0, 1}, 0, 120, 14}, {{2}, 18, 200, 8}, {{3}, 30, 10, 10}}));

  // No width proposed: one line; no items: nothing high.
  EXPECT_EQ(FlowLayout::sizeThatFits(three, std::nullopt, 12, 4), QSizeF(144, 10));
  EXPECT_EQ(FlowLayout::sizeThatFits({}, 300.0, 12, 4), QSizeF(300, 0));
  EXPECT_EQ(FlowLayout::sizeThatFits({}, std::nullopt, 12, 4), QSizeF(0, 0));
}

TEST(ByTypeBarPieces, ProportionalCapsulesWithAMinimumWidth) {
  using Piece = ByTypeBar::Piece;
  EXPECT_TRUE(ByTypeBar::pieces({}, 300).empty());
  // One segment fills the width, no gap taken off.
  EXPECT_EQ(ByTypeBar::pieces({5}, 300), (std::vector<Piece>{{0, 300, 0.25}}));
  // Shares of the width after the gaps: 304 - 2 x 2 = 300.
  EXPECT_EQ(ByTypeBar::pieces({1, 2, 1}, 304), (std::vector<Piece>{{0, 75, 0.25}, {77, 150, 0.42}, {229, 75, 0.6}}));
  // A sliver is drawn 3 wide and the bar is not rescaled for it.
  const auto sliver = ByTypeBar::pieces({999, 1}, 102);
  EXPECT_DOUBLE_EQ(sliver[0].width, 99.9);
  EXPECT_DOUBLE_EQ(sliver[1].width, 3);
  EXPECT_GT(sliver[1].x + sliver[1].width, 102);
  // Nothing at all: every capsule 3 wide.
  for (const auto& piece : ByTypeBar::pieces({0, 0, 0}, 300)) EXPECT_EQ(piece.width, 3);
  // Positions from the fifth on are at full opacity.
  const auto six = ByTypeBar::pieces({1, 1, 1, 1, 1, 1}, 600);
  EXPECT_EQ(six[3].opacity, 0.8);
  EXPECT_EQ(six[4].opacity, 1.0);
  EXPECT_EQ(six[5].opacity, 1.0);
}

}  // namespace
}  // namespace tokvane
