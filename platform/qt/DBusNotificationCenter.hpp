#pragma once

#include <QDBusConnection>
#include <QObject>
#include <map>
#include <memory>

#include "Tokvane/Engine/Runtime/DistributedNotificationCenter.hpp"

namespace tokvane {

// Named notifications between programs over the session bus: a post sends
// the signal Posted(name) on /app/tokvane/Notifications; observers hear that
// signal from any sender (the sender's own posts included). Main thread only.
// Without a session bus, posts go nowhere and observers hear nothing.
class DBusNotificationCenter final : public QObject, public DistributedNotificationCenter {
  Q_OBJECT
 public:
  explicit DBusNotificationCenter(QDBusConnection bus = QDBusConnection::sessionBus());
  ~DBusNotificationCenter() override;

  std::shared_ptr<Cancellable> observe(const std::string& name, std::function<void()> handler) override;
  void post(const std::string& name) override;

 private Q_SLOTS:
  void onPosted(const QString& name);

 private:
  struct Observer;
  QDBusConnection bus_;
  bool connected_ = false;
  std::vector<std::weak_ptr<Observer>> observers_;
};

}  // namespace tokvane
