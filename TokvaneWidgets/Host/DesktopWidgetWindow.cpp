#include "TokvaneWidgets/Host/DesktopWidgetWindow.hpp"

#include <QActionGroup>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>

#include "TokvaneWidgets/Host/WindowHints.hpp"

namespace tokvane::widgets {

DesktopWidgetWindow::DesktopWidgetWindow(WidgetKind kind, bool translucent) : WidgetView(kind, nullptr) {
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnBottomHint);
  setWindowTitle(QString::fromUtf8(info(kind).displayName.data(), static_cast<qsizetype>(info(kind).displayName.size())));
  if (translucent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
  }
  setRoundedCorners(translucent);
  setAttribute(Qt::WA_ShowWithoutActivating);
}

void DesktopWidgetWindow::showOnDesktop(QPoint position) {
  move(position);
  winId();  // the native window exists from here on; hints set before this are lost
  WindowHints::setBeforeShow(*this);
  show();
  WindowHints::requestAfterShow(*this);
}

void DesktopWidgetWindow::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return WidgetView::mousePressEvent(event);
  pressed_ = true;
  dragging_ = false;
  pressGlobal_ = event->globalPosition().toPoint();
  pressWindow_ = pos();
}

void DesktopWidgetWindow::mouseMoveEvent(QMouseEvent* event) {
  if (!pressed_) return;
  const QPoint delta = event->globalPosition().toPoint() - pressGlobal_;
  if (!dragging_ && delta.manhattanLength() < QApplication::startDragDistance()) return;
  dragging_ = true;
  move(pressWindow_ + delta);
}

void DesktopWidgetWindow::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !pressed_) return WidgetView::mouseReleaseEvent(event);
  pressed_ = false;
  if (dragging_) {
    dragging_ = false;
    emit moved(pos());
    return;
  }
  if (refreshButtonRect().contains(event->position())) {
    emit refreshClicked();
  } else {
    emit openClicked();
  }
}

void DesktopWidgetWindow::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  if (kind() == WidgetKind::small) {
    QMenu* providers = menu.addMenu(QStringLiteral("Provider"));
    auto* group = new QActionGroup(providers);
    for (ProviderID provider : allProviders) {
      const auto name = displayName(provider);
      QAction* action = providers->addAction(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
      action->setCheckable(true);
      action->setChecked(provider == model().provider);
      group->addAction(action);
      connect(action, &QAction::triggered, this, [this, provider] { emit providerChosen(provider); });
    }
    menu.addSeparator();
  }
  connect(menu.addAction(QStringLiteral("Remove Widget")), &QAction::triggered, this,
          &DesktopWidgetWindow::removeRequested);
  connect(menu.addAction(QStringLiteral("Add Widget\u2026")), &QAction::triggered, this,
          &DesktopWidgetWindow::addRequested);
  menu.exec(event->globalPos());
}

}  // namespace tokvane::widgets
