#pragma once

#include <QAction>
#include <QMenu>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <utility>

namespace vuro {

// A menu item that runs a closure when it is chosen. It answers its own
// `triggered` signal, so it works in any menu, enabled or not by the menu's
// owner, with no receiver to wire up. It is made only from a title, a key
// equivalent (see KeyEquivalent) and the handler. Titles follow Qt's menu
// convention: "&" marks the next letter as the item's mnemonic ("&&" is a
// literal ampersand).
class ClosureMenuItem : public QAction {
  Q_OBJECT

 public:
  ClosureMenuItem(const QString& title, const QString& keyEquivalent, std::function<void()> handler,
                  QObject* parent = nullptr);

  // Runs the handler (also what choosing the item does).
  void fire();

  std::function<void()> handler;
};

// Adds a ClosureMenuItem at the end of `menu`, which owns it, and returns it
// (callers may ignore the result).
ClosureMenuItem* addItem(QMenu& menu, const QString& title, const QString& keyEquivalent,
                         std::function<void()> action);

// A handler that reaches its owner weakly: it does nothing once the owner is
// gone. For QObject owners and for owners held by shared_ptr.
template <typename Owner, typename F>
std::function<void()> weakly(Owner* owner, F f)
  requires std::is_base_of_v<QObject, Owner>
{
  return [guard = QPointer<Owner>(owner), f = std::move(f)]() {
    if (Owner* o = guard.data()) f(*o);
  };
}

template <typename Owner, typename F>
std::function<void()> weakly(const std::shared_ptr<Owner>& owner, F f) {
  return [guard = std::weak_ptr<Owner>(owner), f = std::move(f)]() {
    if (auto o = guard.lock()) f(*o);
  };
}

}  // namespace vuro
