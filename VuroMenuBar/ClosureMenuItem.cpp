#include "VuroMenuBar/ClosureMenuItem.hpp"

#include "VuroMenuBar/KeyEquivalent.hpp"

namespace vuro {

ClosureMenuItem::ClosureMenuItem(const QString& title, const QString& keyEquivalent,
                                 std::function<void()> handler, QObject* parent)
    : QAction(title, parent), handler(std::move(handler)) {
  setShortcut(KeyEquivalent::sequence(keyEquivalent));
  connect(this, &QAction::triggered, this, &ClosureMenuItem::fire);
}

void ClosureMenuItem::fire() {
  // A copy, so that a handler which replaces this item's handler still runs
  // to its end.
  if (auto run = handler) run();
}

ClosureMenuItem* addItem(QMenu& menu, const QString& title, const QString& keyEquivalent,
                         std::function<void()> action) {
  auto* item = new ClosureMenuItem(title, keyEquivalent, std::move(action), &menu);
  menu.addAction(item);
  return item;
}

}  // namespace vuro
