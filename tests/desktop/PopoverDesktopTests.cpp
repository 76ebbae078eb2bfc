// The popover on a real X server with a window manager: it opens where the
// placement puts it under a status item, a click outside closes it, a click
// on the status item within the reopen guard of that close does not open it
// again (later it does), and each opening refreshes stale limits once.
// The status item is played by a small window of our own at the top edge.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QProcess>
#include <QScreen>
#include <QThread>
#include <QWidget>
#include <QWindow>
#include <functional>

#include "Tokvane/App/PopoverToggle.hpp"
#include "Tokvane/Popover/PopoverController.hpp"
#include "Tokvane/Popover/PopoverPlacement.hpp"
#include "tests/interface/support/PopoverModel.hpp"

namespace tokvane {
namespace {

using popovertest::PopoverModel;

bool waitFor(const std::function<bool()>& done, int ms = 5000) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

void xdotool(const QStringList& arguments) {
  QProcess process;
  process.start(QStringLiteral("xdotool"), arguments);
  ASSERT_TRUE(process.waitForFinished(10000)) << arguments.join(' ').toStdString();
}

void clickAt(QPoint point) {
  xdotool({QStringLiteral("mousemove"), QString::number(point.x()), QString::number(point.y()), QStringLiteral("click"),
           QStringLiteral("1")});
}

// A 24-pixel square at the top of the screen that toggles the popover on a
// press, as the status item's click does.
class StandInItem final : public QWidget {
 public:
  explicit StandInItem(std::function<void()> onPress)
      : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint),
        onPress_(std::move(onPress)) {
    setFixedSize(24, 24);
  }

 protected:
  void mousePressEvent(QMouseEvent*) override {
    onPress_();
  }

 private:
  std::function<void()> onPress_;
};

class PopoverDesktop : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    harness.makePresent(ProviderID::claude);
    controller = std::make_unique<PopoverController>(*harness.model, harness.preferences, [] {}, harness.locations);
    item = std::make_unique<StandInItem>([this] { toggle(); });
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    item->move(screen.right() - 180, 0);
    item->show();
    ASSERT_TRUE(waitFor([&] { return item->isVisible() && item->windowHandle()->isExposed(); }));
    // A top panel 24 pixels high holds the item.
    anchor = PopoverAnchor{QRect(item->pos(), item->size()), std::nullopt, screen, screen.adjusted(0, 24, 0, 0)};
    ASSERT_TRUE(waitFor([&] { return controller->height().contentHeight() > 0; }));
  }
  void TearDown() override {
    controller->close();
    QApplication::processEvents();
  }

  void toggle() {
    switch (popoverToggle(controller->isShown(), controller->closedAt(), std::chrono::steady_clock::now())) {
      case PopoverToggle::close: controller->close(); break;
      case PopoverToggle::show: controller->show(anchor); break;
      case PopoverToggle::nothing: break;
    }
  }

  bool mapped() { return controller->isShown() && controller->window()->windowHandle()->isExposed(); }

  PopoverModel harness;
  std::unique_ptr<PopoverController> controller;
  std::unique_ptr<StandInItem> item;
  PopoverAnchor anchor;
};

TEST_F(PopoverDesktop, AClickOnTheItemOpensThePopoverUnderIt) {
  clickAt(item->geometry().center());
  ASSERT_TRUE(waitFor([&] { return mapped(); }));
  QWidget* window = controller->window();
  const QPoint expected = popoverOrigin(anchor, window->size());
  ASSERT_TRUE(waitFor([&] { return window->frameGeometry().topLeft() == expected; }))
      << window->frameGeometry().x() << "," << window->frameGeometry().y() << " instead of " << expected.x() << ","
      << expected.y();
  EXPECT_GE(window->y(), 24);  // below the panel
  EXPECT_EQ(window->width(), 420);
  EXPECT_TRUE(window->geometry().intersects(QRect(item->x() - 210, 24, 420, 10)));
}

TEST_F(PopoverDesktop, AClickOutsideClosesItAndAClickOnTheItemRightAfterDoesNotReopenIt) {
  controller->show(anchor);
  ASSERT_TRUE(waitFor([&] { return mapped(); }));
  const QRect popover = controller->window()->frameGeometry();
  clickAt(QPoint(20, popover.bottom() + 40));
  ASSERT_TRUE(waitFor([&] { return !controller->isShown(); }));
  ASSERT_TRUE(controller->closedAt());

  // Open again, then click the item itself: the pointer grab takes the
  // press and closes the popover; the item's own activation, arriving right
  // after (a tray host sends it over the bus), falls within the guard.
  QThread::msleep(350);
  controller->show(anchor);
  ASSERT_TRUE(waitFor([&] { return mapped(); }));
  clickAt(item->geometry().center());
  ASSERT_TRUE(waitFor([&] { return !controller->isShown(); }));
  toggle();
  QThread::msleep(50);
  QApplication::processEvents();
  EXPECT_FALSE(controller->isShown());

  // Past the guard the same click opens it.
  QThread::msleep(350);
  clickAt(item->geometry().center());
  EXPECT_TRUE(waitFor([&] { return mapped(); }));
}

TEST_F(PopoverDesktop, OpeningRefreshesStaleLimitsOnce) {
  EXPECT_EQ(harness.provider(ProviderID::claude).fetches, 0);
  clickAt(item->geometry().center());
  ASSERT_TRUE(waitFor([&] { return mapped(); }));
  ASSERT_TRUE(waitFor([&] { return harness.provider(ProviderID::claude).fetches == 1 && !harness.model->isRefreshing(); }));
  // Opening again while the limits are fresh fetches nothing.
  controller->close();
  QThread::msleep(350);
  clickAt(item->geometry().center());
  ASSERT_TRUE(waitFor([&] { return mapped(); }));
  QThread::msleep(100);
  QApplication::processEvents();
  EXPECT_EQ(harness.provider(ProviderID::claude).fetches, 1);
}

}  // namespace
}  // namespace tokvane
