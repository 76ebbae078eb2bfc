#include "TokvaneWidgets/Bus/WidgetBus.hpp"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QUrl>
#include <QVariantMap>

#include "TokvaneWidgets/Bus/BusNames.hpp"

namespace tokvane::widgets {

namespace {

// The instance object: ShowGallery() shows the running program's gallery.
class InstanceAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "app.tokvane.TokvaneWidgets")

 public:
  explicit InstanceAdaptor(WidgetBus* bus) : QDBusAbstractAdaptor(bus), bus_(bus) {}

 public slots:
  void ShowGallery() { emit bus_->galleryRequested(); }

 private:
  WidgetBus* bus_;
};

}  // namespace

WidgetBus::WidgetBus(QObject* parent) : QObject(parent) {
  coalesce_.setSingleShot(true);
  coalesce_.setInterval(reloadCoalesceMs);
  connect(&coalesce_, &QTimer::timeout, this, &WidgetBus::reloadRequested);
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (bus.isConnected()) {
    bus.connect(QString(), QLatin1String(BusNames::widgetsPath), QLatin1String(BusNames::widgetsInterface),
                QLatin1String(BusNames::reloadSignal), this, SLOT(onReloadAllTimelines()));
  }
}

void WidgetBus::onReloadAllTimelines() {
  if (!coalesce_.isActive()) coalesce_.start();
}

bool WidgetBus::claimInstance() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || bus.interface() == nullptr) return false;
  auto reply = bus.interface()->registerService(QLatin1String(BusNames::instanceService),
                                                QDBusConnectionInterface::DontQueueService,
                                                QDBusConnectionInterface::DontAllowReplacement);
  if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) return false;
  new InstanceAdaptor(this);
  bus.registerObject(QLatin1String(BusNames::instancePath), this, QDBusConnection::ExportAdaptors);
  return true;
}

bool WidgetBus::showGalleryOfRunningInstance() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(
      QLatin1String(BusNames::instanceService), QLatin1String(BusNames::instancePath),
      QLatin1String(BusNames::instanceInterface), QLatin1String(BusNames::showGalleryMethod));
  QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
  return reply.type() == QDBusMessage::ReplyMessage;
}

bool WidgetBus::postRefresh() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  QDBusMessage signal = QDBusMessage::createSignal(QLatin1String(BusNames::notificationsPath),
                                                   QLatin1String(BusNames::notificationsInterface),
                                                   QLatin1String(BusNames::postedSignal));
  signal << QString::fromLatin1(BusNames::refreshNotification);
  return bus.send(signal);
}

void WidgetBus::openApplication() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (bus.isConnected() && bus.interface() != nullptr &&
      bus.interface()->isServiceRegistered(QLatin1String(BusNames::applicationService)).value()) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(BusNames::applicationService), QLatin1String(BusNames::applicationPath),
        QLatin1String(BusNames::freedesktopApplication), QStringLiteral("Open"));
    call << QStringList{QString::fromLatin1(BusNames::openURL)} << QVariantMap{};
    bus.asyncCall(call);
    return;
  }
  QDesktopServices::openUrl(QUrl(QString::fromLatin1(BusNames::openURL)));
}

}  // namespace tokvane::widgets

#include "WidgetBus.moc"
