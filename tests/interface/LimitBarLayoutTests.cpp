#include <gtest/gtest.h>

#include <cmath>

#include "Tokvane/Usage/LimitBarLayout.hpp"
#include "Tokvane/Usage/LimitRow.hpp"
#include "Tokvane/Usage/LimitColors.hpp"
#include "Tokvane/Theme/SystemColors.hpp"

namespace tokvane {
namespace {

const Date now = Date::fromUnix(1767225600);
const QSizeF bar(200, 22);

// A bar model with exactly the fields given.
LimitBarModel model(double left, std::optional<double> timeLeft, std::optional<std::string> reset = std::nullopt) {
  LimitBarModel value(LimitWindow("w", "W", 0, std::nullopt, std::nullopt, LimitSource::live()), now);
  value.leftFraction = left;
  value.timeLeftFraction = timeLeft;
  value.resetText = std::move(reset);
  return value;
}

TEST(LimitBarLayout, SolidPartIsLeftAndStripesCoverTheRest) {
  struct Case {
    double left;
    double solidWidth;
  };
  const Case cases[] = {{1, 200}, {0, 0}, {0.25, 50}, {1.4, 200}, {-0.3, 0}, {NAN, 0}};
  for (const auto& c : cases) {
    const auto layout = LimitBarLayout::make(model(c.left, std::nullopt), bar);
    EXPECT_DOUBLE_EQ(layout.remaining.width(), c.solidWidth) << c.left;
    EXPECT_DOUBLE_EQ(layout.used.left(), c.solidWidth) << c.left;
    EXPECT_DOUBLE_EQ(layout.used.width(), 200 - c.solidWidth) << c.left;
    EXPECT_DOUBLE_EQ(layout.remaining.height(), 22);
  }
}

TEST(LimitBarLayout, MarkerIsCentredOnTimeLeftAndStaysInsideTheBar) {
  struct Case {
    std::optional<double> timeLeft;
    std::optional<double> x;
  };
  const Case cases[] = {{0.0, 0.0}, {1.0, 198.0}, {0.5, 99.0}, {0.002, 0.0}, {std::nullopt, std::nullopt}};
  for (const auto& c : cases) {
    const auto layout = LimitBarLayout::make(model(0.5, c.timeLeft), bar);
    ASSERT_EQ(layout.marker.has_value(), c.x.has_value());
    if (c.x) {
      EXPECT_DOUBLE_EQ(layout.marker->left(), *c.x);
      EXPECT_DOUBLE_EQ(layout.marker->width(), 2);
      EXPECT_DOUBLE_EQ(layout.marker->height(), 22);
    }
  }
}

TEST(LimitBarLayout, PillCarriesTheArrowAndSitsTwoFromTheTrailingEnd) {
  EXPECT_EQ(LimitBarLayout::make(model(0.5, 0.5, "2h 10m"), bar).pillText, QStringLiteral("\u21BB 2h 10m"));
  EXPECT_EQ(LimitBarLayout::make(model(0.5, std::nullopt), bar).pillText, std::nullopt);
  const QRectF pill = LimitBarLayout::pillRect(bar, 40);
  EXPECT_EQ(pill, QRectF(200 - 2 - 52, 2, 52, 18));
}

TEST(LimitBarLayout, AResetWindowShowsNowAndNoMarker) {
  const LimitWindow reset("w", "Weekly", 0.9, 604800, now - 5, LimitSource::live());
  const auto layout = LimitBarLayout::make(LimitBarModel(reset, now), bar);
  EXPECT_EQ(layout.pillText, QStringLiteral("\u21BB now"));
  EXPECT_FALSE(layout.marker);
  EXPECT_DOUBLE_EQ(layout.used.width(), 0);
}

TEST(LimitBarLayout, StripesRiseAtFortyFiveDegreesFiveApartFromLeftOfTheArea) {
  const auto lines = LimitBarLayout::hatchLines(QSizeF(20, 22));
  // x = -22, -17, ..., 18: nine strokes.
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines.front(), QLineF(-22, 22, 0, 0));
  EXPECT_EQ(lines.back(), QLineF(18, 22, 40, 0));
  EXPECT_TRUE(LimitBarLayout::hatchLines(QSizeF(0, 22)).size() == 5u);
}

TEST(PaceSymbols, EachKnownPaceHasASymbolAndAHelpText) {
  EXPECT_EQ(paceSymbolName(Pace::under), QStringLiteral("gauge.with.dots.needle.33percent"));
  EXPECT_EQ(paceSymbolName(Pace::onPace), QStringLiteral("gauge.with.dots.needle.50percent"));
  EXPECT_EQ(paceSymbolName(Pace::over), QStringLiteral("chart.line.downtrend.xyaxis"));
  EXPECT_EQ(paceSymbolName(Pace::unknown), std::nullopt);
  EXPECT_EQ(paceHelpText(Pace::under), QStringLiteral("Using less than the time elapsed"));
  EXPECT_EQ(paceHelpText(Pace::onPace), QStringLiteral("On pace to last until the reset"));
  EXPECT_EQ(paceHelpText(Pace::over), QStringLiteral("Using faster than the time elapsed"));
  EXPECT_EQ(paceHelpText(Pace::unknown), std::nullopt);
}

TEST(LimitColors, ResolvePerAppearance) {
  EXPECT_EQ(LimitColors::resetPillFill().resolve(Appearance::light), QColor(255, 255, 255));
  EXPECT_EQ(LimitColors::resetPillFill().resolve(Appearance::dark).red(), static_cast<int>(std::lround(0.07 * 255)));
  EXPECT_EQ(LimitColors::timeMarker().resolve(Appearance::dark), QColor(Qt::white));
  EXPECT_EQ(LimitColors::timeMarker().resolve(Appearance::light), SystemColors::label().light);
  EXPECT_NEAR(LimitColors::cardFill().resolve(Appearance::dark).alphaF(), 0.035, 0.003);
  EXPECT_EQ(LimitColors::cardFill().resolve(Appearance::light).red(), 0);
  EXPECT_NEAR(LimitColors::cardBorder().resolve(Appearance::light).alphaF(), 0.08, 0.003);
}

TEST(LimitRowGeometry, LabelColumnIs132WideAndTheBarTakesTheRest) {
  LimitRow row({"Session", LimitBarModel(LimitWindow("s", "Session", 0.42, 18000, now + 3600, LimitSource::live()), now),
                fixedColor(Qt::red), false});
  const auto geometry = row.geometryFor(388);
  EXPECT_DOUBLE_EQ(geometry.label.left(), 16);
  EXPECT_DOUBLE_EQ(geometry.label.width(), 132);
  EXPECT_DOUBLE_EQ(geometry.bar.left(), 16 + 132 + 12);
  EXPECT_DOUBLE_EQ(geometry.bar.right(), 388 - 16);
  EXPECT_DOUBLE_EQ(geometry.bar.height(), 22);
  EXPECT_DOUBLE_EQ(geometry.percentScale, 1);
  ASSERT_TRUE(geometry.paceSymbol);
  EXPECT_LE(geometry.paceSymbol->right(), 16 + 132);
  EXPECT_GT(geometry.left.left(), geometry.percent.right());
}

TEST(LimitRowGeometry, AWidePercentageShrinksButNotBelowSevenTenths) {
  LimitBarModel wide(LimitWindow("s", "Session", 0.42, 18000, now + 3600, LimitSource::live()), now);
  wide.percentLeftText = "100000%";
  LimitRow row({"Session", wide, fixedColor(Qt::red), false});
  const auto geometry = row.geometryFor(388);
  EXPECT_LT(geometry.percentScale, 1);
  EXPECT_GE(geometry.percentScale, 0.7);
  wide.percentLeftText = "100000000000%";
  row.setValue({"Session", wide, fixedColor(Qt::red), false});
  EXPECT_DOUBLE_EQ(row.geometryFor(388).percentScale, 0.7);
}

TEST(LimitRowGeometry, NoPaceSymbolWithoutAResetTime) {
  LimitRow row({"Weekly", LimitBarModel(LimitWindow("w", "Weekly", 0.4, 604800, std::nullopt, LimitSource::live()), now),
                fixedColor(Qt::red), false});
  EXPECT_FALSE(row.geometryFor(388).paceSymbol);
  EXPECT_EQ(row.accessibleName(), QStringLiteral("Weekly, 60% left"));
}

}  // namespace
}  // namespace tokvane
