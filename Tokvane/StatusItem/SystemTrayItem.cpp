#include "Tokvane/StatusItem/SystemTrayItem.hpp"

#include <QCursor>
#include <QIcon>
#include <QPixmap>

namespace tokvane {

SystemTrayItem::SystemTrayItem(QObject* parent) : StatusItemBackend(parent) {
  connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
      case QSystemTrayIcon::Trigger:
        Q_EMIT activated(geometry() ? std::optional<QPoint>(geometry()->center()) : std::nullopt);
        break;
      case QSystemTrayIcon::Context:
        showMenu();
        break;
      default:
        break;
    }
  });
}

SystemTrayItem::~SystemTrayItem() = default;

std::optional<QRect> SystemTrayItem::geometry() const {
  const QRect rect = icon_.geometry();
  if (rect.isEmpty()) return std::nullopt;
  return rect;
}

void SystemTrayItem::show(const StatusPresentation& presentation) {
  if (shown_ && *shown_ == presentation) return;
  if (!shown_ || shown_->icon != presentation.icon) {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) icon.addPixmap(QPixmap::fromImage(StatusIconArt::render(presentation.icon, size)));
    icon_.setIcon(icon);
  }
  if (!shown_ || shown_->tooltip != presentation.tooltip) icon_.setToolTip(presentation.tooltip);
  shown_ = presentation;
  icon_.show();
}

void SystemTrayItem::showMenu() {
  // Built for this opening only; the previous one goes with it.
  menu_ = builder_ ? builder_() : nullptr;
  if (!menu_) return;
  const QPoint at = QCursor::pos();
  menu_->popup(at);
  Q_EMIT menuRequested(at);
}

}  // namespace tokvane
