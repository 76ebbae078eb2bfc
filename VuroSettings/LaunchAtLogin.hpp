#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "VuroSettings/LoginItemService.hpp"

namespace vuro {

// The launch-at-login switch's model. Setting `isEnabled` to a new value
// tells observers and sends the change to the service; when the service
// refuses, `lastError` keeps the refusal's localized description, the log
// gets "launch at login change failed: " and the refusal's whole
// description, and `isEnabled` becomes what the service then reports. A
// successful change clears `lastError`. Main thread only.
class LaunchAtLogin : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool isEnabled READ isEnabled WRITE setEnabled NOTIFY isEnabledChanged)

 public:
  LaunchAtLogin(std::shared_ptr<LoginItemService> service, std::function<void(const QString&)> log,
                QObject* parent = nullptr);

  // One instance for the process, made on first use: the running
  // application's autostart entry (XDGAutostartLoginItem::forApplication,
  // so set the desktop file name first), logging to the system log.
  static LaunchAtLogin& shared();

  const std::optional<QString>& lastError() const;
  bool isEnabled() const;
  void setEnabled(bool enabled);

  // Picks up a change made outside the application: re-reads the service
  // without sending it anything; `lastError` is left alone.
  void refresh();

  LoginItemService& service() const;

 signals:
  void isEnabledChanged(bool isEnabled);
  void lastErrorChanged();

 private:
  void store(bool enabled);
  void setLastError(std::optional<QString> error);

  std::optional<QString> lastError_;
  bool isEnabled_ = false;
  std::shared_ptr<LoginItemService> service_;
  std::function<void(const QString&)> log;
  bool reverting = false;
};

}  // namespace vuro
