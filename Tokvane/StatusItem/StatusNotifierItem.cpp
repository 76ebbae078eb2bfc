#include "Tokvane/StatusItem/StatusNotifierItem.hpp"

#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QFile>
#include <QStandardPaths>
#include <QTimer>
#include <atomic>

#include "Tokvane/StatusItem/StatusHost.hpp"

namespace tokvane {
namespace {

// Pixmap sizes hosts pick from.
constexpr int pixmapSizes[] = {16, 22, 24, 32, 48, 64};

std::atomic<int> itemCount{0};

// Where icon files for hosts that read only names go: a private folder in
// the runtime folder, emptied of files left by earlier runs.
QDir prepareIconFolder() {
  QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (runtime.isEmpty()) runtime = QDir::tempPath();
  QDir folder(runtime + QStringLiteral("/app.tokvane.Tokvane/icons"));
  folder.mkpath(QStringLiteral("."));
  QFile::setPermissions(folder.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  const QString ours = QStringLiteral("tokvane-%1-").arg(QCoreApplication::applicationPid());
  for (const QString& name : folder.entryList({QStringLiteral("tokvane-*")}, QDir::Files)) {
    // tokvane-<pid>-<serial>...: keep the files of running programs.
    const QStringList parts = name.split(u'-');
    bool isNumber = false;
    const qint64 pid = parts.size() > 1 ? parts.at(1).toLongLong(&isNumber) : 0;
    const bool alive = isNumber && pid > 0 && QFile::exists(QStringLiteral("/proc/%1").arg(pid));
    if (!alive || name.startsWith(ours)) folder.remove(name);
  }
  return folder;
}

}  // namespace

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, QObject* parent)
    : StatusItemBackend(parent), bus_(std::move(bus)), iconFolder_(prepareIconFolder()) {
  registerStatusNotifierTypes();
  serviceName_ =
      QStringLiteral("org.kde.StatusNotifierItem-%1-%2").arg(QCoreApplication::applicationPid()).arg(++itemCount);
  menu_ = std::make_unique<DBusMenuExporter>(bus_, QString::fromLatin1(menuPath));
  adaptor_ = new StatusNotifierItemAdaptor(this);
  if (bus_.isConnected()) {
    bus_.registerObject(QString::fromLatin1(itemPath), this, QDBusConnection::ExportAdaptors);
    bus_.registerService(serviceName_);
  }

  watcher_ = new QDBusServiceWatcher(this);
  watcher_->setConnection(bus_);
  watcher_->setWatchMode(QDBusServiceWatcher::WatchForOwnerChange);
  watcher_->addWatchedService(QString::fromLatin1(watcherService));
  for (const char* service : StatusHost::labelServices) watcher_->addWatchedService(QString::fromLatin1(service));
  connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
          [this](const QString& service, const QString&, const QString& newOwner) {
            if (service == QLatin1String(watcherService) && !newOwner.isEmpty()) registerWithWatcher();
            updateHost();
          });
  if (bus_.isConnected()) {
    for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"}) {
      bus_.connect(QString::fromLatin1(watcherService), QString::fromLatin1(watcherPath),
                   QString::fromLatin1(watcherService), QString::fromLatin1(signal), this, SLOT(onHostsChanged()));
    }
  }
  registerWithWatcher();
  updateHost();
}

void StatusNotifierItem::onHostsChanged() { updateHost(); }

StatusNotifierItem::~StatusNotifierItem() {
  if (bus_.isConnected()) {
    bus_.unregisterObject(QString::fromLatin1(itemPath));
    bus_.unregisterService(serviceName_);
  }
  if (!iconFile_.isEmpty()) iconFolder_.remove(iconFile_);
}

bool StatusNotifierItem::watcherPresent(const QDBusConnection& bus) {
  return bus.isConnected() && bus.interface() &&
         bus.interface()->isServiceRegistered(QString::fromLatin1(watcherService)).value();
}

void StatusNotifierItem::registerWithWatcher() {
  if (!bus_.isConnected()) return;
  QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(watcherService), QString::fromLatin1(watcherPath),
                                                     QString::fromLatin1(watcherService),
                                                     QStringLiteral("RegisterStatusNotifierItem"));
  call << serviceName_;
  auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
  connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
    call->deleteLater();
    updateHost();
  });
}

