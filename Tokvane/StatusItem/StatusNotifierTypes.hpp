#pragma once

#include <QByteArray>
#include <QDBusArgument>
#include <QImage>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariantMap>

namespace tokvane {

// One icon of a StatusNotifierItem: width, height and ARGB32 pixels in
// network byte order, (iiay).
struct SNIIconPixmap {
  int width = 0;
  int height = 0;
  QByteArray bytes;

  static SNIIconPixmap fromImage(const QImage& image);
  QImage toImage() const;
};
using SNIIconPixmapList = QList<SNIIconPixmap>;

// The item's tooltip: icon name, icons, title and text, (sa(iiay)ss).
struct SNIToolTip {
  QString iconName;
  SNIIconPixmapList icons;
  QString title;
  QString description;
};

// One entry of an exported menu with its children, (ia{sv}av).
struct DBusMenuLayoutItem {
  int id = 0;
  QVariantMap properties;
  QList<DBusMenuLayoutItem> children;
};

// An entry's properties, (ia{sv}), and the names of removed ones, (ias).
struct DBusMenuItemProperties {
  int id = 0;
  QVariantMap properties;
};
using DBusMenuItemPropertiesList = QList<DBusMenuItemProperties>;
struct DBusMenuItemKeys {
  int id = 0;
  QStringList names;
};
using DBusMenuItemKeysList = QList<DBusMenuItemKeys>;

// One event of EventGroup, (isvu).
struct DBusMenuEvent {
  int id = 0;
  QString eventId;
  QDBusVariant data;
  uint timestamp = 0;
};
using DBusMenuEventList = QList<DBusMenuEvent>;

// Registers the types with QtDBus (under the names the exporters' method
// signatures use); without it QtDBus skips the methods that use them.
void registerStatusNotifierTypes();

QDBusArgument& operator<<(QDBusArgument& argument, const SNIIconPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& argument, SNIIconPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& argument, const SNIToolTip& tip);
const QDBusArgument& operator>>(const QDBusArgument& argument, SNIToolTip& tip);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuLayoutItem& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayoutItem& item);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemProperties& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemProperties& item);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemKeys& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemKeys& item);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuEvent& event);

}  // namespace tokvane

Q_DECLARE_METATYPE(tokvane::SNIIconPixmap)
Q_DECLARE_METATYPE(tokvane::SNIIconPixmapList)
Q_DECLARE_METATYPE(tokvane::SNIToolTip)
Q_DECLARE_METATYPE(tokvane::DBusMenuLayoutItem)
Q_DECLARE_METATYPE(tokvane::DBusMenuItemProperties)
Q_DECLARE_METATYPE(tokvane::DBusMenuItemPropertiesList)
Q_DECLARE_METATYPE(tokvane::DBusMenuItemKeys)
Q_DECLARE_METATYPE(tokvane::DBusMenuItemKeysList)
Q_DECLARE_METATYPE(tokvane::DBusMenuEvent)
Q_DECLARE_METATYPE(tokvane::DBusMenuEventList)
