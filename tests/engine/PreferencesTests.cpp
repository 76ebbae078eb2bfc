#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "Tokvane/Engine/Settings/Preferences.hpp"
#include "platform/linux/JSONFileUserDefaults.hpp"
#include "tests/support/TempDir.hpp"

namespace tokvane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Property = Preferences::Property;
using Texts = std::vector<std::string>;
using Windows = std::map<std::string, std::string>;

constexpr ProviderID claude = ProviderID::claude;
constexpr ProviderID codex = ProviderID::codex;
constexpr ProviderID grok = ProviderID::grok;
constexpr ProviderID cursor = ProviderID::cursor;

// Preferences over an in-memory store, with the properties observers heard of.
struct Fixture {
  explicit Fixture(const std::map<std::string, DefaultsValue>& stored = {}) {
    for (const auto& [key, value] : stored) defaults.set(key, value);
    preferences = std::make_unique<Preferences>(defaults);
    subscription = preferences->observe([this](Property property) { told.push_back(property); });
  }
  Preferences& operator*() { return *preferences; }
  Preferences* operator->() { return preferences.get(); }
  std::optional<DefaultsValue> stored(const std::string& key) const { return defaults.object(key); }

  InMemoryUserDefaults defaults;
  std::unique_ptr<Preferences> preferences;
  std::shared_ptr<Subscription> subscription;
  std::vector<Property> told;
};

TEST(Preferences, AFirstLaunchReadsTheDefaultsAndWritesNothing) {
  Fixture f;
  EXPECT_FALSE(f->showDockIcon());
  EXPECT_FALSE(f->hasCompletedOnboarding());
  EXPECT_EQ(f->menuBarStyle(), MenuBarStyle::provider);
  EXPECT_EQ(f->pinnedProvider(), claude);
  EXPECT_TRUE(f->showResetTime());
  EXPECT_THAT(f->menuBarWindows(), IsEmpty());
  EXPECT_DOUBLE_EQ(f->warningThreshold(), 0.25);
  EXPECT_DOUBLE_EQ(f->criticalThreshold(), 0.1);
  EXPECT_TRUE(f->tintEnabled());
  EXPECT_THAT(f->providerOrder(), ElementsAre(claude, codex, grok, cursor));
  EXPECT_THAT(f->disabledProviders(), IsEmpty());
  EXPECT_TRUE(f->claudeLiveLimits());
  EXPECT_EQ(f->summaryUnit(), SummaryUnit::cost);
  EXPECT_EQ(f->popoverTab(), PopoverTab::usage);
  EXPECT_THAT(f->enabledProviders(), ElementsAre(claude, codex, grok, cursor));
  EXPECT_EQ(f.defaults.writes(), 0);
  // The registered defaults answer from memory.
  ASSERT_TRUE(f.stored("showResetTime"));
  EXPECT_EQ(std::get<bool>(*f.stored("showResetTime")), true);
  EXPECT_EQ(std::get<double>(*f.stored("warningThreshold")), 0.25);
  EXPECT_FALSE(f.stored("menuBarStyle"));
}

struct ReadCase {
  const char* name;
  std::map<std::string, DefaultsValue> stored;
  std::function<void(const Preferences&)> check;
};

