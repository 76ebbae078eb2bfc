#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMenu>
#include <QVBoxLayout>
#include <QWidget>
#include <memory>
#include <vector>

#include "VuroMenuBar/ClosureMenuItem.hpp"
#include "VuroMenuBar/KeyEquivalent.hpp"
#include "VuroMenuBar/MainMenu.hpp"
#include "VuroMenuBar/StatusItemController.hpp"

namespace vuro {
namespace {

struct Entry {
  QString title;  // "-" for a separator
  QKeySequence shortcut;
};

std::vector<Entry> entriesOf(const QMenu& menu) {
  std::vector<Entry> entries;
  for (QAction* action : menu.actions()) {
    if (action->isSeparator()) {
      entries.push_back({QStringLiteral("-"), {}});
    } else {
      entries.push_back({action->text(), action->shortcut()});
    }
  }
  return entries;
}

void expectEntries(const QMenu& menu, const std::vector<Entry>& expected) {
  const auto entries = entriesOf(menu);
  ASSERT_EQ(entries.size(), expected.size()) << menu.title().toStdString();
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(entries[i].title, expected[i].title) << i;
    EXPECT_EQ(entries[i].shortcut, expected[i].shortcut) << expected[i].title.toStdString();
  }
}

QKeySequence ctrl(Qt::Key key) { return QKeySequence(Qt::CTRL | key); }

TEST(KeyEquivalent, MapsTheCommandKeyToControl) {
  struct Case {
    QString text;
    Qt::KeyboardModifiers extra;
    QKeySequence expected;
  };
  const std::vector<Case> cases = {
      {QString(), {}, QKeySequence()},
      {QStringLiteral("q"), {}, ctrl(Qt::Key_Q)},
      {QStringLiteral(","), {}, ctrl(Qt::Key_Comma)},
      {QStringLiteral("z"), Qt::ShiftModifier, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)},
      {QStringLiteral("Z"), {}, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)},
      {QStringLiteral("+"), {}, ctrl(Qt::Key_Plus)},
      {QStringLiteral("1"), {}, ctrl(Qt::Key_1)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(KeyEquivalent::sequence(c.text, c.extra), c.expected) << c.text.toStdString();
  }
}

TEST(MainMenu, WithoutSettingsTheApplicationMenuHoldsOnlyQuit) {
  auto menu = MainMenu::make(QStringLiteral("Tokvane"));
  ASSERT_EQ(menu->actions().size(), 3);
  EXPECT_EQ(menu->title(), QString());
  QMenu* app = menu->actions()[0]->menu();
  ASSERT_NE(app, nullptr);
  EXPECT_EQ(app->title(), QString());
  expectEntries(*app, {{QStringLiteral("Quit Tokvane"), ctrl(Qt::Key_Q)}});
}

TEST(MainMenu, BuildsTheApplicationEditAndWindowMenusInOrder) {
  int opened = 0;
  auto menu = MainMenu::make(QStringLiteral("Some App & Co"), [&] { ++opened; });
  ASSERT_EQ(menu->actions().size(), 3);
  QMenu* app = menu->actions()[0]->menu();
  QMenu* edit = menu->actions()[1]->menu();
  QMenu* window = menu->actions()[2]->menu();
  ASSERT_TRUE(app && edit && window);
  // The name passed in follows "Quit " unchanged.
  expectEntries(*app, {{QStringLiteral("Settings…"), ctrl(Qt::Key_Comma)},
                       {QStringLiteral("-"), {}},
                       {QStringLiteral("Quit Some App & Co"), ctrl(Qt::Key_Q)}});
  EXPECT_EQ(edit->title(), QStringLiteral("Edit"));
  expectEntries(*edit, {{QStringLiteral("Undo"), ctrl(Qt::Key_Z)},
                        {QStringLiteral("Redo"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)},
                        {QStringLiteral("-"), {}},
                        {QStringLiteral("Cut"), ctrl(Qt::Key_X)},
                        {QStringLiteral("Copy"), ctrl(Qt::Key_C)},
                        {QStringLiteral("Paste"), ctrl(Qt::Key_V)},
                        {QStringLiteral("Select All"), ctrl(Qt::Key_A)}});
  EXPECT_EQ(window->title(), QStringLiteral("Window"));
  expectEntries(*window, {{QStringLiteral("Close"), ctrl(Qt::Key_W)}});

  app->actions()[0]->trigger();
  app->actions()[0]->trigger();
  EXPECT_EQ(opened, 2);
}

