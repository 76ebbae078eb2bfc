#pragma once

#include <QDBusConnection>

#include "Tokvane/Engine/Runtime/WidgetCenter.hpp"

namespace tokvane {

// Asks the widget program to reload every widget: the signal
// ReloadAllTimelines() on /app/tokvane/Widgets. Nothing happens without a
// session bus or when no widget program listens.
class DBusWidgetCenter final : public WidgetCenter {
 public:
  explicit DBusWidgetCenter(QDBusConnection bus = QDBusConnection::sessionBus());
  void reloadAllTimelines() override;

 private:
  QDBusConnection bus_;
};

}  // namespace tokvane
