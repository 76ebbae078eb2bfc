#pragma once

#include <QDBusVariant>
#include <QObject>
#include <optional>

#include "TokvaneWidgets/Theme/WidgetPalette.hpp"

namespace tokvane::widgets {

// The desktop's colour scheme from the settings portal
// (org.freedesktop.appearance color-scheme: 1 dark, 2 light), followed as
// it changes. None when there is no portal or it states no preference.
class AppearanceWatcher : public QObject {
  Q_OBJECT

 public:
  explicit AppearanceWatcher(QObject* parent = nullptr);

  std::optional<WidgetAppearance> current() const { return current_; }
  // The scheme's number as the portal sends it, wrapped or not.
  static std::optional<WidgetAppearance> fromPortalValue(const QVariant& value);

 signals:
  void changed(std::optional<WidgetAppearance> appearance);

 private slots:
  void onSettingChanged(const QString& group, const QString& key, const QDBusVariant& value);

 private:
  std::optional<WidgetAppearance> current_;
};

}  // namespace tokvane::widgets
