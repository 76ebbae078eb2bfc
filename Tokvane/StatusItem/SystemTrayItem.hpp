#pragma once

#include <QSystemTrayIcon>
#include <memory>

#include "Tokvane/StatusItem/StatusItemBackend.hpp"

namespace tokvane {

// The status item as Qt's own tray icon, for desktops whose tray has no
// StatusNotifierWatcher (XEmbed trays). Such trays show no text, so the
// number is in the icon; they report the icon's real geometry.
class SystemTrayItem final : public StatusItemBackend {
  Q_OBJECT
 public:
  explicit SystemTrayItem(QObject* parent = nullptr);
  ~SystemTrayItem() override;

  static bool trayAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

  void setMenuBuilder(MenuBuilder builder) override { builder_ = std::move(builder); }
  void show(const StatusPresentation& presentation) override;
  bool isHosted() const override { return QSystemTrayIcon::isSystemTrayAvailable(); }
  bool hostShowsLabel() const override { return false; }
  std::optional<QRect> geometry() const override;

 private:
  void showMenu();

  QSystemTrayIcon icon_;
  MenuBuilder builder_;
  std::unique_ptr<QMenu> menu_;
  std::optional<StatusPresentation> shown_;
};

}  // namespace tokvane
