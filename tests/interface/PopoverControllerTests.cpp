#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <cmath>

#include "Tokvane/Popover/PopoverController.hpp"
#include "Tokvane/Popover/PopoverPlacement.hpp"
#include "Tokvane/Popover/PopoverRoot.hpp"
#include "Tokvane/Usage/PopoverFooter.hpp"
#include "Tokvane/Usage/LimitRow.hpp"
#include "Tokvane/Usage/ProviderSection.hpp"
#include "Tokvane/Usage/UsageTab.hpp"
#include "tests/interface/support/PopoverModel.hpp"

namespace tokvane {
namespace {

using popovertest::PopoverModel;
using popovertest::waitUntil;

// A top panel on a 1280 x 800 screen, the item near its right end.
PopoverAnchor topPanelAnchor() {
  return PopoverAnchor{QRect(1100, 0, 24, 24), std::nullopt, QRect(0, 0, 1280, 800), QRect(0, 24, 1280, 776)};
}

class PopoverControllerTest : public ::testing::Test {
 protected:
  PopoverModel harness;
};

TEST_F(PopoverControllerTest, OpensAt420By300UntilTheContentReportsItsHeight) {
  PopoverController controller(*harness.model, harness.preferences, {}, harness.locations);
  EXPECT_EQ(controller.window()->size(), QSize(420, 300));
  ASSERT_TRUE(waitUntil([&] { return controller.height().contentHeight() > 0; }));
  const double reported = controller.root()->heights().total();
  EXPECT_DOUBLE_EQ(controller.height().contentHeight(), reported);
  EXPECT_EQ(controller.window()->height(), static_cast<int>(std::ceil(reported)));
  EXPECT_EQ(controller.window()->width(), 420);
}

TEST_F(PopoverControllerTest, ShowingPlacesUnderTheAnchorAndRefreshesStaleLimitsOnce) {
  harness.makePresent(ProviderID::claude);
  PopoverController controller(*harness.model, harness.preferences, {}, harness.locations);
  ASSERT_TRUE(waitUntil([&] { return controller.height().contentHeight() > 0; }));
  EXPECT_EQ(harness.provider(ProviderID::claude).fetches, 0);
  const PopoverAnchor anchor = topPanelAnchor();
  controller.show(anchor);
  EXPECT_TRUE(controller.isShown());
  EXPECT_EQ(controller.window()->pos(), popoverOrigin(anchor, controller.window()->size()));
  EXPECT_DOUBLE_EQ(controller.height().maxHeight(), std::floor(0.8 * 776));
  controller.show(anchor);  // already shown: nothing
  ASSERT_TRUE(waitUntil([&] { return !harness.model->isRefreshing() && harness.provider(ProviderID::claude).fetches >= 1; }));
  QApplication::processEvents();
  EXPECT_EQ(harness.provider(ProviderID::claude).fetches, 1);
  EXPECT_EQ(harness.provider(ProviderID::codex).fetches, 0);  // not present

  // Reopened at once, the limits are fresh: no second fetch.
  controller.close();
  controller.show(anchor);
  QApplication::processEvents();
  EXPECT_EQ(harness.provider(ProviderID::claude).fetches, 1);
}

TEST_F(PopoverControllerTest, EveryCloseRecordsItsTimeOnTheMonotonicClock) {
  PopoverController controller(*harness.model, harness.preferences, {}, harness.locations);
  EXPECT_FALSE(controller.closedAt());
  controller.show(topPanelAnchor());
  EXPECT_FALSE(controller.closedAt());
  const auto before = PopoverController::Clock::now();
  controller.close();
  EXPECT_FALSE(controller.isShown());
  ASSERT_TRUE(controller.closedAt());
  EXPECT_GE(*controller.closedAt(), before);
  EXPECT_LE(*controller.closedAt(), PopoverController::Clock::now());
  const auto first = *controller.closedAt();
  controller.close();  // not shown: nothing
  EXPECT_EQ(controller.closedAt(), first);
  // Escape closes it too.
  controller.show(topPanelAnchor());
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(controller.window(), &escape);
  EXPECT_FALSE(controller.isShown());
  EXPECT_GE(*controller.closedAt(), first);
}

TEST_F(PopoverControllerTest, ContentTallerThanTheCapOpensAtTheCap) {
  for (ProviderID id : allProviders) harness.makePresent(id);
  PopoverController controller(*harness.model, harness.preferences, {}, harness.locations);
  ASSERT_TRUE(waitUntil([&] { return controller.height().contentHeight() > 0; }));
  PopoverAnchor small = topPanelAnchor();
  small.available = QRect(0, 24, 1280, 200);  // cap 160
  controller.show(small);
  EXPECT_EQ(controller.window()->height(), 160);
}

TEST_F(PopoverControllerTest, SettingsClosesThePopoverFirst) {
  bool wasShownWhenCalled = true;
  PopoverController* controllerPointer = nullptr;
  PopoverController controller(*harness.model, harness.preferences,
                               [&] { wasShownWhenCalled = controllerPointer->isShown(); }, harness.locations);
  controllerPointer = &controller;
  controller.show(topPanelAnchor());
  auto* footer = controller.root()->footer();
  auto buttons = footer->findChildren<QAbstractButton*>();
  QAbstractButton* settings = nullptr;
  for (auto* button : buttons) {
    if (button->toolTip() == QStringLiteral("Settings")) settings = button;
  }
  ASSERT_NE(settings, nullptr);
  settings->click();
  EXPECT_FALSE(wasShownWhenCalled);
  EXPECT_FALSE(controller.isShown());
}

TEST_F(PopoverControllerTest, TheChosenTabIsRememberedAcrossControllers) {
  {
    PopoverController controller(*harness.model, harness.preferences, {}, harness.locations);
    EXPECT_EQ(controller.root()->tab(), PopoverTab::usage);
    controller.root()->chooseTab(PopoverTab::models);
  }
  EXPECT_EQ(harness.preferences.popoverTab(), PopoverTab::models);
  PopoverController again(*harness.model, harness.preferences, {}, harness.locations);
  EXPECT_EQ(again.root()->tab(), PopoverTab::models);
}

TEST_F(PopoverControllerTest, ReportedHeightIsHeaderPlusContentPlusFooterAndFollowsTheCards) {
  PopoverController controller(*harness.model, harness.preferences, {}, harness.locations);
  ASSERT_TRUE(waitUntil([&] { return controller.height().contentHeight() > 0; }));
  const auto emptyHeights = controller.root()->heights();
  EXPECT_DOUBLE_EQ(controller.height().contentHeight(), emptyHeights.header + emptyHeights.content + emptyHeights.footer);
  EXPECT_GT(emptyHeights.header, 0);
  EXPECT_GT(emptyHeights.footer, 0);

  harness.makePresent(ProviderID::claude);
  ProviderLimits limits;
  limits.windows.emplace_back("session", "Session", 0.3, 18000, Date::now() + 3600, LimitSource::live());
  limits.windows.emplace_back("weekly", "Weekly", 0.5, 604800, Date::now() + 86400, LimitSource::live());
  harness.setLimits(ProviderID::claude, limits);
  ASSERT_EQ(controller.root()->usageTab()->shownProviders(), std::vector<ProviderID>{ProviderID::claude});
  ASSERT_TRUE(waitUntil([&] { return controller.root()->heights().content != emptyHeights.content; }));
  EXPECT_EQ(controller.root()->usageTab()->shownProviders(), std::vector<ProviderID>{ProviderID::claude});
  EXPECT_EQ(controller.window()->height(), static_cast<int>(std::ceil(controller.root()->heights().total())));
}

TEST_F(PopoverControllerTest, FooterFollowsTheModel) {
  PopoverController controller(*harness.model, harness.preferences, {}, harness.locations);
  auto* footer = controller.root()->footer();
  EXPECT_EQ(footer->statusText(), QStringLiteral("Not updated yet"));
  EXPECT_TRUE(footer->showsRefreshButton());
  footer->setValue({Date::now() - 125, true});
  EXPECT_EQ(footer->statusText(), QStringLiteral("Updated 2m ago"));
  EXPECT_FALSE(footer->showsRefreshButton());
}

}  // namespace
}  // namespace tokvane

