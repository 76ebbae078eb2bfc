#include "Tokvane/StatusItem/StatusNotifierTypes.hpp"

#include <QDBusMetaType>
#include <QtEndian>

namespace tokvane {

SNIIconPixmap SNIIconPixmap::fromImage(const QImage& image) {
  const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
  SNIIconPixmap pixmap;
  pixmap.width = argb.width();
  pixmap.height = argb.height();
  pixmap.bytes.resize(static_cast<qsizetype>(argb.width()) * argb.height() * 4);
  uchar* out = reinterpret_cast<uchar*>(pixmap.bytes.data());
  for (int y = 0; y < argb.height(); ++y) {
    const QRgb* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
    for (int x = 0; x < argb.width(); ++x) {
      qToBigEndian<quint32>(row[x], out);
      out += 4;
    }
  }
  return pixmap;
}

QImage SNIIconPixmap::toImage() const {
  if (width <= 0 || height <= 0 || bytes.size() < static_cast<qsizetype>(width) * height * 4) return {};
  QImage image(width, height, QImage::Format_ARGB32);
  const uchar* in = reinterpret_cast<const uchar*>(bytes.constData());
  for (int y = 0; y < height; ++y) {
    QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) {
      row[x] = qFromBigEndian<quint32>(in);
      in += 4;
    }
  }
  return image;
}

void registerStatusNotifierTypes() {
  static const bool registered = [] {
    qRegisterMetaType<SNIIconPixmap>("SNIIconPixmap");
    qRegisterMetaType<SNIIconPixmapList>("SNIIconPixmapList");
    qRegisterMetaType<SNIToolTip>("SNIToolTip");
    qRegisterMetaType<DBusMenuLayoutItem>("DBusMenuLayoutItem");
    qRegisterMetaType<DBusMenuItemProperties>("DBusMenuItemProperties");
    qRegisterMetaType<DBusMenuItemPropertiesList>("DBusMenuItemPropertiesList");
    qRegisterMetaType<DBusMenuItemKeys>("DBusMenuItemKeys");
    qRegisterMetaType<DBusMenuItemKeysList>("DBusMenuItemKeysList");
    qRegisterMetaType<DBusMenuEvent>("DBusMenuEvent");
    qRegisterMetaType<DBusMenuEventList>("DBusMenuEventList");
    qDBusRegisterMetaType<SNIIconPixmap>();
    qDBusRegisterMetaType<SNIIconPixmapList>();
    qDBusRegisterMetaType<SNIToolTip>();
    qDBusRegisterMetaType<DBusMenuLayoutItem>();
    qDBusRegisterMetaType<DBusMenuItemProperties>();
    qDBusRegisterMetaType<DBusMenuItemPropertiesList>();
    qDBusRegisterMetaType<DBusMenuItemKeys>();
    qDBusRegisterMetaType<DBusMenuItemKeysList>();
    qDBusRegisterMetaType<DBusMenuEvent>();
    qDBusRegisterMetaType<DBusMenuEventList>();
    return true;
  }();
  (void)registered;
}

QDBusArgument& operator<<(QDBusArgument& argument, const SNIIconPixmap& pixmap) {
  argument.beginStructure();
  argument << pixmap.width << pixmap.height << pixmap.bytes;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, SNIIconPixmap& pixmap) {
  argument.beginStructure();
  argument >> pixmap.width >> pixmap.height >> pixmap.bytes;
  argument.endStructure();
  return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const SNIToolTip& tip) {
  argument.beginStructure();
  argument << tip.iconName << tip.icons << tip.title << tip.description;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, SNIToolTip& tip) {
  argument.beginStructure();
  argument >> tip.iconName >> tip.icons >> tip.title >> tip.description;
  argument.endStructure();
  return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuLayoutItem& item) {
  argument.beginStructure();
  argument << item.id << item.properties;
  // Children travel as variants holding the same structure (av).
  argument.beginArray(qMetaTypeId<QDBusVariant>());
  for (const DBusMenuLayoutItem& child : item.children) argument << QDBusVariant(QVariant::fromValue(child));
  argument.endArray();
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayoutItem& item) {
  argument.beginStructure();
  argument >> item.id >> item.properties;
  item.children.clear();
  argument.beginArray();
  while (!argument.atEnd()) {
    QDBusVariant child;
    argument >> child;
    const QDBusArgument nested = qvariant_cast<QDBusArgument>(child.variant());
    DBusMenuLayoutItem childItem;
    nested >> childItem;
    item.children.append(childItem);
  }
  argument.endArray();
  argument.endStructure();
  return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemProperties& item) {
  argument.beginStructure();
  argument << item.id << item.properties;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemProperties& item) {
  argument.beginStructure();
  argument >> item.id >> item.properties;
  argument.endStructure();
  return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemKeys& item) {
  argument.beginStructure();
  argument << item.id << item.names;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemKeys& item) {
  argument.beginStructure();
  argument >> item.id >> item.names;
  argument.endStructure();
  return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuEvent& event) {
  argument.beginStructure();
  argument << event.id << event.eventId << event.data << event.timestamp;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuEvent& event) {
  argument.beginStructure();
  argument >> event.id >> event.eventId >> event.data >> event.timestamp;
  argument.endStructure();
  return argument;
}

}  // namespace tokvane
