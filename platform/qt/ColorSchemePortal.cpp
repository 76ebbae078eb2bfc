#include "platform/qt/ColorSchemePortal.hpp"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>

namespace tokvane {
namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearanceNamespace = QStringLiteral("org.freedesktop.appearance");
const QString colorSchemeKey = QStringLiteral("color-scheme");

}  // namespace

ColorSchemePortal::ColorSchemePortal(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {
  // Without the registration QtDBus never calls the slot below.
  qRegisterMetaType<QDBusVariant>();
  if (bus_.isConnected()) {
    bus_.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"), this,
                 SLOT(onSettingChanged(QString, QString, QDBusVariant)));
  }
}

std::optional<uint32_t> ColorSchemePortal::unwrap(const QVariant& value) {
  QVariant inner = value;
  // Peel variants (QDBusVariant, or one still marshalled as an argument).
  for (int depth = 0; depth < 4; ++depth) {
    if (inner.canConvert<QDBusVariant>() && inner.userType() == qMetaTypeId<QDBusVariant>()) {
      inner = qvariant_cast<QDBusVariant>(inner).variant();
    } else if (inner.userType() == qMetaTypeId<QDBusArgument>()) {
      const QDBusArgument argument = qvariant_cast<QDBusArgument>(inner);
      if (argument.currentType() != QDBusArgument::VariantType) return std::nullopt;
      QDBusVariant nested;
      argument >> nested;
      inner = nested.variant();
    } else {
      break;
    }
  }
  switch (inner.typeId()) {
    case QMetaType::UInt:
    case QMetaType::Int:
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::Short:
    case QMetaType::ULongLong:
    case QMetaType::LongLong: {
      bool ok = false;
      const qlonglong number = inner.toLongLong(&ok);
      if (!ok || number < 0 || number > 0xffffffffLL) return std::nullopt;
      return static_cast<uint32_t>(number);
    }
    default:
      return std::nullopt;
  }
}

void ColorSchemePortal::read() {
  if (!bus_.isConnected()) return;
  QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface, QStringLiteral("Read"));
  call << appearanceNamespace << colorSchemeKey;
  const QDBusMessage reply = bus_.call(call, QDBus::Block, 500);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return;
  const std::optional<uint32_t> value = unwrap(reply.arguments().constFirst());
  if (value != scheme_) {
    scheme_ = value;
    Q_EMIT schemeChanged();
  }
}

void ColorSchemePortal::onSettingChanged(const QString& nameSpace, const QString& key, const QDBusVariant& value) {
  if (nameSpace != appearanceNamespace || key != colorSchemeKey) return;
  const std::optional<uint32_t> scheme = unwrap(value.variant());
  if (scheme == scheme_) return;
  scheme_ = scheme;
  Q_EMIT schemeChanged();
}

}  // namespace tokvane
