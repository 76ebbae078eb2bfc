#include "TokvaneWidgets/Bus/AppearanceWatcher.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QMetaType>

namespace tokvane::widgets {

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearanceGroup = QStringLiteral("org.freedesktop.appearance");
const QString schemeKey = QStringLiteral("color-scheme");

}  // namespace

AppearanceWatcher::AppearanceWatcher(QObject* parent) : QObject(parent) {
  // Without this registration QtDBus never calls the slot.
  qRegisterMetaType<QDBusVariant>();
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  bus.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"), this,
              SLOT(onSettingChanged(QString, QString, QDBusVariant)));
  // Version 1 of the portal has Read only (ReadOne fails with UnknownMethod).
  QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface,
                                                     QStringLiteral("Read"));
  call << appearanceGroup << schemeKey;
  const QDBusMessage reply = bus.call(call, QDBus::Block, 1000);
  if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
    current_ = fromPortalValue(reply.arguments().first());
  }
}

std::optional<WidgetAppearance> AppearanceWatcher::fromPortalValue(const QVariant& value) {
  QVariant inner = value;
  // Read wraps the value in a variant inside a variant.
  for (int depth = 0; depth < 4 && inner.userType() == qMetaTypeId<QDBusVariant>(); ++depth) {
    inner = inner.value<QDBusVariant>().variant();
  }
  bool ok = false;
  const uint scheme = inner.toUInt(&ok);
  if (!ok) return std::nullopt;
  if (scheme == 1) return WidgetAppearance::dark;
  if (scheme == 2) return WidgetAppearance::light;
  return std::nullopt;
}

void AppearanceWatcher::onSettingChanged(const QString& group, const QString& key, const QDBusVariant& value) {
  if (group != appearanceGroup || key != schemeKey) return;
  const auto next = fromPortalValue(value.variant());
  if (next == current_) return;
  current_ = next;
  emit changed(current_);
}

}  // namespace tokvane::widgets
