#pragma once

#include <QPointer>
#include <QWidget>
#include <optional>

#include "VuroTheme/MaskImage.hpp"

namespace vuro {

// The surface behind a kit window's or panel's content: the window colour,
// slightly translucent in a translucent window (which a window is only where
// a compositor runs), opaque elsewhere; cut to a mask image when one is set.
// Its content fills it whatever its size. When `movesWindow` is on, dragging
// its background (where no child takes the press) moves the window.
class VisualEffectView : public QWidget {
  Q_OBJECT

 public:
  explicit VisualEffectView(QWidget* parent = nullptr);

  void setContent(QWidget* content);
  QWidget* content() const;

  void setMaskImage(std::optional<MaskImage> mask);
  const std::optional<MaskImage>& maskImage() const;

  void setMovesWindow(bool moves);
  bool movesWindow() const;

  // The colour the surface is painted in, from `palette` (alpha below 255
  // only when `translucent`).
  static QColor materialColor(const QPalette& palette, bool translucent);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  QPointer<QWidget> content_;
  std::optional<MaskImage> mask;
  bool moves = false;
};

}  // namespace vuro
