#include "Tokvane/StatusItem/DBusMenuExporter.hpp"

#include <QDBusMetaType>
#include <QKeySequence>
#include <QTimer>

namespace tokvane {
namespace {

// dbusmenu's mnemonic mark is "_"; a literal one is doubled. Qt's "&"
// mnemonic becomes "_", a literal "&&" one "&".
QString dbusLabel(const QString& text) {
  QString label;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text.at(i);
    if (c == u'_') {
      label += QStringLiteral("__");
    } else if (c == u'&') {
      if (i + 1 < text.size() && text.at(i + 1) == u'&') {
        label += u'&';
        ++i;
      } else {
        label += u'_';
      }
    } else {
      label += c;
    }
  }
  return label;
}

// A key sequence as dbusmenu's list of key names: Ctrl+R is
// [["Control", "R"]].
QList<QStringList> dbusShortcut(const QKeySequence& sequence) {
  QList<QStringList> shortcut;
  for (int i = 0; i < sequence.count(); ++i) {
    const QKeyCombination combination = sequence[i];
    QStringList keys;
    const Qt::KeyboardModifiers modifiers = combination.keyboardModifiers();
    if (modifiers & Qt::ControlModifier) keys << QStringLiteral("Control");
    if (modifiers & Qt::AltModifier) keys << QStringLiteral("Alt");
    if (modifiers & Qt::ShiftModifier) keys << QStringLiteral("Shift");
    if (modifiers & Qt::MetaModifier) keys << QStringLiteral("Super");
    keys << QKeySequence(combination.key()).toString(QKeySequence::PortableText);
    shortcut << keys;
  }
  return shortcut;
}

QVariantMap filtered(const QVariantMap& properties, const QStringList& names) {
  if (names.isEmpty()) return properties;
  QVariantMap result;
  for (const QString& name : names) {
    if (properties.contains(name)) result.insert(name, properties.value(name));
  }
  return result;
}

}  // namespace

DBusMenuExporter::DBusMenuExporter(QDBusConnection bus, QString path, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), path_(std::move(path)) {
  registerStatusNotifierTypes();
  qDBusRegisterMetaType<QList<QStringList>>();
  new DBusMenuAdaptor(this);
  exported_ = bus_.isConnected() && bus_.registerObject(path_, this, QDBusConnection::ExportAdaptors);
}

DBusMenuExporter::~DBusMenuExporter() {
  if (exported_) bus_.unregisterObject(path_);
}

void DBusMenuExporter::setBuilder(Builder builder) {
  builder_ = std::move(builder);
  // Built when a host first asks, not now: the builder's owner may still be
  // being made.
  if (menu_) rebuild();
}

void DBusMenuExporter::rebuild() {
  std::unique_ptr<QMenu> fresh = builder_ ? builder_() : nullptr;
  if (!fresh) fresh = std::make_unique<QMenu>();
  // An action of the old menu may be running right now (a host's click
  // that leads here): it goes on a later turn of the loop, or with us.
  if (menu_) {
    retired_.push_back(std::move(menu_));
    QTimer::singleShot(0, this, [this] {
      retired_.clear();
    });
  }
  menu_ = std::move(fresh);
  ++revision_;
  Q_EMIT layoutUpdated(revision_, 0);
}

QAction* DBusMenuExporter::actionFor(int id) const {
  if (!menu_ || id <= 0) return nullptr;
  const QList<QAction*> actions = menu_->actions();
  return id <= actions.size() ? actions.at(id - 1) : nullptr;
}

QVariantMap DBusMenuExporter::propertiesOf(const QAction& action) {
  QVariantMap properties;
  if (action.isSeparator()) {
    properties.insert(QStringLiteral("type"), QStringLiteral("separator"));
  } else {
    properties.insert(QStringLiteral("label"), dbusLabel(action.text()));
    if (!action.shortcut().isEmpty())
      properties.insert(QStringLiteral("shortcut"), QVariant::fromValue(dbusShortcut(action.shortcut())));
  }
  properties.insert(QStringLiteral("enabled"), action.isEnabled());
  properties.insert(QStringLiteral("visible"), action.isVisible());
  return properties;
}

