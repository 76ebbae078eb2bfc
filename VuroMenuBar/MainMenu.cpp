#include "VuroMenuBar/MainMenu.hpp"

#include <QApplication>
#include <QByteArray>
#include <QCoreApplication>
#include <QMetaMethod>
#include <QMetaObject>

#include "VuroMenuBar/ClosureMenuItem.hpp"
#include "VuroMenuBar/KeyEquivalent.hpp"

namespace vuro::MainMenu {

namespace {

// An item with no owner of its own: at the moment it is chosen it goes to
// whichever widget has the focus.
void addResponderItem(QMenu& menu, const QString& title, const char* action, const QString& key,
                      Qt::KeyboardModifiers extra = {}) {
  auto* item = menu.addAction(title);
  item->setShortcut(KeyEquivalent::sequence(key, extra));
  item->setObjectName(QString::fromLatin1(action));
  QByteArray name(action);
  QObject::connect(item, &QAction::triggered, item, [name] {
    QWidget* responder = QApplication::focusWidget();
    if (responder == nullptr) responder = QApplication::activeWindow();
    send(name.constData(), responder);
  });
}

void collectLeaves(const QMenu& menu, QList<QAction*>& into) {
  for (QAction* action : menu.actions()) {
    if (QMenu* sub = action->menu()) {
      collectLeaves(*sub, into);
    } else if (!action->isSeparator()) {
      into.append(action);
    }
  }
}

}  // namespace

std::unique_ptr<QMenu> make(const QString& appName, std::function<void()> openSettings) {
  auto mainMenu = std::make_unique<QMenu>();

  auto* appMenu = new QMenu(mainMenu.get());
  if (openSettings) {
    addItem(*appMenu, QStringLiteral("Settings…"), QStringLiteral(","), std::move(openSettings));
    appMenu->addSeparator();
  }
  auto* quit = appMenu->addAction(QStringLiteral("Quit ") + appName);
  quit->setShortcut(KeyEquivalent::sequence(QStringLiteral("q")));
  quit->setObjectName(QStringLiteral("quit"));
  QObject::connect(quit, &QAction::triggered, quit, [] { QCoreApplication::quit(); });
  mainMenu->addMenu(appMenu);

  auto* edit = new QMenu(QStringLiteral("Edit"), mainMenu.get());
  addResponderItem(*edit, QStringLiteral("Undo"), "undo", QStringLiteral("z"));
  addResponderItem(*edit, QStringLiteral("Redo"), "redo", QStringLiteral("z"), Qt::ShiftModifier);
  edit->addSeparator();
  addResponderItem(*edit, QStringLiteral("Cut"), "cut", QStringLiteral("x"));
  addResponderItem(*edit, QStringLiteral("Copy"), "copy", QStringLiteral("c"));
  addResponderItem(*edit, QStringLiteral("Paste"), "paste", QStringLiteral("v"));
  addResponderItem(*edit, QStringLiteral("Select All"), "selectAll", QStringLiteral("a"));
  mainMenu->addMenu(edit);

  auto* window = new QMenu(QStringLiteral("Window"), mainMenu.get());
  addResponderItem(*window, QStringLiteral("Close"), "close", QStringLiteral("w"));
  mainMenu->addMenu(window);

  return mainMenu;
}

void install(QMenu& mainMenu, QWidget& window) {
  QList<QAction*> leaves;
  collectLeaves(mainMenu, leaves);
  window.addActions(leaves);
}

bool send(const char* action, QWidget* responder) {
  if (responder == nullptr) return false;
  if (qstrcmp(action, "close") == 0) return responder->window()->close(), true;
  const QByteArray signature = QByteArray(action) + "()";
  for (QWidget* w = responder; w != nullptr; w = w->parentWidget()) {
    const QMetaObject* meta = w->metaObject();
    const int index = meta->indexOfMethod(signature.constData());
    if (index >= 0 && meta->method(index).methodType() == QMetaMethod::Slot) {
      return meta->method(index).invoke(w);
    }
    if (w->isWindow()) break;
  }
  return false;
}

}  // namespace vuro::MainMenu
