#include <gtest/gtest.h>

#include <memory>

#include "Tokvane/Engine/Settings/Preferences.hpp"
#include "Tokvane/Engine/Settings/UserDefaults.hpp"
#include "Tokvane/StatusItem/StatusTitle.hpp"

namespace tokvane {
namespace {

const Date kNow{800'000'000};

LimitWindow window(std::string id, std::string label, double used, std::optional<double> resetIn = std::nullopt) {
  std::optional<Date> resetsAt;
  if (resetIn) resetsAt = kNow + *resetIn;
  return LimitWindow(std::move(id), std::move(label), used, 18000, resetsAt, LimitSource::live());
}

ProviderLimits limitsWith(std::vector<LimitWindow> windows) {
  ProviderLimits limits;
  limits.windows = std::move(windows);
  limits.fetchedAt = kNow;
  return limits;
}

class StatusTitleTest : public testing::Test {
 protected:
  InMemoryUserDefaults defaults;
  Preferences preferences{defaults};
  StatusTitle::Limits limits;

  StatusTitle make(const std::vector<ProviderID>& present) {
    return StatusTitle::make(preferences, limits, present, kNow);
  }
};

TEST_F(StatusTitleTest, NothingKnownShowsTheApplication) {
  EXPECT_EQ(make({}), (StatusTitle{std::nullopt, std::nullopt, Severity::normal, "Tokvane"}));
  EXPECT_EQ(StatusTitle::initial(), make({}));
}

TEST_F(StatusTitleTest, NoPresentProviderStillListsStoredLimitsInTheTooltip) {
  limits[ProviderID::codex] = limitsWith({window("primary", "5h", 0.5, 3600)});
  const StatusTitle title = make({});
  EXPECT_EQ(title.text, std::nullopt);
  EXPECT_EQ(title.provider, std::nullopt);
  EXPECT_EQ(title.severity, Severity::normal);
  EXPECT_EQ(title.tooltip, "Codex · 5h 50% left · resets in 1h 0m");
}

TEST_F(StatusTitleTest, ProviderStyleShowsThePercentAndTheReset) {
  limits[ProviderID::claude] = limitsWith({window("five_hour", "Session", 0.42, 2 * 3600 + 14 * 60)});
  const StatusTitle title = make({ProviderID::claude});
  EXPECT_EQ(title.text, "58% · 2h 14m");
  EXPECT_EQ(title.provider, ProviderID::claude);
  EXPECT_EQ(title.severity, Severity::normal);
  EXPECT_EQ(title.tooltip, "Claude · Session 58% left · resets in 2h 14m");

  preferences.setShowResetTime(false);
  EXPECT_EQ(make({ProviderID::claude}).text, "58%");
}

TEST_F(StatusTitleTest, WindowWithoutResetShowsThePercentOnly) {
  limits[ProviderID::claude] = limitsWith({window("w", "Week", 0.1)});
  EXPECT_EQ(make({ProviderID::claude}).text, "90%");
  EXPECT_EQ(make({ProviderID::claude}).tooltip, "Claude · Week 90% left");
}

TEST_F(StatusTitleTest, EmptyWindowListShowsADash) {
  limits[ProviderID::claude] = limitsWith({});
  const StatusTitle title = make({ProviderID::claude});
  EXPECT_EQ(title.text, "—");
  EXPECT_EQ(title.provider, ProviderID::claude);
  EXPECT_EQ(title.tooltip, "Tokvane");
}

TEST_F(StatusTitleTest, PinnedProviderShownOnlyWhenPresent) {
  limits[ProviderID::claude] = limitsWith({window("a", "Session", 0.2)});
  limits[ProviderID::codex] = limitsWith({window("b", "5h", 0.7)});
  preferences.setPinnedProvider(ProviderID::codex);
  EXPECT_EQ(make({ProviderID::claude, ProviderID::codex}).provider, ProviderID::codex);
  EXPECT_EQ(make({ProviderID::claude, ProviderID::codex}).text, "30%");
  preferences.setPinnedProvider(ProviderID::grok);
  EXPECT_EQ(make({ProviderID::codex, ProviderID::claude}).provider, ProviderID::codex);
}

TEST_F(StatusTitleTest, ChosenWindowWinsAndAMissingOneFallsBackToTheTightest) {
  limits[ProviderID::claude] = limitsWith({window("five_hour", "Session", 0.2), window("seven_day", "Week", 0.6)});
  preferences.setMenuBarWindow("five_hour", ProviderID::claude);
  EXPECT_EQ(make({ProviderID::claude}).text, "80%");
  preferences.setMenuBarWindow("gone", ProviderID::claude);
  EXPECT_EQ(make({ProviderID::claude}).text, "40%");
}

TEST_F(StatusTitleTest, ChosenWindowIsUsedEvenWhenReset) {
  limits[ProviderID::claude] = limitsWith({window("five_hour", "Session", 0.9, -10), window("w", "Week", 0.6)});
  preferences.setMenuBarWindow("five_hour", ProviderID::claude);
  EXPECT_EQ(make({ProviderID::claude}).text, "100% · now");
}

TEST_F(StatusTitleTest, TightestSkipsResetWindowsUnlessAllHaveReset) {
  limits[ProviderID::claude] = limitsWith({window("a", "Session", 0.95, -1), window("b", "Week", 0.5, 3600)});
  EXPECT_EQ(make({ProviderID::claude}).text, "50% · 1h 0m");

  limits[ProviderID::claude] = limitsWith({window("a", "Session", 0.95, -1), window("b", "Week", 0.5, 0)});
  const StatusTitle allReset = make({ProviderID::claude});
  EXPECT_EQ(allReset.text, "100% · now");
  EXPECT_EQ(allReset.tooltip, "Claude · Session 100% left · resets now");
}

TEST_F(StatusTitleTest, EqualFractionsKeepTheFirstWindow) {
  limits[ProviderID::claude] = limitsWith({window("a", "Session", 0.5, 60), window("b", "Week", 0.5, 7200)});
  EXPECT_EQ(make({ProviderID::claude}).text, "50% · 1m");
  EXPECT_EQ(make({ProviderID::claude}).tooltip, "Claude · Session 50% left · resets in 1m");
}

struct SeverityCase {
  const char* name;
  double lowestLeft;
  bool tint;
  MenuBarStyle style;
  Severity expected;
};

class StatusTitleSeverityTest : public StatusTitleTest, public testing::WithParamInterface<SeverityCase> {};

TEST_P(StatusTitleSeverityTest, LowestWindowOfAnyPresentProviderDecides) {
  const SeverityCase& c = GetParam();
  preferences.setTintEnabled(c.tint);
  preferences.setMenuBarStyle(c.style);
  // The shown provider is comfortable; the other one decides.
  limits[ProviderID::claude] = limitsWith({window("a", "Session", 0.1)});
  limits[ProviderID::codex] = limitsWith({window("b", "5h", 0.2), window("c", "Week", 1 - c.lowestLeft)});
  const StatusTitle title = make({ProviderID::claude, ProviderID::codex});
  EXPECT_EQ(title.severity, c.expected);
  if (c.style == MenuBarStyle::icon) {
    EXPECT_EQ(title.text, std::nullopt);
    EXPECT_EQ(title.provider, std::nullopt);
  } else {
    EXPECT_EQ(title.provider, ProviderID::claude);
  }
}

// The default thresholds are 0.25 (warning) and 0.10 (critical).
INSTANTIATE_TEST_SUITE_P(
    Thresholds, StatusTitleSeverityTest,
    testing::Values(SeverityCase{"Comfortable", 0.5, true, MenuBarStyle::provider, Severity::normal},
                    SeverityCase{"AtWarning", 0.25, true, MenuBarStyle::provider, Severity::warning},
                    SeverityCase{"BelowWarning", 0.2, true, MenuBarStyle::provider, Severity::warning},
                    SeverityCase{"AtCritical", 0.1, true, MenuBarStyle::provider, Severity::critical},
                    SeverityCase{"IconStyleCritical", 0.05, true, MenuBarStyle::icon, Severity::critical},
                    SeverityCase{"TintOff", 0.05, false, MenuBarStyle::provider, Severity::normal},
                    SeverityCase{"TintOffIconStyle", 0.05, false, MenuBarStyle::icon, Severity::normal}),
    [](const testing::TestParamInfo<SeverityCase>& info) { return std::string(info.param.name); });

TEST_F(StatusTitleTest, TooltipFollowsTheEnabledProvidersInTheUsersOrder) {
  limits[ProviderID::claude] = limitsWith({window("a", "Session", 0.25, 90)});
  limits[ProviderID::codex] = limitsWith({window("b", "5h", 0.5)});
  limits[ProviderID::grok] = limitsWith({});
  preferences.setProviderOrder({ProviderID::codex, ProviderID::grok, ProviderID::claude});
  EXPECT_EQ(make({ProviderID::claude}).tooltip,
            "Codex · 5h 50% left\nClaude · Session 75% left · resets in 1m");
  preferences.setDisabledProviders({ProviderID::codex});
  EXPECT_EQ(make({ProviderID::claude}).tooltip, "Claude · Session 75% left · resets in 1m");
}

TEST(StatusTitleWindows, ChosenAndTightestWithoutLimits) {
  EXPECT_EQ(StatusTitle::tightest(std::nullopt, kNow), std::nullopt);
  EXPECT_EQ(StatusTitle::chosen(limitsWith({window("a", "A", 0)}), std::nullopt, kNow), std::nullopt);
  EXPECT_EQ(StatusTitle::chosen(std::nullopt, std::string("a"), kNow), std::nullopt);
  const auto picked = StatusTitle::chosen(limitsWith({window("a", "A", 0.3), window("a", "B", 0.1)}), "a", kNow);
  ASSERT_TRUE(picked);
  EXPECT_EQ(picked->label, "A");
}

}  // namespace
}  // namespace tokvane
