#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusVariant>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <vector>

#include "Tokvane/StatusItem/StatusNotifierTypes.hpp"

namespace tokvane {

// Exports a menu over the session bus as com.canonical.dbusmenu, for tray
// hosts that draw the menu themselves. The menu is made by a builder,
// afresh each time a host is about to show it; its entries' actions run
// when the host reports a click on them. Entry ids are 1, 2, ... in menu
// order; the root is 0.
class DBusMenuExporter final : public QObject {
  Q_OBJECT
 public:
  using Builder = std::function<std::unique_ptr<QMenu>()>;

  DBusMenuExporter(QDBusConnection bus, QString path, QObject* parent = nullptr);
  ~DBusMenuExporter() override;

  void setBuilder(Builder builder);
  bool isExported() const { return exported_; }
  const QString& path() const { return path_; }
  // The menu last built (none before the first build).
  QMenu* menu() const { return menu_.get(); }
  // Builds the menu again and tells hosts its layout changed.
  void rebuild();

  uint revision() const { return revision_; }
  DBusMenuLayoutItem layout(int parentId, int depth, const QStringList& propertyNames);
  DBusMenuItemPropertiesList groupProperties(const QList<int>& ids, const QStringList& propertyNames);
  QVariant property(int id, const QString& name);
  // Returns whether the id was known.
  bool event(int id, const QString& eventId);
  // Returns whether the host must read the layout again.
  bool aboutToShow(int id);
  // The entry's properties as exported.
  QVariantMap properties(int id);

  // The properties an action is exported with (pure; for tests too).
  static QVariantMap propertiesOf(const QAction& action);

 Q_SIGNALS:
  void layoutUpdated(uint revision, int parent);

 private:
  QAction* actionFor(int id) const;

  QDBusConnection bus_;
  QString path_;
  Builder builder_;
  std::unique_ptr<QMenu> menu_;
  // Menus replaced while one of their actions may still run.
  std::vector<std::unique_ptr<QMenu>> retired_;
  uint revision_ = 1;
  bool exported_ = false;
};

// The bus face of the exporter.
class DBusMenuAdaptor final : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
  Q_PROPERTY(uint Version READ version)
  Q_PROPERTY(QString TextDirection READ textDirection)
  Q_PROPERTY(QString Status READ status)
  Q_PROPERTY(QStringList IconThemePath READ iconThemePath)
 public:
  explicit DBusMenuAdaptor(DBusMenuExporter* exporter);

  uint version() const { return 3; }
  QString textDirection() const { return QStringLiteral("ltr"); }
  QString status() const { return QStringLiteral("normal"); }
  QStringList iconThemePath() const { return {}; }

 public Q_SLOTS:
  uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames, DBusMenuLayoutItem& layout);
  DBusMenuItemPropertiesList GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames);
  QDBusVariant GetProperty(int id, const QString& name);
  void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
  QList<int> EventGroup(const DBusMenuEventList& events);
  bool AboutToShow(int id);
  QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

 Q_SIGNALS:
  void ItemsPropertiesUpdated(const DBusMenuItemPropertiesList& updatedProps,
                              const DBusMenuItemKeysList& removedProps);
  void LayoutUpdated(uint revision, int parent);
  void ItemActivationRequested(int id, uint timestamp);

 private:
  DBusMenuExporter* exporter_;
};

}  // namespace tokvane
