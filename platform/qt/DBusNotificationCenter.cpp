#include "platform/qt/DBusNotificationCenter.hpp"

#include <QDBusMessage>
#include <algorithm>
#include <atomic>

#include "platform/qt/SessionBusNames.hpp"

namespace tokvane {

struct DBusNotificationCenter::Observer final : Cancellable {
  Observer(std::string name, std::function<void()> handler) : name(std::move(name)), handler(std::move(handler)) {}
  void cancel() override { cancelled.store(true); }
  bool isCancelled() const override { return cancelled.load(); }

  std::string name;
  std::function<void()> handler;
  std::atomic<bool> cancelled{false};
};

DBusNotificationCenter::DBusNotificationCenter(QDBusConnection bus) : bus_(std::move(bus)) {
  if (bus_.isConnected()) {
    connected_ = bus_.connect(QString(), QString::fromLatin1(SessionBusNames::notificationsPath),
                              QString::fromLatin1(SessionBusNames::notificationsInterface),
                              QString::fromLatin1(SessionBusNames::notificationsSignal), this,
                              SLOT(onPosted(QString)));
  }
}

DBusNotificationCenter::~DBusNotificationCenter() {
  if (connected_) {
    bus_.disconnect(QString(), QString::fromLatin1(SessionBusNames::notificationsPath),
                    QString::fromLatin1(SessionBusNames::notificationsInterface),
                    QString::fromLatin1(SessionBusNames::notificationsSignal), this, SLOT(onPosted(QString)));
  }
}

std::shared_ptr<Cancellable> DBusNotificationCenter::observe(const std::string& name, std::function<void()> handler) {
  auto observer = std::make_shared<Observer>(name, std::move(handler));
  observers_.push_back(observer);
  return observer;
}

void DBusNotificationCenter::post(const std::string& name) {
  if (!bus_.isConnected()) return;
  QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(SessionBusNames::notificationsPath),
                                                   QString::fromLatin1(SessionBusNames::notificationsInterface),
                                                   QString::fromLatin1(SessionBusNames::notificationsSignal));
  signal << QString::fromStdString(name);
  bus_.send(signal);
}

void DBusNotificationCenter::onPosted(const QString& name) {
  const std::string posted = name.toStdString();
  // A handler may observe or cancel while it runs: call a copy.
  const auto snapshot = observers_;
  for (const auto& weak : snapshot) {
    if (auto observer = weak.lock(); observer && !observer->isCancelled() && observer->name == posted)
      observer->handler();
  }
  observers_.erase(std::remove_if(observers_.begin(), observers_.end(),
                                  [](const std::weak_ptr<Observer>& weak) {
                                    auto observer = weak.lock();
                                    return !observer || observer->isCancelled();
                                  }),
                   observers_.end());
}

}  // namespace tokvane
