#include <gtest/gtest.h>

#include "Tokvane/Usage/ProviderSection.hpp"
#include "Tokvane/Usage/UsageTab.hpp"
#include "tests/interface/support/PopoverModel.hpp"

namespace tokvane {
namespace {

using enum ProviderID;

TEST(UsageTab, CardsFollowTheUsersOrderThePresentToolsAndTheEnabledOnes) {
  popovertest::PopoverModel harness;
  UsageTab tab(*harness.model, harness.preferences, harness.locations);
  EXPECT_TRUE(tab.showsEmptyState());
  EXPECT_TRUE(tab.shownProviders().empty());

  harness.makePresent(codex);
  harness.makePresent(claude);
  harness.preferences.setProviderOrder({codex, grok, claude, cursor});
  EXPECT_FALSE(tab.showsEmptyState());
  // Grok is enabled but not present; a provider without limits still has a card.
  EXPECT_EQ(tab.shownProviders(), (std::vector<ProviderID>{codex, claude}));
  EXPECT_FALSE(tab.sections()[0]->value().limits);

  harness.preferences.setDisabledProviders({codex});
  EXPECT_EQ(tab.shownProviders(), std::vector<ProviderID>{claude});
  harness.preferences.setDisabledProviders({codex, claude});
  EXPECT_TRUE(tab.showsEmptyState());
}

TEST(UsageTab, CardsTakeTheModelsLimitsAndTheClock) {
  popovertest::PopoverModel harness;
  harness.makePresent(claude);
  UsageTab tab(*harness.model, harness.preferences, harness.locations);
  const Date now = Date::fromUnix(1767268020);
  tab.setClock([now] { return now; });
  ProviderLimits limits;
  limits.plan = "Max 5x";
  limits.windows.emplace_back("session", "Session", 0.3, 18000, now + 600, LimitSource::live());
  harness.setLimits(claude, limits);
  ASSERT_EQ(tab.sections().size(), 1u);
  const ProviderSection* card = tab.sections()[0];
  EXPECT_EQ(card->value().limits->plan, "Max 5x");
  EXPECT_EQ(card->value().now, now);
  EXPECT_EQ(card->planText(), QStringLiteral("Max 5x"));
  // A new answer updates the same card.
  limits.plan = "Max 20x";
  harness.setLimits(claude, limits);
  ASSERT_EQ(tab.sections().size(), 1u);
  EXPECT_EQ(tab.sections()[0], card);
  EXPECT_EQ(card->planText(), QStringLiteral("Max 20x"));
}

}  // namespace
}  // namespace tokvane
