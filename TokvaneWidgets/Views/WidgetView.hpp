#pragma once

#include <QWidget>
#include <string>
#include <vector>

#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneWidgets/Display/WidgetModel.hpp"

namespace tokvane::widgets {

// Paints one widget's model at its kind's size, times `scale` (the gallery
// shows smaller previews). It repaints only when what it shows changed: a
// new model, or a running countdown whose text moved with the clock.
class WidgetView : public QWidget {
  Q_OBJECT

 public:
  explicit WidgetView(WidgetKind kind, QWidget* parent = nullptr, qreal scale = 1.0);

  WidgetKind kind() const { return kind_; }
  const WidgetModel& model() const { return model_; }

  // Both return whether the view will repaint.
  bool setModel(WidgetModel model, Date clock);
  bool setClock(Date clock);

  void setRoundedCorners(bool rounded);
  bool roundedCorners() const { return rounded_; }

  // How many times the view painted (for the tests of "repaint only on change").
  int paintCount() const { return paints_; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  // The refresh button's rectangle in the view's coordinates.
  QRectF refreshButtonRect() const;

 private:
  std::vector<std::string> clockTexts(Date clock) const;

  WidgetKind kind_;
  qreal scale_;
  WidgetModel model_;
  Date clock_;
  std::vector<std::string> shownTexts_;
  std::vector<QRectF> clockLines_;  // from the last paint, in the view's coordinates
  bool painted_ = false;            // whether clockLines_ matches the model
  bool rounded_ = true;
  int paints_ = 0;
};

}  // namespace tokvane::widgets
