#include <gtest/gtest.h>

#include <QLocale>

#include "Tokvane/Usage/LimitRow.hpp"
#include "Tokvane/Usage/NoProvidersView.hpp"
#include "Tokvane/Usage/ProviderSection.hpp"

namespace tokvane {
namespace {

const Date now = Date::fromUnix(1767268020);

ProviderLimits limitsWith(ProviderStatus status, std::vector<LimitWindow> windows = {}) {
  ProviderLimits limits;
  limits.status = status;
  limits.windows = std::move(windows);
  return limits;
}

LimitWindow liveWindow(const char* id, double used) {
  return LimitWindow(id, id, used, 18000, now + 3600, LimitSource::live());
}

class ProviderSectionTest : public ::testing::Test {
 protected:
  void SetUp() override { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
  void TearDown() override { QLocale::setDefault(QLocale::c()); }
};

TEST_F(ProviderSectionTest, WithoutLimitsOnlyTheHeaderShows) {
  int retries = 0;
  ProviderSection card({ProviderID::claude, std::nullopt, now}, [&] { ++retries; });
  EXPECT_EQ(card.nameText(), QStringLiteral("Claude"));
  EXPECT_FALSE(card.planText());
  EXPECT_FALSE(card.statusLineText());
  EXPECT_FALSE(card.showsRetry());
  EXPECT_TRUE(card.rows().empty());
  EXPECT_FALSE(card.creditsText());
}

TEST_F(ProviderSectionTest, EachStatusShowsItsLineAndOnlyAccessDeniedOffersRetry) {
  struct Case {
    ProviderStatus status;
    std::optional<QString> line;
    bool retry;
  };
  const Case cases[] = {
      {ProviderStatus::ok, std::nullopt, false},
      {ProviderStatus::signInNeeded, QStringLiteral("Open Codex to refresh your login"), false},
      {ProviderStatus::unreachable, QStringLiteral("Couldn't reach Codex \u2014 showing last known values"), false},
      {ProviderStatus::rateLimited, QStringLiteral("Couldn't reach Codex \u2014 showing last known values"), false},
      {ProviderStatus::accessDenied, QStringLiteral("Allow access in Settings \u2192 Providers"), true},
      {ProviderStatus::unavailable, QStringLiteral("Live limits not available for Codex yet"), false},
  };
  int retries = 0;
  ProviderSection card({ProviderID::codex, std::nullopt, now}, [&] { ++retries; });
  for (const auto& c : cases) {
    // The same card takes each status in turn, as the model changes.
    card.setValue({ProviderID::codex, limitsWith(c.status, {liveWindow("session", 0.3)}), now});
    EXPECT_EQ(card.statusLineText(), c.line) << caseName(c.status);
    EXPECT_EQ(card.showsRetry(), c.retry) << caseName(c.status);
    EXPECT_EQ(card.rows().size(), 1u) << caseName(c.status);
  }
  card.setValue({ProviderID::codex, limitsWith(ProviderStatus::accessDenied), now});
  card.clickRetry();
  EXPECT_EQ(retries, 1);
}

TEST_F(ProviderSectionTest, StaleWindowsDimOnlyTheirBarAndNameTheEarliestTime) {
  ProviderLimits limits = limitsWith(ProviderStatus::ok);
  limits.windows = {LimitWindow("session", "Session", 0.42, 18000, now + 7800, LimitSource::stale(now - 1200)),
                    LimitWindow("weekly", "Weekly", 0.1, 604800, now + 86400, LimitSource::local(now - 600))};
  ProviderSection card({ProviderID::claude, limits, now}, {});
  ASSERT_EQ(card.rows().size(), 2u);
  const auto& stale = card.rows()[0]->value();
  const auto& local = card.rows()[1]->value();
  EXPECT_TRUE(stale.isStale);
  EXPECT_FALSE(local.isStale);
  // The texts are those of a live window.
  EXPECT_EQ(stale.bar.percentLeftText, "58%");
  EXPECT_EQ(card.rows()[0]->accessibleName(), QStringLiteral("Session, 58% left, resets in 2h 10m"));
  ASSERT_TRUE(card.statusLineText());
  EXPECT_EQ(card.statusLineText()->replace(QChar(0x202F), QLatin1Char(' ')), QStringLiteral("as of 11:27 AM"));
}

TEST_F(ProviderSectionTest, PlanBadgeAndCreditsShowOnlyWhenGiven) {
  ProviderLimits limits = limitsWith(ProviderStatus::ok, {liveWindow("session", 0.2), liveWindow("weekly", 0.5)});
  limits.plan = "";
  ProviderSection card({ProviderID::codex, limits, now}, {});
  EXPECT_FALSE(card.planText());
  limits.plan = "Plus";
  limits.credits = Credits{"Credits", 12.5, 1.0, std::nullopt, false};
  card.setValue({ProviderID::codex, limits, now});
  EXPECT_EQ(card.planText(), QStringLiteral("Plus"));
  EXPECT_EQ(card.creditsText(), QStringLiteral("$12.50 left"));
  EXPECT_EQ(card.rows().size(), 2u);
}

TEST_F(ProviderSectionTest, RowsAreKeptAndUpdatedWhileTheWindowCountStays) {
  ProviderLimits limits = limitsWith(ProviderStatus::ok, {liveWindow("session", 0.2)});
  ProviderSection card({ProviderID::claude, limits, now}, {});
  const LimitRow* row = card.rows()[0];
  limits.windows[0].usedFraction = 0.6;
  card.setValue({ProviderID::claude, limits, now + 30});
  ASSERT_EQ(card.rows().size(), 1u);
  EXPECT_EQ(card.rows()[0], row);
  EXPECT_EQ(row->value().bar.percentLeftText, "40%");
  EXPECT_EQ(row->value().bar.resetText, "59m");
}

TEST(NoProvidersView, ListsTheWatchedFolders) {
  NoProvidersView view(ProviderLocations("/home/ada"));
  EXPECT_EQ(view.texts(), (QStringList{QStringLiteral("No AI coding tools found yet"),
                                       QStringLiteral("Tokvane watches these folders:"),
                                       QStringLiteral("~/.claude/projects"), QStringLiteral("~/.codex/sessions"),
                                       QStringLiteral("~/.codex/archived_sessions"), QStringLiteral("~/.grok/sessions"),
                                       QStringLiteral("~/.config/Cursor/User/globalStorage")}));
}

}  // namespace
}  // namespace tokvane
