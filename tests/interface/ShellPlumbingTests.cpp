// The colour-scheme decision and the portal's answers, and the observer that
// keeps the status title current.
#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusVariant>
#include <deque>

#include "Tokvane/App/ObservingUpdater.hpp"
#include "Tokvane/Theme/ColorScheme.hpp"
#include "platform/qt/ColorSchemePortal.hpp"

namespace tokvane {
namespace {

TEST(ColorScheme, TheSettingDecidesAndThePaletteFillsIn) {
  const QPalette light = paletteFor(Appearance::light);
  const QPalette dark = paletteFor(Appearance::dark);
  struct Case {
    std::optional<uint32_t> scheme;
    const QPalette& desktop;
    Appearance expected;
  };
  for (const Case& c : {Case{1u, light, Appearance::dark}, Case{2u, dark, Appearance::light},
                        Case{0u, dark, Appearance::dark}, Case{0u, light, Appearance::light},
                        Case{std::nullopt, dark, Appearance::dark}, Case{std::nullopt, light, Appearance::light},
                        Case{7u, dark, Appearance::dark}}) {
    EXPECT_EQ(appearanceForColorScheme(c.scheme, c.desktop), c.expected)
        << (c.scheme ? int(*c.scheme) : -1);
  }
}

TEST(ColorSchemePortal, AnswersUnwrapFromOneOrTwoVariants) {
  EXPECT_EQ(ColorSchemePortal::unwrap(QVariant(1u)), 1u);
  EXPECT_EQ(ColorSchemePortal::unwrap(QVariant::fromValue(QDBusVariant(QVariant(2u)))), 2u);
  // Version 1 of the portal: a variant inside a variant.
  EXPECT_EQ(ColorSchemePortal::unwrap(
                QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusVariant(QVariant(1u)))))),
            1u);
  EXPECT_EQ(ColorSchemePortal::unwrap(QVariant(QStringLiteral("dark"))), std::nullopt);
  EXPECT_EQ(ColorSchemePortal::unwrap(QVariant(-1)), std::nullopt);
  EXPECT_EQ(ColorSchemePortal::unwrap(QVariant()), std::nullopt);
}

// A source of changes with an observer list, and a main queue run by hand.
struct Harness {
  ObserverList<int> source;
  std::deque<std::function<void()>> queue;
  int value = 0;
  int computes = 0;
  std::vector<int> applied;

  ObservingUpdater<int> make() {
    return ObservingUpdater<int>(
        [this] {
          ++computes;
          return value;
        },
        [this](const int& v) { applied.push_back(v); },
        [this](std::function<void()> changed) {
          return std::vector<std::shared_ptr<Subscription>>{source.subscribe([changed](int) { changed(); })};
        },
        [this](std::function<void()> work) { queue.push_back(std::move(work)); });
  }
  void change(int to) {
    value = to;
    source.notify(0);
  }
  void runQueue() {
    while (!queue.empty()) {
      auto work = std::move(queue.front());
      queue.pop_front();
      work();
    }
  }
};

TEST(ObservingUpdater, ArmsOnceAndAppliesAtOnce) {
  Harness h;
  auto updater = h.make();
  EXPECT_EQ(h.computes, 0);
  EXPECT_FALSE(updater.isArmed());
  updater.arm();
  updater.arm();
  EXPECT_TRUE(updater.isArmed());
  EXPECT_EQ(updater.armCount(), 1);
  EXPECT_EQ(h.applied, (std::vector<int>{0}));
}

TEST(ObservingUpdater, AChangeIsComputedOnALaterTurnAfterTheChange) {
  Harness h;
  auto updater = h.make();
  updater.arm();
  h.change(5);
  EXPECT_EQ(h.applied.size(), 1u);  // not inside the change
  h.runQueue();
  EXPECT_EQ(h.applied, (std::vector<int>{0, 5}));
  EXPECT_EQ(updater.armCount(), 2);
}

TEST(ObservingUpdater, ChangesBeforeThePassRunsAreCoveredByIt) {
  Harness h;
  auto updater = h.make();
  updater.arm();
  h.change(1);
  h.change(2);
  h.change(3);
  EXPECT_EQ(h.queue.size(), 1u);
  h.runQueue();
  EXPECT_EQ(h.applied, (std::vector<int>{0, 3}));
  h.change(4);
  h.runQueue();
  EXPECT_EQ(h.applied, (std::vector<int>{0, 3, 4}));
  EXPECT_EQ(updater.armCount(), 3);
}

TEST(ObservingUpdater, RefreshAppliesWithoutArmingAndAGoneUpdaterDoesNothing) {
  Harness h;
  {
    auto updater = h.make();
    updater.arm();
    h.value = 9;
    updater.refresh();
    EXPECT_EQ(updater.armCount(), 1);
    EXPECT_EQ(h.applied, (std::vector<int>{0, 9}));
    h.change(10);
  }
  // The pass was queued before the updater went.
  h.runQueue();
  EXPECT_EQ(h.applied, (std::vector<int>{0, 9}));
  h.change(11);
  EXPECT_TRUE(h.queue.empty());
}

}  // namespace
}  // namespace tokvane
