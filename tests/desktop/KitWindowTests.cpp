// The kit's window services on a real X server and window manager: the
// compositor check against the selection a compositor owns, the taskbar
// presence as the window type the window manager reads, and the main menu's
// shortcuts as real key presses.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdlib>
#include <functional>

#include "VuroMenuBar/MainMenu.hpp"
#include "VuroSettings/DockIcon.hpp"
#include "VuroTheme/Compositor.hpp"

namespace vuro {
namespace {

xcb_connection_t* connection() {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 != nullptr ? x11->connection() : nullptr;
}

xcb_atom_t atom(const char* name) {
  xcb_connection_t* c = connection();
  auto* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
  const xcb_atom_t result = reply != nullptr ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
  std::free(reply);
  return result;
}

xcb_atom_t windowType(const QWidget& window) {
  xcb_connection_t* c = connection();
  auto* reply = xcb_get_property_reply(
      c, xcb_get_property(c, 0, xcb_window_t(window.winId()), atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 0, 1),
      nullptr);
  xcb_atom_t type = XCB_ATOM_NONE;
  if (reply != nullptr && xcb_get_property_value_length(reply) >= 4) {
    type = *static_cast<xcb_atom_t*>(xcb_get_property_value(reply));
  }
  std::free(reply);
  return type;
}

bool waitFor(const std::function<bool()>& condition, int ms = 3000) {
  QDeadlineTimer deadline(ms);
  while (!condition()) {
    if (deadline.hasExpired()) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

class KitOnX11 : public testing::Test {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() != QStringLiteral("xcb") || connection() == nullptr) {
      GTEST_SKIP() << "needs the xcb platform";
    }
  }
  void TearDown() override { DockIcon::apply(true); }
};

TEST_F(KitOnX11, TheCompositorIsWhoeverOwnsTheScreensSelection) {
  // openbox composites nothing.
  EXPECT_FALSE(Compositor::isRunning());
  xcb_connection_t* c = connection();
  const xcb_window_t owner = xcb_generate_id(c);
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  xcb_create_window(c, XCB_COPY_FROM_PARENT, owner, screen->root, 0, 0, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
  xcb_set_selection_owner(c, owner, atom("_NET_WM_CM_S0"), XCB_CURRENT_TIME);
  EXPECT_TRUE(Compositor::isRunning());
  xcb_destroy_window(c, owner);
  EXPECT_FALSE(Compositor::isRunning());
}

TEST_F(KitOnX11, WithoutADockIconTheWindowsAreToolWindows) {
  const xcb_atom_t normal = atom("_NET_WM_WINDOW_TYPE_NORMAL");
  const xcb_atom_t utility = atom("_NET_WM_WINDOW_TYPE_UTILITY");
  QWidget open;
  open.show();
  ASSERT_EQ(windowType(open), normal);
  DockIcon::apply(false);
  EXPECT_EQ(windowType(open), utility);
  QWidget later;
  later.show();
  EXPECT_EQ(windowType(later), utility);
  DockIcon::apply(true);
  EXPECT_EQ(windowType(open), normal);
  EXPECT_EQ(windowType(later), normal);
}

TEST_F(KitOnX11, TheMainMenusShortcutsWorkInAWindowItIsInstalledIn) {
  int settingsOpened = 0;
  auto menu = MainMenu::make(QStringLiteral("Example"), [&] { ++settingsOpened; });
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* field = new QLineEdit;
  auto* button = new QPushButton(QStringLiteral("Button"));
  layout->addWidget(field);
  layout->addWidget(button);
  MainMenu::install(*menu, window);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(waitFor([&] { return QApplication::activeWindow() == &window; }));

  const auto press = [](const char* keys) {
    QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QString::fromLatin1(keys)});
  };
  press("ctrl+comma");
  EXPECT_TRUE(waitFor([&] { return settingsOpened == 1; }));

  // The focused field keeps its own editing keys.
  field->setFocus();
  ASSERT_TRUE(waitFor([&] { return field->hasFocus(); }));
  press("x");
  press("y");
  ASSERT_TRUE(waitFor([&] { return field->text() == QStringLiteral("xy"); }));
  press("ctrl+z");
  EXPECT_TRUE(waitFor([&] { return field->text().isEmpty(); }));

  // Close goes to the window, whatever has the focus.
  button->setFocus();
  press("ctrl+w");
  EXPECT_TRUE(waitFor([&] { return !window.isVisible(); }));
}

}  // namespace
}  // namespace vuro