void StatusNotifierItem::updateHost() {
  const bool hosted = StatusHost::watcherHasHost(bus_);
  const bool showsLabel = hosted && StatusHost::showsLabels(bus_);
  if (hosted == hosted_ && showsLabel == showsLabel_) return;
  hosted_ = hosted;
  showsLabel_ = showsLabel;
  // The menu's entries depend on the kind of host.
  if (menu_->menu()) menu_->rebuild();
  Q_EMIT hostChanged();
}

void StatusNotifierItem::setMenuBuilder(MenuBuilder builder) {
  builder_ = builder;
  menu_->setBuilder(std::move(builder));
}

SNIToolTip StatusNotifierItem::toolTip() const {
  SNIToolTip tip;
  tip.title = presentation_.tooltip;
  return tip;
}

void StatusNotifierItem::writeIconFile() {
  // A new name for every picture: hosts cache icons by name.
  const QString base = QStringLiteral("tokvane-%1-%2").arg(QCoreApplication::applicationPid()).arg(++iconSerial_);
  QString file;
  if (presentation_.icon.isSymbolic()) {
    file = base + QStringLiteral("-symbolic.svg");
    QFile out(iconFolder_.filePath(file));
    if (!out.open(QIODevice::WriteOnly) || out.write(StatusIconArt::glyphSVG(presentation_.icon)) < 0) file.clear();
  } else {
    file = base + QStringLiteral(".png");
    if (!StatusIconArt::render(presentation_.icon, 64).save(iconFolder_.filePath(file), "PNG")) file.clear();
  }
  if (file.isEmpty()) {
    iconName_.clear();
    return;
  }
  if (!iconFile_.isEmpty()) iconFolder_.remove(iconFile_);
  iconFile_ = file;
  iconName_ = file.left(file.lastIndexOf(u'.'));
}

void StatusNotifierItem::show(const StatusPresentation& presentation) {
  const bool iconChanged = !shown_ || presentation.icon != presentation_.icon;
  const bool labelChanged = !shown_ || presentation.label != presentation_.label;
  const bool tipChanged = !shown_ || presentation.tooltip != presentation_.tooltip;
  presentation_ = presentation;
  shown_ = true;
  if (iconChanged) {
    pixmaps_.clear();
    for (int size : pixmapSizes) pixmaps_.append(SNIIconPixmap::fromImage(StatusIconArt::render(presentation.icon, size)));
    writeIconFile();
    Q_EMIT adaptor_->NewIcon();
  }
  if (labelChanged) Q_EMIT adaptor_->XAyatanaNewLabel(presentation.label, presentation.label);
  if (tipChanged) Q_EMIT adaptor_->NewToolTip();
}

void StatusNotifierItem::activate(int x, int y) { Q_EMIT activated(QPoint(x, y)); }

void StatusNotifierItem::contextMenu(int x, int y) {
  // A host that asks instead of drawing the exported menu: show it here.
  popupMenu_ = builder_ ? builder_() : nullptr;
  if (popupMenu_) popupMenu_->popup(QPoint(x, y));
  Q_EMIT menuRequested(QPoint(x, y));
}

void StatusNotifierItem::scroll(int delta, const QString& orientation) {
  if (orientation.compare(QLatin1String("horizontal"), Qt::CaseInsensitive) == 0)
    Q_EMIT scrolled(0, delta);
  else
    Q_EMIT scrolled(delta, 0);
}

StatusNotifierItemAdaptor::StatusNotifierItemAdaptor(StatusNotifierItem* item)
    : QDBusAbstractAdaptor(item), item_(item) {}

// The bus calls come in while the bus is being read: the gestures run on
// the next turn of the loop, like a click would.
void StatusNotifierItemAdaptor::Activate(int x, int y) {
  QTimer::singleShot(0, item_, [item = item_, x, y] { item->activate(x, y); });
}

void StatusNotifierItemAdaptor::SecondaryActivate(int, int) {}

void StatusNotifierItemAdaptor::ContextMenu(int x, int y) {
  QTimer::singleShot(0, item_, [item = item_, x, y] { item->contextMenu(x, y); });
}

void StatusNotifierItemAdaptor::Scroll(int delta, const QString& orientation) {
  QTimer::singleShot(0, item_, [item = item_, delta, orientation] { item->scroll(delta, orientation); });
}

void StatusNotifierItemAdaptor::ProvideXdgActivationToken(const QString& token) {
  // Handed to the next window shown (the popover) through the environment.
  qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
}

}  // namespace tokvane
