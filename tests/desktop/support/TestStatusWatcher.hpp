#pragma once

// A StatusNotifierWatcher and host of our own for the desktop tier: it owns
// org.kde.StatusNotifierWatcher on a connection of its own, served by its
// own thread (the program under test may ask it things with blocking calls
// from its main thread), records the items that register and the signals
// they send, and reads their properties and menus back.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QThread>
#include <QVariant>
#include <map>
#include <memory>
#include <mutex>

namespace tokvane::testing {

class WatcherObject;

class TestStatusWatcher {
 public:
  // A label host also owns an indicator service name, as GNOME's and the
  // Ayatana hosts' sessions do.
  explicit TestStatusWatcher(bool labelHost);
  ~TestStatusWatcher();

  void start();
  void stop();

  // Items registered with this watcher, in order (repeats included).
  QStringList registrations() const;
  // Signals received from items, by member name.
  int signalCount(const QString& member) const;

  // Calls on the bus from the watcher's connection, waiting for the answer
  // while Qt's loop runs on the caller's thread.
  QDBusMessage call(const QString& service, const QString& path, const QString& interface, const QString& method,
                    const QVariantList& arguments = {}, int timeoutMs = 5000);
  QVariant property(const QString& service, const QString& path, const QString& interface, const QString& name);
  QVariant itemProperty(const QString& service, const QString& name);

  QDBusConnection connection() const;

 private:
  QThread thread_;
  WatcherObject* object_;
  bool labelHost_;
};

}  // namespace tokvane::testing
