#include "platform/qt/DBusWidgetCenter.hpp"

#include <QDBusMessage>

#include "platform/qt/SessionBusNames.hpp"

namespace tokvane {

DBusWidgetCenter::DBusWidgetCenter(QDBusConnection bus) : bus_(std::move(bus)) {}

void DBusWidgetCenter::reloadAllTimelines() {
  if (!bus_.isConnected()) return;
  bus_.send(QDBusMessage::createSignal(QString::fromLatin1(SessionBusNames::widgetsPath),
                                       QString::fromLatin1(SessionBusNames::widgetsInterface),
                                       QString::fromLatin1(SessionBusNames::widgetsReloadSignal)));
}

}  // namespace tokvane