TEST(MainMenu, InstallGivesTheWindowEveryItemButTheSeparators) {
  auto menu = MainMenu::make(QStringLiteral("Tokvane"), [] {});
  QWidget window;
  MainMenu::install(*menu, window);
  QStringList titles;
  for (QAction* action : window.actions()) titles << action->text();
  EXPECT_EQ(titles, QStringList({"Settings…", "Quit Tokvane", "Undo", "Redo", "Cut", "Copy", "Paste",
                                 "Select All", "Close"}));
}

TEST(MainMenu, EditActionsGoToTheFirstResponderThatAnswersThem) {
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* field = new QLineEdit;
  auto* plain = new QWidget;
  layout->addWidget(field);
  layout->addWidget(plain);

  field->insert(QStringLiteral("hello"));
  EXPECT_TRUE(MainMenu::send("selectAll", field));
  EXPECT_EQ(field->selectedText(), QStringLiteral("hello"));
  EXPECT_TRUE(MainMenu::send("undo", field));
  EXPECT_EQ(field->text(), QString());
  EXPECT_TRUE(MainMenu::send("redo", field));
  EXPECT_EQ(field->text(), QStringLiteral("hello"));

  // A widget without the action, in a window without it: nobody answers.
  EXPECT_FALSE(MainMenu::send("paste", plain));
  EXPECT_FALSE(MainMenu::send("undo", nullptr));
}

TEST(MainMenu, CloseGoesToTheResponderWindow) {
  QWidget window;
  auto* child = new QWidget(&window);
  window.show();
  ASSERT_TRUE(window.isVisible());
  EXPECT_TRUE(MainMenu::send("close", child));
  EXPECT_FALSE(window.isVisible());
}

TEST(ClosureMenuItem, AddItemAppendsAnItemThatRunsItsHandlerEachTimeItIsChosen) {
  QMenu menu;
  menu.addAction(QStringLiteral("First"));
  int runs = 0;
  ClosureMenuItem* item = addItem(menu, QStringLiteral("Refresh"), QStringLiteral("r"), [&] { ++runs; });
  ASSERT_EQ(menu.actions().size(), 2);
  EXPECT_EQ(menu.actions().back(), item);
  EXPECT_EQ(item->parent(), &menu);
  EXPECT_EQ(item->text(), QStringLiteral("Refresh"));
  EXPECT_EQ(item->shortcut(), ctrl(Qt::Key_R));
  item->trigger();
  item->trigger();
  item->fire();
  EXPECT_EQ(runs, 3);
}

TEST(ClosureMenuItem, AHandlerMayReplaceItsOwnHandler) {
  QMenu menu;
  int runs = 0;
  ClosureMenuItem* item = addItem(menu, QStringLiteral("Once"), QString(), {});
  item->handler = [&, item] {
    item->handler = nullptr;
    ++runs;
  };
  item->trigger();
  item->trigger();
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(item->shortcut().isEmpty());
}

TEST(ClosureMenuItem, WeakHandlersDoNothingOnceTheirOwnerIsGone) {
  int runs = 0;
  auto* owner = new QObject;
  auto viaQObject = weakly(owner, [&](QObject&) { ++runs; });
  auto shared = std::make_shared<int>(7);
  auto viaShared = weakly(shared, [&](int& value) { runs += value; });
  viaQObject();
  viaShared();
  EXPECT_EQ(runs, 8);
  delete owner;
  shared.reset();
  viaQObject();
  viaShared();
  EXPECT_EQ(runs, 8);
}

TEST(StatusItemController, EveryOpeningRebuildsAnEmptiedMenu) {
  int builds = 0;
  std::vector<int> sizesOnEntry;
  StatusItemController controller(QStringLiteral("no-such-icon-anywhere"), QStringLiteral("Meter"),
                                  [&](QMenu& menu) {
                                    sizesOnEntry.push_back(int(menu.actions().size()));
                                    ++builds;
                                    addItem(menu, QStringLiteral("Item %1").arg(builds), QString(), [] {});
                                    menu.addSeparator();
                                  });
  QMenu menu;
  controller.menuNeedsUpdate(menu);
  controller.menuNeedsUpdate(menu);
  EXPECT_EQ(builds, 2);
  EXPECT_EQ(sizesOnEntry, (std::vector<int>{0, 0}));
  ASSERT_EQ(menu.actions().size(), 2);
  EXPECT_EQ(menu.actions()[0]->text(), QStringLiteral("Item 2"));
  // Without an icon of that name the item has no image and is not shown.
  EXPECT_FALSE(controller.isVisible());
}

}  // namespace
}  // namespace vuro
