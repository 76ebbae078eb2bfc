#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QStringList>
#include <map>
#include <mutex>

namespace tokvane::testing {

// The watcher's object, living on the watcher's thread.
class WatcherObject final : public QObject, protected QDBusContext {
  Q_OBJECT
 public:
  explicit WatcherObject(QString connectionName);

  void start(bool labelHost);
  void stop();
  void registerItem(const QString& service);
  QStringList registrations() const;
  QStringList items() const;
  int signalCount(const QString& member) const;
  QDBusConnection bus() const { return bus_; }
  using QDBusContext::message;

 private Q_SLOTS:
  void onItemSignal();
  void onLabel(const QString& label, const QString& guide);
  void onLayout(uint revision, int parent);

 private:
  void count(const QString& member);

  QDBusConnection bus_;
  mutable std::mutex mutex_;
  QStringList items_;
  QStringList registrations_;
  std::map<QString, int> signals_;
};

class WatcherAdaptor final : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
  Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
  Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
  Q_PROPERTY(int ProtocolVersion READ protocolVersion)
 public:
  explicit WatcherAdaptor(WatcherObject* watcher);

  QStringList items() const { return watcher_->items(); }
  bool hostRegistered() const { return true; }
  int protocolVersion() const { return 0; }

 public Q_SLOTS:
  void RegisterStatusNotifierItem(const QString& service);
  void RegisterStatusNotifierHost(const QString& service);

 Q_SIGNALS:
  void StatusNotifierItemRegistered(const QString& service);
  void StatusNotifierItemUnregistered(const QString& service);
  void StatusNotifierHostRegistered();
  void StatusNotifierHostUnregistered();

 private:
  WatcherObject* watcher_;
};

}  // namespace tokvane::testing
