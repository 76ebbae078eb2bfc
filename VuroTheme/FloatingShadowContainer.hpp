#pragma once

#include <QImage>
#include <QPainterPath>
#include <QWidget>

namespace vuro {

// A view that draws a soft drop shadow around a rounded rectangle inset from
// its edges by `margin`, for a borderless panel whose window shadow is off:
// black at opacity 0.28, blurred over 18 pixels, 8 pixels down. The shadow
// is cut away inside the rounded rectangle (an even-odd mask of the bounds and
// the rectangle), so it shows around the panel's surface, never through it.
// Margin and corner radius are fixed at creation; the shadow follows every
// change of size.
class FloatingShadowContainer : public QWidget {
  Q_OBJECT

 public:
  FloatingShadowContainer(const QRect& frame, qreal margin, qreal cornerRadius,
                          QWidget* parent = nullptr);

  qreal margin() const;
  qreal cornerRadius() const;

  static constexpr qreal shadowOpacity = 0.28;
  static constexpr qreal shadowRadius = 18.0;
  static constexpr QPointF shadowOffset{0.0, 8.0};

  // The rounded rectangle the shadow is cast by, and the mask that keeps only
  // what lies outside it.
  const QPainterPath& shadowPath() const;
  const QPainterPath& shadowMask() const;

  // Re-makes the paths and the shadow for the current size (every resize
  // does it).
  void updateShadowPath();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  qreal margin_;
  qreal cornerRadius_;
  QPainterPath path;
  QPainterPath mask;
  QImage shadow;
};

}  // namespace vuro
