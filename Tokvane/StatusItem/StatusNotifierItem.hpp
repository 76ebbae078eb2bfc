#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QString>
#include <memory>

#include "Tokvane/StatusItem/DBusMenuExporter.hpp"
#include "Tokvane/StatusItem/StatusItemBackend.hpp"
#include "Tokvane/StatusItem/StatusNotifierTypes.hpp"

namespace tokvane {

// The status item as an org.kde.StatusNotifierItem of our own on the
// session bus: the icon (as pixmaps, and as a file named in IconName for
// hosts that read only names), the text beside it (XAyatanaLabel), the
// tooltip, and an exported menu; it hears Activate, ContextMenu and Scroll.
// It registers with the StatusNotifierWatcher, and again whenever a watcher
// appears (a panel restarted or started after us).
class StatusNotifierItem final : public StatusItemBackend {
  Q_OBJECT
 public:
  static constexpr const char* watcherService = "org.kde.StatusNotifierWatcher";
  static constexpr const char* watcherPath = "/StatusNotifierWatcher";
  static constexpr const char* itemPath = "/StatusNotifierItem";
  static constexpr const char* menuPath = "/MenuBar";

  explicit StatusNotifierItem(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);
  ~StatusNotifierItem() override;

  // Whether a watcher is on the bus now.
  static bool watcherPresent(const QDBusConnection& bus = QDBusConnection::sessionBus());

  void setMenuBuilder(MenuBuilder builder) override;
  void show(const StatusPresentation& presentation) override;
  bool isHosted() const override { return hosted_; }
  bool hostShowsLabel() const override { return showsLabel_; }

  const QString& serviceName() const { return serviceName_; }
  DBusMenuExporter& menuExporter() { return *menu_; }

  // What the adaptor exports.
  QString iconName() const { return iconName_; }
  QString iconThemePath() const { return iconFolder_.path(); }
  SNIIconPixmapList iconPixmaps() const { return pixmaps_; }
  SNIToolTip toolTip() const;
  QString label() const { return presentation_.label; }

  // The adaptor's calls.
  void activate(int x, int y);
  void contextMenu(int x, int y);
  void scroll(int delta, const QString& orientation);

 private Q_SLOTS:
  void onHostsChanged();

 private:
  void registerWithWatcher();
  void updateHost();
  void writeIconFile();

  QDBusConnection bus_;
  QString serviceName_;
  std::unique_ptr<DBusMenuExporter> menu_;
  QDBusServiceWatcher* watcher_;
  class StatusNotifierItemAdaptor* adaptor_;
  MenuBuilder builder_;
  StatusPresentation presentation_;
  bool shown_ = false;
  bool hosted_ = false;
  bool showsLabel_ = false;
  SNIIconPixmapList pixmaps_;
  QString iconName_;
  QDir iconFolder_;
  QString iconFile_;
  int iconSerial_ = 0;
  std::unique_ptr<QMenu> popupMenu_;
};

class StatusNotifierItemAdaptor final : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
  Q_PROPERTY(QString Category READ category)
  Q_PROPERTY(QString Id READ id)
  Q_PROPERTY(QString Title READ title)
  Q_PROPERTY(QString Status READ status)
  Q_PROPERTY(int WindowId READ windowId)
  Q_PROPERTY(QString IconThemePath READ iconThemePath)
  Q_PROPERTY(QString IconName READ iconName)
  Q_PROPERTY(SNIIconPixmapList IconPixmap READ iconPixmap)
  Q_PROPERTY(QString OverlayIconName READ empty)
  Q_PROPERTY(SNIIconPixmapList OverlayIconPixmap READ noPixmaps)
  Q_PROPERTY(QString AttentionIconName READ empty)
  Q_PROPERTY(SNIIconPixmapList AttentionIconPixmap READ noPixmaps)
  Q_PROPERTY(QString AttentionMovieName READ empty)
  Q_PROPERTY(SNIToolTip ToolTip READ toolTip)
  Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
  Q_PROPERTY(QDBusObjectPath Menu READ menu)
  Q_PROPERTY(QString XAyatanaLabel READ label)
  Q_PROPERTY(QString XAyatanaLabelGuide READ label)
  Q_PROPERTY(uint XAyatanaOrderingIndex READ orderingIndex)
 public:
  explicit StatusNotifierItemAdaptor(StatusNotifierItem* item);

  QString category() const { return QStringLiteral("ApplicationStatus"); }
  QString id() const { return QStringLiteral("tokvane"); }
  QString title() const { return QStringLiteral("Tokvane"); }
  QString status() const { return QStringLiteral("Active"); }
  int windowId() const { return 0; }
  QString iconThemePath() const { return item_->iconThemePath(); }
  QString iconName() const { return item_->iconName(); }
  SNIIconPixmapList iconPixmap() const { return item_->iconPixmaps(); }
  QString empty() const { return {}; }
  SNIIconPixmapList noPixmaps() const { return {}; }
  SNIToolTip toolTip() const { return item_->toolTip(); }
  bool itemIsMenu() const { return false; }
  QDBusObjectPath menu() const { return QDBusObjectPath(QString::fromLatin1(StatusNotifierItem::menuPath)); }
  QString label() const { return item_->label(); }
  uint orderingIndex() const { return 0; }

 public Q_SLOTS:
  void Activate(int x, int y);
  void SecondaryActivate(int x, int y);
  void ContextMenu(int x, int y);
  void Scroll(int delta, const QString& orientation);
  void ProvideXdgActivationToken(const QString& token);

 Q_SIGNALS:
  void NewTitle();
  void NewIcon();
  void NewAttentionIcon();
  void NewOverlayIcon();
  void NewToolTip();
  void NewStatus(const QString& status);
  void NewIconThemePath(const QString& path);
  void NewMenu();
  void XAyatanaNewLabel(const QString& label, const QString& guide);

 private:
  StatusNotifierItem* item_;
};

}  // namespace tokvane
