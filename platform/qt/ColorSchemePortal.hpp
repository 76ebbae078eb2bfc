#pragma once

#include <QDBusConnection>
#include <QDBusVariant>
#include <QObject>
#include <cstdint>
#include <optional>

namespace tokvane {

// The desktop's colour-scheme setting, read from the settings portal
// (org.freedesktop.appearance / color-scheme: 0 no preference, 1 dark,
// 2 light) and followed while the program runs. Version 1 of the portal
// has only Read, whose answer is a variant inside a variant; both that
// and the newer plain variant are accepted.
class ColorSchemePortal final : public QObject {
  Q_OBJECT
 public:
  explicit ColorSchemePortal(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

  // The last value read; none when no portal answered.
  std::optional<uint32_t> scheme() const { return scheme_; }

  // Reads the value once, waiting for the answer (a short call at start-up).
  void read();

  // The portal's answer to Read, unwrapped; none when it is not a number.
  static std::optional<uint32_t> unwrap(const QVariant& value);

 Q_SIGNALS:
  void schemeChanged();

 private Q_SLOTS:
  void onSettingChanged(const QString& nameSpace, const QString& key, const QDBusVariant& value);

 private:
  QDBusConnection bus_;
  std::optional<uint32_t> scheme_;
};

}  // namespace tokvane
