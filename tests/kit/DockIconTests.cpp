#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <QWindow>

#include "VuroSettings/DockIcon.hpp"

namespace vuro {
namespace {

using DockIcon::ActivationPolicy;

// Each test starts and ends with the regular policy (it is process-wide).
class DockIconTest : public testing::Test {
 protected:
  void SetUp() override { DockIcon::apply(true); }
  void TearDown() override { DockIcon::apply(true); }
};

TEST_F(DockIconTest, AVisibleIconIsTheRegularPolicy) {
  EXPECT_EQ(DockIcon::policy(true), ActivationPolicy::Regular);
  EXPECT_EQ(DockIcon::policy(false), ActivationPolicy::Accessory);
  EXPECT_EQ(DockIcon::current(), ActivationPolicy::Regular);
}

TEST_F(DockIconTest, TheAccessoryPolicyTakesOpenAndLaterWindowsOutOfTheTaskbar) {
  QWidget open;
  open.show();
  QWidget hidden;
  DockIcon::apply(false);
  EXPECT_EQ(DockIcon::current(), ActivationPolicy::Accessory);
  EXPECT_EQ(open.windowType(), Qt::Tool);
  EXPECT_TRUE(open.isVisible());  // shown again with its new type
  ASSERT_NE(open.windowHandle(), nullptr);
  EXPECT_EQ(open.windowHandle()->type(), Qt::Tool);
  EXPECT_EQ(hidden.windowType(), Qt::Tool);
  EXPECT_FALSE(hidden.isVisible());

  // A window made after the change gets the type before it first appears.
  QWidget later;
  later.show();
  EXPECT_EQ(later.windowType(), Qt::Tool);
  ASSERT_NE(later.windowHandle(), nullptr);
  EXPECT_EQ(later.windowHandle()->type(), Qt::Tool);
}

TEST_F(DockIconTest, ApplyingThePolicyInForceChangesNothing) {
  DockIcon::apply(false);
  QWidget window;
  window.show();
  ASSERT_EQ(window.windowType(), Qt::Tool);
  // Made a normal window by its owner: a second accessory apply leaves it.
  window.setWindowFlags(Qt::Window);
  DockIcon::apply(false);
  EXPECT_EQ(window.windowType(), Qt::Window);
}

TEST_F(DockIconTest, TheRegularPolicyGivesBackOnlyTheWindowsItTook) {
  QWidget normal;
  QWidget ownTool(nullptr, Qt::Tool);
  QWidget popup(nullptr, Qt::Popup);
  normal.show();
  DockIcon::apply(false);
  EXPECT_EQ(normal.windowType(), Qt::Tool);
  EXPECT_EQ(popup.windowType(), Qt::Popup);
  DockIcon::apply(true);
  EXPECT_EQ(DockIcon::current(), ActivationPolicy::Regular);
  EXPECT_EQ(normal.windowType(), Qt::Window);
  EXPECT_TRUE(normal.isVisible());
  EXPECT_EQ(ownTool.windowType(), Qt::Tool);
  EXPECT_EQ(popup.windowType(), Qt::Popup);
  QWidget later;
  later.show();
  EXPECT_EQ(later.windowType(), Qt::Window);
}

}  // namespace
}  // namespace vuro
