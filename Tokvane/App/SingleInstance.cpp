#include "Tokvane/App/SingleInstance.hpp"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTimer>

#include "platform/qt/SessionBusNames.hpp"

namespace tokvane {
namespace {

const QString applicationInterface = QStringLiteral("org.freedesktop.Application");

// The activation token a launcher passes, for the window the request shows.
void takeActivationToken(const QVariantMap& platformData) {
  const QString token = platformData.value(QStringLiteral("activation-token")).toString();
  if (!token.isEmpty()) qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
}

}  // namespace

SingleInstance::SingleInstance(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {
  new ApplicationAdaptor(this);
}

SingleInstance::~SingleInstance() {
  if (owned_) bus_.unregisterService(QString::fromLatin1(SessionBusNames::applicationID));
  if (exported_) bus_.unregisterObject(QString::fromLatin1(SessionBusNames::applicationPath));
}

SingleInstance::Role SingleInstance::claim(const QStringList& urls) {
  if (!bus_.isConnected() || !bus_.interface()) return Role::alone;
  const QString name = QString::fromLatin1(SessionBusNames::applicationID);
  const QString path = QString::fromLatin1(SessionBusNames::applicationPath);
  // The object first, so a request that follows the name at once finds it.
  exported_ = bus_.registerObject(path, this, QDBusConnection::ExportAdaptors);
  const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus_.interface()->registerService(
      name, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
  if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
    owned_ = true;
    return Role::primary;
  }
  if (exported_) {
    bus_.unregisterObject(path);
    exported_ = false;
  }

  QDBusMessage call;
  if (urls.isEmpty()) {
    call = QDBusMessage::createMethodCall(name, path, applicationInterface, QStringLiteral("Activate"));
    call << QVariantMap();
  } else {
    call = QDBusMessage::createMethodCall(name, path, applicationInterface, QStringLiteral("Open"));
    call << urls << QVariantMap();
  }
  const QDBusMessage answer = bus_.call(call, QDBus::Block, 10000);
  // A name owned by a program that does not answer: run anyway, so the user
  // sees something.
  return answer.type() == QDBusMessage::ReplyMessage ? Role::forwarded : Role::alone;
}

ApplicationAdaptor::ApplicationAdaptor(SingleInstance* owner) : QDBusAbstractAdaptor(owner), owner_(owner) {}

// Requests are answered at once and handled on the next turn of the loop,
// so the caller never waits for a window to open.
void ApplicationAdaptor::Activate(const QVariantMap& platformData) {
  takeActivationToken(platformData);
  QTimer::singleShot(0, owner_, [owner = owner_] {
    if (owner->onActivate) owner->onActivate();
  });
}

void ApplicationAdaptor::Open(const QStringList& uris, const QVariantMap& platformData) {
  takeActivationToken(platformData);
  QTimer::singleShot(0, owner_, [owner = owner_, uris] {
    if (owner->onOpen) owner->onOpen(uris);
  });
}

void ApplicationAdaptor::ActivateAction(const QString&, const QVariantList&, const QVariantMap& platformData) {
  Activate(platformData);
}

}  // namespace tokvane
