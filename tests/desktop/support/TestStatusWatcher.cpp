#include "tests/desktop/support/TestStatusWatcher.hpp"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <atomic>
#include <chrono>

#include "tests/desktop/support/TestStatusWatcherObject.hpp"

namespace tokvane::testing {

namespace {
std::atomic<int> connectionCount{0};
}

WatcherObject::WatcherObject(QString connectionName)
    : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName)) {
  new WatcherAdaptor(this);
}

void WatcherObject::start(bool labelHost) {
  bus_.registerObject(QStringLiteral("/StatusNotifierWatcher"), this, QDBusConnection::ExportAdaptors);
  bus_.interface()->registerService(QStringLiteral("org.kde.StatusNotifierWatcher"),
                                    QDBusConnectionInterface::DontQueueService);
  if (labelHost) bus_.interface()->registerService(QStringLiteral("org.ayatana.indicator.application"));
  for (const char* member : {"NewIcon", "NewToolTip", "NewTitle"}) {
    bus_.connect(QString(), QStringLiteral("/StatusNotifierItem"), QStringLiteral("org.kde.StatusNotifierItem"),
                 QString::fromLatin1(member), this, SLOT(onItemSignal()));
  }
  bus_.connect(QString(), QStringLiteral("/StatusNotifierItem"), QStringLiteral("org.kde.StatusNotifierItem"),
               QStringLiteral("XAyatanaNewLabel"), this, SLOT(onLabel(QString, QString)));
  bus_.connect(QString(), QStringLiteral("/MenuBar"), QStringLiteral("com.canonical.dbusmenu"),
               QStringLiteral("LayoutUpdated"), this, SLOT(onLayout(uint, int)));
}

void WatcherObject::stop() {
  bus_.interface()->unregisterService(QStringLiteral("org.ayatana.indicator.application"));
  bus_.interface()->unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
  bus_.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
  std::lock_guard lock(mutex_);
  items_.clear();
}

void WatcherObject::registerItem(const QString& service) {
  std::lock_guard lock(mutex_);
  items_.append(service);
  registrations_.append(service);
}

void WatcherObject::count(const QString& member) {
  std::lock_guard lock(mutex_);
  ++signals_[member];
}

void WatcherObject::onItemSignal() { count(message().member()); }
void WatcherObject::onLabel(const QString&, const QString&) { count(QStringLiteral("XAyatanaNewLabel")); }
void WatcherObject::onLayout(uint, int) { count(QStringLiteral("LayoutUpdated")); }

QStringList WatcherObject::registrations() const {
  std::lock_guard lock(mutex_);
  return registrations_;
}

QStringList WatcherObject::items() const {
  std::lock_guard lock(mutex_);
  return items_;
}

int WatcherObject::signalCount(const QString& member) const {
  std::lock_guard lock(mutex_);
  const auto found = signals_.find(member);
  return found == signals_.end() ? 0 : found->second;
}

WatcherAdaptor::WatcherAdaptor(WatcherObject* watcher) : QDBusAbstractAdaptor(watcher), watcher_(watcher) {}

void WatcherAdaptor::RegisterStatusNotifierItem(const QString& service) {
  watcher_->registerItem(service);
  Q_EMIT StatusNotifierItemRegistered(service);
}

void WatcherAdaptor::RegisterStatusNotifierHost(const QString&) {}

TestStatusWatcher::TestStatusWatcher(bool labelHost)
    : object_(new WatcherObject(QStringLiteral("test-watcher-%1").arg(++connectionCount))), labelHost_(labelHost) {
  object_->moveToThread(&thread_);
  thread_.start();
  start();
}

TestStatusWatcher::~TestStatusWatcher() {
  stop();
  QMetaObject::invokeMethod(object_, [object = object_] { delete object; }, Qt::BlockingQueuedConnection);
  thread_.quit();
  thread_.wait();
}

void TestStatusWatcher::start() {
  QMetaObject::invokeMethod(object_, [object = object_, label = labelHost_] { object->start(label); },
                            Qt::BlockingQueuedConnection);
}

void TestStatusWatcher::stop() {
  QMetaObject::invokeMethod(object_, [object = object_] { object->stop(); }, Qt::BlockingQueuedConnection);
}

QStringList TestStatusWatcher::registrations() const { return object_->registrations(); }
int TestStatusWatcher::signalCount(const QString& member) const { return object_->signalCount(member); }
QDBusConnection TestStatusWatcher::connection() const { return object_->bus(); }

QDBusMessage TestStatusWatcher::call(const QString& service, const QString& path, const QString& interface,
                                     const QString& method, const QVariantList& arguments, int timeoutMs) {
  QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
  message.setArguments(arguments);
  QDBusPendingCall pending = object_->bus().asyncCall(message, timeoutMs);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs + 1000);
  while (!pending.isFinished() && std::chrono::steady_clock::now() < deadline) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  pending.waitForFinished();
  return pending.reply();
}

QVariant TestStatusWatcher::property(const QString& service, const QString& path, const QString& interface,
                                     const QString& name) {
  const QDBusMessage reply = call(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                  QStringLiteral("Get"), {interface, name});
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
  return qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant();
}

QVariant TestStatusWatcher::itemProperty(const QString& service, const QString& name) {
  return property(service, QStringLiteral("/StatusNotifierItem"), QStringLiteral("org.kde.StatusNotifierItem"), name);
}

}  // namespace tokvane::testing
