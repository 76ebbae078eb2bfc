#pragma once

#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <functional>
#include <memory>
#include <optional>

#include "Tokvane/StatusItem/StatusIcon.hpp"

namespace tokvane {

// One way of putting the status item on the desktop's panel. The status
// item hands it what to show and hears the user's gestures from it.
class StatusItemBackend : public QObject {
  Q_OBJECT
 public:
  // Builds the status menu afresh for one opening.
  using MenuBuilder = std::function<std::unique_ptr<QMenu>()>;

  ~StatusItemBackend() override = default;

  virtual void setMenuBuilder(MenuBuilder builder) = 0;
  virtual void show(const StatusPresentation& presentation) = 0;
  // Whether a host puts the item on a panel right now.
  virtual bool isHosted() const = 0;
  // Whether the host shows the text beside the icon.
  virtual bool hostShowsLabel() const = 0;
  // The item's geometry on screen, when the host tells it.
  virtual std::optional<QRect> geometry() const { return std::nullopt; }

 Q_SIGNALS:
  // A plain (primary) click; the point where the host says it happened.
  void activated(std::optional<QPoint> point);
  // The host asks for the menu at a point (the backend shows it itself).
  void menuRequested(QPoint point);
  // A scroll over the item: the vertical and the horizontal delta.
  void scrolled(double deltaY, double deltaX);
  // The host came, went, or turned out to show or not show labels.
  void hostChanged();

 protected:
  explicit StatusItemBackend(QObject* parent = nullptr) : QObject(parent) {}
};

}  // namespace tokvane
