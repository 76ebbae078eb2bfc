#pragma once

#include <QImage>
#include <QMargins>
#include <QPainter>
#include <QRect>

namespace vuro {

// A stretchable mask: a small image whose corners (the cap insets) keep their
// shape while only the middle stretches over a larger area.
struct MaskImage {
  QImage image;
  QMargins capInsets;
  qreal cornerRadius = 0;

  // Black rounded rectangle over the whole (2r + 1) x (2r + 1) image, corner
  // radius r, cap insets r on every side.
  static MaskImage roundedRect(qreal cornerRadius, qreal devicePixelRatio = 1.0);

  // Draws the mask stretched over `target` (in logical pixels), drawn afresh
  // at the painter's resolution when it differs from the image's.
  void draw(QPainter& painter, const QRect& target) const;

  // The logical size of the image.
  QSize size() const;

  bool operator==(const MaskImage&) const = default;
};

}  // namespace vuro
