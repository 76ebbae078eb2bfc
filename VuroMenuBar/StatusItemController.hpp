#pragma once

#include <QMenu>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>

namespace vuro {

// A self-contained tray item whose every click opens a menu, filled afresh by
// `build` each time it is about to open. The icon is the icon theme's icon of
// `symbolName` (no icon when the theme has none); the accessibility
// description is the item's tooltip. Destroying the controller removes the
// item from the panel.
class StatusItemController : public QObject {
  Q_OBJECT

 public:
  StatusItemController(const QString& symbolName, const QString& accessibilityDescription,
                       std::function<void(QMenu&)> build, QObject* parent = nullptr);
  ~StatusItemController() override;

  bool isVisible() const;
  void setVisible(bool visible);

  // Empties `menu`, then lets `build` fill it.
  void menuNeedsUpdate(QMenu& menu);

 private:
  std::unique_ptr<QSystemTrayIcon> item;
  std::unique_ptr<QMenu> menu;

 public:
  std::function<void(QMenu&)> build;
};

}  // namespace vuro
