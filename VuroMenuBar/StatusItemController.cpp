#include "VuroMenuBar/StatusItemController.hpp"

#include <QCursor>
#include <QIcon>

namespace vuro {

StatusItemController::StatusItemController(const QString& symbolName,
                                           const QString& accessibilityDescription,
                                           std::function<void(QMenu&)> build, QObject* parent)
    : QObject(parent),
      item(std::make_unique<QSystemTrayIcon>()),
      menu(std::make_unique<QMenu>()),
      build(std::move(build)) {
  if (QIcon::hasThemeIcon(symbolName)) item->setIcon(QIcon::fromTheme(symbolName));
  item->setToolTip(accessibilityDescription);
  connect(menu.get(), &QMenu::aboutToShow, this, [this] { menuNeedsUpdate(*menu); });
  item->setContextMenu(menu.get());
  // A left click opens the same menu as the context click.
  connect(item.get(), &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger) menu->popup(QCursor::pos());
          });
  if (!item->icon().isNull()) item->show();
}

StatusItemController::~StatusItemController() { item->hide(); }

bool StatusItemController::isVisible() const { return item->isVisible(); }

void StatusItemController::setVisible(bool visible) { item->setVisible(visible); }

void StatusItemController::menuNeedsUpdate(QMenu& target) {
  target.clear();
  if (build) build(target);
}

}  // namespace vuro