namespace tokvane {
namespace {

// The one running timer of a widget with a 30-second period.
QTimer* thirtySecondTimer(QObject& owner) {
  for (QTimer* timer : owner.findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (timer->interval() == 30'000 && timer->isActive()) return timer;
  }
  return nullptr;
}

TEST(PopoverFooter, TheAgeAdvancesEvery30SecondsWithoutAModelChange) {
  Date now = Date::fromUnix(1767268020);
  PopoverFooter footer({}, {}, {});
  footer.setClock([&now] { return now; });
  footer.setValue({now - 30, false});
  EXPECT_EQ(footer.statusText(), QStringLiteral("Updated just now"));
  QTimer* ticker = thirtySecondTimer(footer);
  ASSERT_NE(ticker, nullptr);
  now = now + 30;
  QMetaObject::invokeMethod(ticker, "timeout", Qt::DirectConnection);
  EXPECT_EQ(footer.statusText(), QStringLiteral("Updated 1m ago"));
}

TEST(UsageTab, CountdownsMoveOnEvery30Seconds) {
  popovertest::PopoverModel harness;
  harness.makePresent(ProviderID::claude);
  Date now = Date::fromUnix(1767268020);
  ProviderLimits limits;
  limits.windows.emplace_back("session", "Session", 0.3, 18000, now + 3600, LimitSource::live());
  harness.setLimits(ProviderID::claude, limits);
  UsageTab tab(*harness.model, harness.preferences, harness.locations);
  tab.setClock([&now] { return now; });
  QTimer* ticker = thirtySecondTimer(tab);
  ASSERT_NE(ticker, nullptr);
  now = now + 600;
  QMetaObject::invokeMethod(ticker, "timeout", Qt::DirectConnection);
  ASSERT_EQ(tab.sections().size(), 1u);
  EXPECT_EQ(tab.sections()[0]->value().now, now);
  EXPECT_EQ(tab.sections()[0]->rows()[0]->value().bar.resetText, "50m");
}

}  // namespace
}  // namespace tokvane
