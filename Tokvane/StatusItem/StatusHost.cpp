#include "Tokvane/StatusItem/StatusHost.hpp"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFile>

namespace tokvane::StatusHost {
namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
constexpr int callTimeoutMs = 500;

}  // namespace

bool showsLabels(const QString& watcherProcessName, bool indicatorServicePresent) {
  return indicatorServicePresent || watcherProcessName == QLatin1String("gnome-shell");
}

QString ownerProcessName(const QDBusConnection& bus, const QString& service) {
  if (!bus.isConnected() || !bus.interface()) return {};
  const QDBusReply<uint> pid = bus.interface()->servicePid(service);
  if (!pid.isValid() || pid.value() == 0) return {};
  QFile comm(QStringLiteral("/proc/%1/comm").arg(pid.value()));
  if (!comm.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(comm.readAll()).trimmed();
}

bool showsLabels(const QDBusConnection& bus) {
  if (!bus.isConnected() || !bus.interface()) return false;
  bool indicator = false;
  for (const char* service : labelServices) {
    if (bus.interface()->isServiceRegistered(QString::fromLatin1(service)).value()) indicator = true;
  }
  return showsLabels(ownerProcessName(bus, watcherService), indicator);
}

bool watcherHasHost(const QDBusConnection& bus) {
  if (!bus.isConnected() || !bus.interface()) return false;
  if (!bus.interface()->isServiceRegistered(watcherService).value()) return false;
  QDBusMessage get = QDBusMessage::createMethodCall(watcherService, watcherPath,
                                                    QStringLiteral("org.freedesktop.DBus.Properties"),
                                                    QStringLiteral("Get"));
  get << watcherService << QStringLiteral("IsStatusNotifierHostRegistered");
  const QDBusMessage reply = bus.call(get, QDBus::Block, callTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
  return qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant().toBool();
}

}  // namespace tokvane::StatusHost