QVariantMap DBusMenuExporter::properties(int id) {
  if (id == 0) return {{QStringLiteral("children-display"), QStringLiteral("submenu")}};
  if (QAction* action = actionFor(id)) return propertiesOf(*action);
  return {};
}

DBusMenuLayoutItem DBusMenuExporter::layout(int parentId, int depth, const QStringList& propertyNames) {
  if (!menu_) rebuild();
  DBusMenuLayoutItem item;
  item.id = parentId;
  item.properties = filtered(properties(parentId), propertyNames);
  if (parentId == 0 && depth != 0) {
    const QList<QAction*> actions = menu_->actions();
    for (int i = 0; i < actions.size(); ++i) {
      DBusMenuLayoutItem child;
      child.id = i + 1;
      child.properties = filtered(propertiesOf(*actions.at(i)), propertyNames);
      item.children.append(child);
    }
  }
  return item;
}

DBusMenuItemPropertiesList DBusMenuExporter::groupProperties(const QList<int>& ids, const QStringList& propertyNames) {
  if (!menu_) rebuild();
  DBusMenuItemPropertiesList list;
  for (int id : ids) {
    if (id != 0 && !actionFor(id)) continue;
    list.append(DBusMenuItemProperties{id, filtered(properties(id), propertyNames)});
  }
  return list;
}

QVariant DBusMenuExporter::property(int id, const QString& name) { return properties(id).value(name); }

bool DBusMenuExporter::event(int id, const QString& eventId) {
  if (id == 0) {
    // Some hosts only say the menu opened, without asking first.
    if (eventId == QLatin1String("opened")) rebuild();
    return true;
  }
  QAction* action = actionFor(id);
  if (!action) return false;
  if (eventId == QLatin1String("clicked") && action->isEnabled() && !action->isSeparator()) {
    // Not inside the bus call: the action may open windows or quit.
    QPointer<QAction> target(action);
    QTimer::singleShot(0, this, [target] {
      if (target) target->trigger();
    });
  }
  return true;
}

bool DBusMenuExporter::aboutToShow(int id) {
  if (id != 0) return false;
  rebuild();
  return true;
}

DBusMenuAdaptor::DBusMenuAdaptor(DBusMenuExporter* exporter) : QDBusAbstractAdaptor(exporter), exporter_(exporter) {
  connect(exporter, &DBusMenuExporter::layoutUpdated, this, &DBusMenuAdaptor::LayoutUpdated);
}

uint DBusMenuAdaptor::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                DBusMenuLayoutItem& layout) {
  layout = exporter_->layout(parentId, recursionDepth, propertyNames);
  return exporter_->revision();
}

DBusMenuItemPropertiesList DBusMenuAdaptor::GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames) {
  return exporter_->groupProperties(ids, propertyNames);
}

QDBusVariant DBusMenuAdaptor::GetProperty(int id, const QString& name) {
  return QDBusVariant(exporter_->property(id, name));
}

void DBusMenuAdaptor::Event(int id, const QString& eventId, const QDBusVariant&, uint) { exporter_->event(id, eventId); }

QList<int> DBusMenuAdaptor::EventGroup(const DBusMenuEventList& events) {
  QList<int> unknown;
  for (const DBusMenuEvent& event : events) {
    if (!exporter_->event(event.id, event.eventId)) unknown.append(event.id);
  }
  return unknown;
}

bool DBusMenuAdaptor::AboutToShow(int id) { return exporter_->aboutToShow(id); }

QList<int> DBusMenuAdaptor::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
  QList<int> updates;
  idErrors.clear();
  for (int id : ids) {
    if (exporter_->aboutToShow(id)) updates.append(id);
  }
  return updates;
}

}  // namespace tokvane
