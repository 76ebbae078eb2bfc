#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "TokvaneCore/Foundation/KeyedJSON.hpp"
#include "TokvaneCore/Presentation/LimitBarModel.hpp"

namespace tokvane {

void PrintTo(Pace pace, std::ostream* os) { *os << caseName(pace); }

namespace {

const Date now = Date::fromUnix(1'760'000'000);

struct BarCase {
  const char* name;
  double used;
  std::optional<double> duration;
  std::optional<double> resetIn;  // seconds from now
  double leftFraction;
  std::optional<double> timeLeftFraction;
  Pace pace;
  std::string percentLeft;
  std::optional<std::string> resetText;
};

TEST(LimitBarModel, PresentsAWindowAtAMoment) {
  const std::vector<BarCase> cases = {
      {"reset exactly now, even fully used", 1, 18'000, 0, 1, std::nullopt, Pace::unknown, "100%", "now"},
      {"reset an hour ago", 0.7, 18'000, -3600, 1, std::nullopt, Pace::unknown, "100%", "now"},
      {"reset now without a duration", 0.3, std::nullopt, 0, 1, std::nullopt, Pace::unknown, "100%", "now"},
      {"no reset time", 0.42, 18'000, std::nullopt, 0.58, std::nullopt, Pace::unknown, "58%", std::nullopt},
      {"five-hour window, 13 minutes to go", 0.15, 18'000, 780, 0.85, 780.0 / 18'000, Pace::under, "85%", "13m"},
      {"half a percent used rounds up to 100%", 0.005, std::nullopt, std::nullopt, 0.995, std::nullopt,
       Pace::unknown, "100%", std::nullopt},
      {"fully used, reset a second ahead", 1, 60, 1, 0, 1.0 / 60, Pace::onPace, "0%", "<1m"},
      // The pace band at half the time gone: 0.05 ahead to 0.15 behind is on pace.
      {"0.60 at half time is over", 0.60, 1000, 500, 0.4, 0.5, Pace::over, "40%", "8m"},
      {"0.55 at half time is on pace", 0.55, 1000, 500, 0.45, 0.5, Pace::onPace, "45%", "8m"},
      {"0.35 at half time is on pace", 0.35, 1000, 500, 0.65, 0.5, Pace::onPace, "65%", "8m"},
      {"0.34 at half time is under", 0.34, 1000, 500, 0.66, 0.5, Pace::under, "66%", "8m"},
      {"reset further away than the duration", 0.1, 3600, 7200, 0.9, 1, Pace::over, "90%", "2h 0m"},
      {"unused, reset further away than the duration", 0, 3600, 7200, 1, 1, Pace::onPace, "100%", "2h 0m"},
      {"duration 0 keeps the countdown", 0.5, 0, 90'000, 0.5, std::nullopt, Pace::unknown, "50%", "1d 1h"},
      {"negative duration", 0.5, -10, 600, 0.5, std::nullopt, Pace::unknown, "50%", "10m"},
      {"no duration keeps the countdown", 0.2, std::nullopt, 3600, 0.8, std::nullopt, Pace::unknown, "80%", "1h 0m"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<Date> resetsAt;
    if (c.resetIn) resetsAt = now + *c.resetIn;
    const LimitBarModel bar(LimitWindow("w", "W", c.used, c.duration, resetsAt, LimitSource::live()), now);
    EXPECT_DOUBLE_EQ(bar.leftFraction, c.leftFraction);
    ASSERT_EQ(bar.timeLeftFraction.has_value(), c.timeLeftFraction.has_value());
    if (c.timeLeftFraction) {
      EXPECT_DOUBLE_EQ(*bar.timeLeftFraction, *c.timeLeftFraction);
    }
    EXPECT_EQ(bar.pace, c.pace);
    EXPECT_EQ(bar.percentLeftText, c.percentLeft);
    EXPECT_EQ(bar.resetText, c.resetText);
  }
}

TEST(LimitBarModel, SourceDoesNotMatterAndEqualityCoversTheFields) {
  const LimitWindow live("session", "Session", 0.25, 18'000, now + 900, LimitSource::live());
  LimitWindow stale = live;
  stale.source = LimitSource::stale(now - 600);
  EXPECT_EQ(LimitBarModel(live, now), LimitBarModel(stale, now));
  EXPECT_NE(LimitBarModel(live, now), LimitBarModel(live, now + 60)) << "the countdown moves";
  EXPECT_NE(LimitBarModel(live, now), LimitBarModel(live, now + 900)) << "and the window resets";
}

TEST(LimitBarModel, DecodedFractionsOutsideTheRangeAreShownAsStored) {
  // The initialiser clamps; only a decoded window can carry such a fraction.
  struct Case {
    const char* usedJSON;
    std::string percentLeft;
  };
  const std::vector<Case> cases = {
      {"1.7", "-70%"},
      {"-0.5", "150%"},
      {"1.000001", "0%"},  // not "-0%"
      {"1.005", "0%"},     // -0.4999... rounds to zero
      {"1.006", "-1%"},    // -0.6 rounds away from zero
      {"1e300", "-9223372036854775808%"},
      {"-1e300", "9223372036854775807%"},
  };
  for (const auto& c : cases) {
    const JSON json = JSON::parse(std::string(R"({"id":"w","label":"W","usedFraction":)") + c.usedJSON +
                                  R"(,"source":{"live":{}}})");
    const LimitWindow window = LimitWindow::fromJSON(json, DateCoding::iso8601);
    const LimitBarModel bar(window, now);
    EXPECT_EQ(bar.percentLeftText, c.percentLeft) << c.usedJSON;
    EXPECT_EQ(bar.leftFraction, 1 - window.usedFraction) << c.usedJSON;
  }

  LimitWindow infinite("w", "W", 0, 100, now + 50, LimitSource::live());
  infinite.usedFraction = std::numeric_limits<double>::infinity();
  const LimitBarModel bar(infinite, now);
  EXPECT_EQ(bar.percentLeftText, "-9223372036854775808%");
  EXPECT_EQ(bar.pace, Pace::over);
}

}  // namespace
}  // namespace tokvane