TEST(Preferences, StoredValuesAreReadAndCorrectedInMemoryOnly) {
  const std::vector<ReadCase> cases = {
      {"order: unknown names and repeats dropped, missing providers appended",
       {{"providerOrder", Texts{"grok", "gemini", "grok", "claude"}}},
       [](const Preferences& p) { EXPECT_THAT(p.providerOrder(), ElementsAre(grok, claude, codex, cursor)); }},
      {"order: an empty array is the default order",
       {{"providerOrder", Texts{}}},
       [](const Preferences& p) { EXPECT_THAT(p.providerOrder(), ElementsAre(claude, codex, grok, cursor)); }},
      {"order: a value that is not an array of texts counts as missing",
       {{"providerOrder", std::string("grok")}},
       [](const Preferences& p) { EXPECT_THAT(p.providerOrder(), ElementsAre(claude, codex, grok, cursor)); }},
      {"disabled: unknown names dropped",
       {{"disabledProviders", Texts{"cursor", "gemini"}}},
       [](const Preferences& p) { EXPECT_THAT(p.disabledProviders(), ElementsAre(cursor)); }},
      {"disabled: a value that is not an array of texts counts as missing",
       {{"disabledProviders", std::string("cursor")}},
       [](const Preferences& p) { EXPECT_THAT(p.disabledProviders(), IsEmpty()); }},
      {"thresholds below their minimums",
       {{"warningThreshold", 0.05}, {"criticalThreshold", 0.3}},
       [](const Preferences& p) {
         EXPECT_DOUBLE_EQ(p.warningThreshold(), 0.1);
         EXPECT_DOUBLE_EQ(p.criticalThreshold(), 0.05);
       }},
      {"critical above the corrected warning minus the gap",
       {{"warningThreshold", 0.5}, {"criticalThreshold", 0.5}},
       [](const Preferences& p) {
         EXPECT_DOUBLE_EQ(p.warningThreshold(), 0.5);
         EXPECT_EQ(p.criticalThreshold(), 0.5 - 0.05);
       }},
      {"thresholds that are not numeric read as 0",
       {{"warningThreshold", std::string("high")}, {"criticalThreshold", Texts{"x"}}},
       [](const Preferences& p) {
         EXPECT_DOUBLE_EQ(p.warningThreshold(), 0.1);
         EXPECT_DOUBLE_EQ(p.criticalThreshold(), 0.05);
       }},
      {"thresholds that are not finite read as 0",
       {{"warningThreshold", std::numeric_limits<double>::infinity()},
        {"criticalThreshold", std::numeric_limits<double>::quiet_NaN()}},
       [](const Preferences& p) {
         EXPECT_DOUBLE_EQ(p.warningThreshold(), 0.1);
         EXPECT_DOUBLE_EQ(p.criticalThreshold(), 0.05);
       }},
      {"thresholds in range are kept",
       {{"warningThreshold", 0.4}, {"criticalThreshold", 0.2}},
       [](const Preferences& p) {
         EXPECT_DOUBLE_EQ(p.warningThreshold(), 0.4);
         EXPECT_DOUBLE_EQ(p.criticalThreshold(), 0.2);
       }},
      {"style: exactly \"icon\"",
       {{"menuBarStyle", std::string("icon")}},
       [](const Preferences& p) { EXPECT_EQ(p.menuBarStyle(), MenuBarStyle::icon); }},
      {"style: another letter case is the fallback",
       {{"menuBarStyle", std::string("Icon")}},
       [](const Preferences& p) { EXPECT_EQ(p.menuBarStyle(), MenuBarStyle::provider); }},
      {"pinned: a raw value",
       {{"pinnedProvider", std::string("grok")}},
       [](const Preferences& p) { EXPECT_EQ(p.pinnedProvider(), grok); }},
      {"pinned: a text naming no provider",
       {{"pinnedProvider", std::string("Codex")}},
       [](const Preferences& p) { EXPECT_EQ(p.pinnedProvider(), claude); }},
      {"pinned: not a text",
       {{"pinnedProvider", true}},
       [](const Preferences& p) { EXPECT_EQ(p.pinnedProvider(), claude); }},
      {"windows: a dictionary of texts",
       {{"menuBarWindows", Windows{{"claude", "weekly"}, {"codex", "primary"}}}},
       [](const Preferences& p) {
         EXPECT_EQ(p.menuBarWindow(claude), "weekly");
         EXPECT_EQ(p.menuBarWindow(codex), "primary");
         EXPECT_EQ(p.menuBarWindow(grok), std::nullopt);
       }},
      {"windows: not a dictionary",
       {{"menuBarWindows", Texts{"weekly"}}},
       [](const Preferences& p) { EXPECT_THAT(p.menuBarWindows(), IsEmpty()); }},
      {"unit and tab",
       {{"summaryUnit", std::string("tokens")}, {"popoverTab", std::string("models")}},
       [](const Preferences& p) {
         EXPECT_EQ(p.summaryUnit(), SummaryUnit::tokens);
         EXPECT_EQ(p.popoverTab(), PopoverTab::models);
       }},
      {"unit and tab: unknown texts",
       {{"summaryUnit", std::string("Tokens")}, {"popoverTab", std::string("Stats")}},
       [](const Preferences& p) {
         EXPECT_EQ(p.summaryUnit(), SummaryUnit::cost);
         EXPECT_EQ(p.popoverTab(), PopoverTab::usage);
       }},
      {"tab: stats",
       {{"popoverTab", std::string("stats")}},
       [](const Preferences& p) { EXPECT_EQ(p.popoverTab(), PopoverTab::stats); }},
      {"booleans as stored, over their registered defaults",
       {{"showDockIcon", true},
        {"hasCompletedOnboarding", true},
        {"showResetTime", false},
        {"tintEnabled", false},
        {"claudeLiveLimits", false}},
       [](const Preferences& p) {
         EXPECT_TRUE(p.showDockIcon());
         EXPECT_TRUE(p.hasCompletedOnboarding());
         EXPECT_FALSE(p.showResetTime());
         EXPECT_FALSE(p.tintEnabled());
         EXPECT_FALSE(p.claudeLiveLimits());
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f(c.stored);
    c.check(*f);
    // Corrections stay in memory: the stored values are left as they were.
    EXPECT_EQ(f.defaults.writes(), static_cast<int>(c.stored.size()));
    for (const auto& [key, value] : c.stored) {
      const auto stored = f.stored(key);
      ASSERT_TRUE(stored);
      if (std::holds_alternative<double>(value) && std::isnan(std::get<double>(value))) continue;
      EXPECT_EQ(*stored, value) << key;
    }
  }
}

TEST(Preferences, MenuBarWindowsWithANonTextValueReadAsEmpty) {
  testing::TempDir dir;
  const auto file = dir / "defaults.json";
  testing::writeFile(file, R"({"menuBarWindows": {"claude": "weekly", "codex": 7}})");
  JSONFileUserDefaults defaults(file);
  Preferences preferences(defaults);
  EXPECT_THAT(preferences.menuBarWindows(), IsEmpty());
  EXPECT_NE(testing::readFile(file).find("\"codex\": 7"), std::string::npos);
}

struct ThresholdCase {
  const char* name;
  std::map<std::string, DefaultsValue> stored;
  std::function<void(Preferences&)> act;
  double warning;
  double critical;
  std::optional<double> writtenWarning;   // none: not written
  std::optional<double> writtenCritical;  // none: not written
  std::vector<Property> told;
};

TEST(Preferences, ThresholdsKeepTheirOrderAndGap) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<ThresholdCase> cases = {
      {"lowering the warning pulls the critical down",
       {{"warningThreshold", 0.5}, {"criticalThreshold", 0.4}},
       [](Preferences& p) { p.setWarningThreshold(0.2); },
       0.2, 0.2 - 0.05, 0.2, 0.2 - 0.05,
       {Property::warningThreshold, Property::criticalThreshold}},
      {"raising the warning leaves the critical alone",
       {},
       [](Preferences& p) { p.setWarningThreshold(0.4); },
       0.4, 0.1, 0.4, std::nullopt,
       {Property::warningThreshold}},
      {"a warning exactly the gap above the critical moves nothing else",
       {{"criticalThreshold", 0.15}},
       [](Preferences& p) { p.setWarningThreshold(0.2); },
       0.2, 0.15, 0.2, std::nullopt,
       {Property::warningThreshold}},
      {"a warning below the minimum becomes the minimum and pulls the critical along",
       {{"criticalThreshold", 0.15}},
       [](Preferences& p) { p.setWarningThreshold(0.0); },
       0.1, 0.05, 0.1, 0.05,
       {Property::warningThreshold, Property::criticalThreshold}},
      {"a negative warning becomes the minimum",
       {{"criticalThreshold", 0.05}},
       [](Preferences& p) { p.setWarningThreshold(-3); },
       0.1, 0.05, 0.1, std::nullopt,
       {Property::warningThreshold}},
      {"a critical above the warning minus the gap is bounded",
       {},
       [](Preferences& p) { p.setCriticalThreshold(0.5); },
       0.25, 0.25 - 0.05, std::nullopt, 0.25 - 0.05,
       {Property::criticalThreshold}},
      {"a critical below the minimum becomes the minimum",
       {},
       [](Preferences& p) { p.setCriticalThreshold(0.01); },
       0.25, 0.05, std::nullopt, 0.05,
       {Property::criticalThreshold}},
      {"a critical within the tolerance of its bound is kept as given",
       {},
       [](Preferences& p) { p.setCriticalThreshold(0.2 + 5e-10); },
       0.25, 0.2 + 5e-10, std::nullopt, 0.2 + 5e-10,
       {Property::criticalThreshold}},
      {"a warning that is not a number is ignored",
       {{"warningThreshold", 0.5}, {"criticalThreshold", 0.4}},
       [nan](Preferences& p) { p.setWarningThreshold(nan); },
       0.5, 0.4, std::nullopt, std::nullopt, {}},
      {"an infinite warning is ignored",
       {},
       [inf](Preferences& p) {
         p.setWarningThreshold(inf);
         p.setWarningThreshold(-inf);
       },
       0.25, 0.1, std::nullopt, std::nullopt, {}},
      {"a critical that is not finite is ignored",
       {},
       [nan, inf](Preferences& p) {
         p.setCriticalThreshold(nan);
         p.setCriticalThreshold(inf);
         p.setCriticalThreshold(-inf);
       },
       0.25, 0.1, std::nullopt, std::nullopt, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    InMemoryUserDefaults defaults;
    for (const auto& [key, value] : c.stored) defaults.set(key, value);
    Preferences p(defaults);
    std::vector<Property> told;
    auto subscription = p.observe([&](Property property) {
      told.push_back(property);
      // Whoever hears of a change sees both thresholds already consistent.
      EXPECT_GE(p.warningThreshold(), Preferences::minimumWarning);
      EXPECT_GE(p.criticalThreshold(), Preferences::minimumCritical);
      EXPECT_LE(p.criticalThreshold(), p.warningThreshold() - Preferences::thresholdGap + 1e-9);
    });
    const int writesBefore = defaults.writes();
    c.act(p);
    EXPECT_EQ(p.warningThreshold(), c.warning);
    EXPECT_EQ(p.criticalThreshold(), c.critical);
    EXPECT_EQ(told, c.told);

    auto storedNumber = [&](const char* key) -> std::optional<double> {
      const auto value = defaults.object(key);
      return value ? std::optional<double>(std::get<double>(*value)) : std::nullopt;
    };
    const auto before = [&](const char* key) -> std::optional<double> {
      if (auto it = c.stored.find(key); it != c.stored.end()) return std::get<double>(it->second);
      return key == std::string("warningThreshold") ? 0.25 : 0.1;  // the registered defaults
    };
    EXPECT_EQ(storedNumber("warningThreshold"), c.writtenWarning ? c.writtenWarning : before("warningThreshold"));
    EXPECT_EQ(storedNumber("criticalThreshold"), c.writtenCritical ? c.writtenCritical : before("criticalThreshold"));
    EXPECT_EQ(defaults.writes() - writesBefore,
              (c.writtenWarning ? 1 : 0) + (c.writtenCritical ? 1 : 0));
  }
}

// One property, set once to its current value and once to another.
struct SetCase {
  Property property;
  const char* key;
  std::function<void(Preferences&)> setSame;
  std::function<void(Preferences&)> setOther;
  DefaultsValue written;  // what the second set stores
};

TEST(Preferences, EverySetIsWrittenButOnlyRealChangesAreTold) {
  const std::vector<SetCase> cases = {
      {Property::showDockIcon, "showDockIcon", [](Preferences& p) { p.setShowDockIcon(false); },
       [](Preferences& p) { p.setShowDockIcon(true); }, true},
      {Property::hasCompletedOnboarding, "hasCompletedOnboarding",
       [](Preferences& p) { p.setHasCompletedOnboarding(false); },
       [](Preferences& p) { p.setHasCompletedOnboarding(true); }, true},
      {Property::menuBarStyle, "menuBarStyle", [](Preferences& p) { p.setMenuBarStyle(MenuBarStyle::provider); },
       [](Preferences& p) { p.setMenuBarStyle(MenuBarStyle::icon); }, std::string("icon")},
      {Property::pinnedProvider, "pinnedProvider", [](Preferences& p) { p.setPinnedProvider(claude); },
       [](Preferences& p) { p.setPinnedProvider(cursor); }, std::string("cursor")},
      {Property::showResetTime, "showResetTime", [](Preferences& p) { p.setShowResetTime(true); },
       [](Preferences& p) { p.setShowResetTime(false); }, false},
      {Property::menuBarWindows, "menuBarWindows", [](Preferences& p) { p.setMenuBarWindows({}); },
       [](Preferences& p) { p.setMenuBarWindows({{"codex", "secondary"}}); }, Windows{{"codex", "secondary"}}},
      {Property::warningThreshold, "warningThreshold", [](Preferences& p) { p.setWarningThreshold(0.25); },
       [](Preferences& p) { p.setWarningThreshold(0.3); }, 0.3},
      {Property::criticalThreshold, "criticalThreshold", [](Preferences& p) { p.setCriticalThreshold(0.1); },
       [](Preferences& p) { p.setCriticalThreshold(0.15); }, 0.15},
      {Property::tintEnabled, "tintEnabled", [](Preferences& p) { p.setTintEnabled(true); },
       [](Preferences& p) { p.setTintEnabled(false); }, false},
      {Property::providerOrder, "providerOrder", [](Preferences& p) { p.setProviderOrder({claude, codex, grok, cursor}); },
       [](Preferences& p) { p.setProviderOrder({cursor, grok, codex, claude}); },
       Texts{"cursor", "grok", "codex", "claude"}},
      {Property::disabledProviders, "disabledProviders", [](Preferences& p) { p.setDisabledProviders({}); },
       [](Preferences& p) { p.setDisabledProviders({grok, claude, cursor, codex}); },
       Texts{"claude", "codex", "cursor", "grok"}},
      {Property::claudeLiveLimits, "claudeLiveLimits", [](Preferences& p) { p.setClaudeLiveLimits(true); },
       [](Preferences& p) { p.setClaudeLiveLimits(false); }, false},
      {Property::summaryUnit, "summaryUnit", [](Preferences& p) { p.setSummaryUnit(SummaryUnit::cost); },
       [](Preferences& p) { p.setSummaryUnit(SummaryUnit::tokens); }, std::string("tokens")},
      {Property::popoverTab, "popoverTab", [](Preferences& p) { p.setPopoverTab(PopoverTab::usage); },
       [](Preferences& p) { p.setPopoverTab(PopoverTab::stats); }, std::string("stats")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    Fixture f;
    c.setSame(*f);
    EXPECT_EQ(f.defaults.writes(), 1);
    EXPECT_THAT(f.told, IsEmpty());
    ASSERT_TRUE(f.stored(c.key));

    c.setOther(*f);
    EXPECT_EQ(f.defaults.writes(), 2);
    EXPECT_THAT(f.told, ElementsAre(c.property));
    EXPECT_EQ(*f.stored(c.key), c.written);

    // The new value set again: written again, told nothing.
    c.setOther(*f);
    EXPECT_EQ(f.defaults.writes(), 3);
    EXPECT_EQ(f.told.size(), 1u);
  }
}

TEST(Preferences, DisabledProvidersAreWrittenAsSortedRawValues) {
  Fixture f({{"disabledProviders", Texts{"cursor", "gemini"}}});
  auto disabled = f->disabledProviders();
  disabled.insert(codex);
  f->setDisabledProviders(disabled);
  EXPECT_EQ(std::get<Texts>(*f.stored("disabledProviders")), (Texts{"codex", "cursor"}));
}

TEST(Preferences, ASetProviderOrderIsCleanedLikeAStoredOne) {
  Fixture f;
  f->setProviderOrder({grok, grok, static_cast<ProviderID>(9), claude});
  EXPECT_THAT(f->providerOrder(), ElementsAre(grok, claude, codex, cursor));
  EXPECT_EQ(std::get<Texts>(*f.stored("providerOrder")), (Texts{"grok", "claude", "codex", "cursor"}));
  EXPECT_THAT(f.told, ElementsAre(Property::providerOrder));

  // A list that cleans to the current order is no change.
  f->setProviderOrder({grok, claude, grok});
  EXPECT_EQ(f.told.size(), 1u);
  EXPECT_EQ(f.defaults.writes(), 2);

  f->setProviderOrder({});
  EXPECT_THAT(f->providerOrder(), ElementsAre(claude, codex, grok, cursor));
}

TEST(Preferences, EnabledProvidersFollowTheOrderWithoutTheDisabled) {
  Fixture f;
  f->setProviderOrder({codex, claude, grok, cursor});
  f->setDisabledProviders({grok});
  EXPECT_THAT(f->enabledProviders(), ElementsAre(codex, claude, cursor));
  f->setDisabledProviders({claude, codex, grok, cursor});
  EXPECT_THAT(f->enabledProviders(), IsEmpty());
}

TEST(Preferences, OneMenuBarWindowIsSetOrRemovedAndAlwaysTold) {
  Fixture f({{"menuBarWindows", Windows{{"codex", "primary"}}}});
  f->setMenuBarWindow("weekly", claude);
  EXPECT_EQ(f->menuBarWindow(claude), "weekly");
  EXPECT_EQ(std::get<Windows>(*f.stored("menuBarWindows")), (Windows{{"claude", "weekly"}, {"codex", "primary"}}));

  // A change made in place tells observers every time, even when it was
  // already so.
  f->setMenuBarWindow("weekly", claude);
  f->setMenuBarWindow(std::nullopt, codex);
  EXPECT_EQ(f->menuBarWindow(codex), std::nullopt);
  EXPECT_EQ(std::get<Windows>(*f.stored("menuBarWindows")), (Windows{{"claude", "weekly"}}));
  f->setMenuBarWindow(std::nullopt, grok);
  EXPECT_EQ(f.told, std::vector<Property>(4, Property::menuBarWindows));
  EXPECT_EQ(f.defaults.writes(), 1 + 4);
}

TEST(Preferences, ObserversStopHearingWhenTheirSubscriptionGoes) {
  Fixture f;
  int heard = 0;
  auto subscription = f->observe([&](Property) { ++heard; });
  f->setTintEnabled(false);
  subscription.reset();
  f->setTintEnabled(true);
  EXPECT_EQ(heard, 1);
  EXPECT_EQ(f.told.size(), 2u);
}

TEST(Preferences, ValuesPersistAcrossLaunchesInTheSettingsFile) {
  testing::TempDir dir;
  const auto file = dir / "app.tokvane" / "defaults.json";
  {
    JSONFileUserDefaults defaults(file);
    Preferences p(defaults);
    p.setShowDockIcon(true);
    p.setHasCompletedOnboarding(true);
    p.setMenuBarStyle(MenuBarStyle::icon);
    p.setPinnedProvider(codex);
    p.setShowResetTime(false);
    p.setMenuBarWindow("weekly", claude);
    p.setWarningThreshold(0.4);
    p.setCriticalThreshold(0.2);
    p.setTintEnabled(false);
    p.setProviderOrder({cursor, codex});
    p.setDisabledProviders({grok, claude});
    p.setClaudeLiveLimits(false);
    p.setSummaryUnit(SummaryUnit::tokens);
    p.setPopoverTab(PopoverTab::models);
  }
  JSONFileUserDefaults defaults(file);
  Preferences p(defaults);
  EXPECT_TRUE(p.showDockIcon());
  EXPECT_TRUE(p.hasCompletedOnboarding());
  EXPECT_EQ(p.menuBarStyle(), MenuBarStyle::icon);
  EXPECT_EQ(p.pinnedProvider(), codex);
  EXPECT_FALSE(p.showResetTime());
  EXPECT_EQ(p.menuBarWindows(), (Windows{{"claude", "weekly"}}));
  EXPECT_DOUBLE_EQ(p.warningThreshold(), 0.4);
  EXPECT_DOUBLE_EQ(p.criticalThreshold(), 0.2);
  EXPECT_FALSE(p.tintEnabled());
  EXPECT_THAT(p.providerOrder(), ElementsAre(cursor, codex, claude, grok));
  EXPECT_THAT(p.disabledProviders(), ElementsAre(claude, grok));
  EXPECT_FALSE(p.claudeLiveLimits());
  EXPECT_EQ(p.summaryUnit(), SummaryUnit::tokens);
  EXPECT_EQ(p.popoverTab(), PopoverTab::models);

  const auto text = testing::readFile(file);
  EXPECT_NE(text.find(R"("disabledProviders": [
    "claude",
    "grok"
  ])"),
            std::string::npos)
      << text;
}

TEST(PreferenceValues, RawValuesRoundTripExactly) {
  for (auto style : allMenuBarStyles) EXPECT_EQ(menuBarStyleFromRawValue(rawValue(style)), style);
  for (auto unit : allSummaryUnits) EXPECT_EQ(summaryUnitFromRawValue(rawValue(unit)), unit);
  for (auto tab : allPopoverTabs) EXPECT_EQ(popoverTabFromRawValue(rawValue(tab)), tab);
  EXPECT_EQ(menuBarStyleFromRawValue("Icon"), std::nullopt);
  EXPECT_EQ(summaryUnitFromRawValue(""), std::nullopt);
  EXPECT_EQ(popoverTabFromRawValue("stats "), std::nullopt);
}

}  // namespace
}  // namespace tokvane
