#pragma once

#include <QPoint>

#include "TokvaneCore/Usage/ProviderID.hpp"
#include "TokvaneWidgets/Views/WidgetView.hpp"

namespace tokvane::widgets {

// One widget on the desktop: a frameless window at its kind's size, below
// other windows, on every workspace, out of the taskbar and pager. It moves
// when dragged; a plain click opens the application, a click on the refresh
// button asks it to refresh; its context menu offers the small widget's
// provider, removal and the gallery.
class DesktopWidgetWindow : public WidgetView {
  Q_OBJECT

 public:
  // `translucent`: rounded corners over a compositor; square otherwise.
  DesktopWidgetWindow(WidgetKind kind, bool translucent);

  // Shows the window with its hints set at the right moment.
  void showOnDesktop(QPoint position);

 signals:
  void moved(QPoint position);
  void refreshClicked();
  void openClicked();
  void providerChosen(ProviderID provider);
  void removeRequested();
  void addRequested();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  QPoint pressGlobal_;
  QPoint pressWindow_;
  bool pressed_ = false;
  bool dragging_ = false;
};

}  // namespace tokvane::widgets
