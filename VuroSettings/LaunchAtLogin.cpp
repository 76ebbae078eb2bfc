#include "VuroSettings/LaunchAtLogin.hpp"

#include <syslog.h>

#include <exception>

#include "VuroSettings/LoginItemError.hpp"
#include "VuroSettings/XDGAutostartLoginItem.hpp"

namespace vuro {

LaunchAtLogin::LaunchAtLogin(std::shared_ptr<LoginItemService> service,
                             std::function<void(const QString&)> log, QObject* parent)
    : QObject(parent), service_(std::move(service)), log(std::move(log)) {
  isEnabled_ = service_->isEnabled();
}

LaunchAtLogin& LaunchAtLogin::shared() {
  static LaunchAtLogin* instance = new LaunchAtLogin(
      std::make_shared<XDGAutostartLoginItem>(XDGAutostartLoginItem::forApplication()),
      [](const QString& text) { syslog(LOG_WARNING, "%s", text.toUtf8().constData()); });
  return *instance;
}

const std::optional<QString>& LaunchAtLogin::lastError() const { return lastError_; }

bool LaunchAtLogin::isEnabled() const { return isEnabled_; }

LoginItemService& LaunchAtLogin::service() const { return *service_; }

void LaunchAtLogin::store(bool enabled) {
  if (enabled == isEnabled_) return;
  isEnabled_ = enabled;
  emit isEnabledChanged(enabled);
}

void LaunchAtLogin::setLastError(std::optional<QString> error) {
  if (error == lastError_) return;
  lastError_ = std::move(error);
  emit lastErrorChanged();
}

void LaunchAtLogin::setEnabled(bool enabled) {
  const bool previous = isEnabled_;
  store(enabled);
  if (reverting) return;
  if (enabled == previous) return;
  try {
    service_->setEnabled(enabled);
    setLastError(std::nullopt);
    return;
  } catch (const LoginItemError& error) {
    setLastError(error.localizedDescription());
    if (log) log(QStringLiteral("launch at login change failed: ") + error.description());
  } catch (const std::exception& error) {
    setLastError(QString::fromUtf8(error.what()));
    if (log) log(QStringLiteral("launch at login change failed: ") + QString::fromUtf8(error.what()));
  }
  reverting = true;
  store(service_->isEnabled());
  reverting = false;
}

void LaunchAtLogin::refresh() {
  reverting = true;
  store(service_->isEnabled());
  reverting = false;
}

}  // namespace vuro
