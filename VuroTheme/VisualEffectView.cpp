#include "VuroTheme/VisualEffectView.hpp"

#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace vuro {

VisualEffectView::VisualEffectView(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_NoSystemBackground);
}

void VisualEffectView::setContent(QWidget* content) {
  content_ = content;
  if (content == nullptr) return;
  content->setParent(this);
  content->setGeometry(rect());
  content->show();
}

QWidget* VisualEffectView::content() const { return content_.data(); }

void VisualEffectView::setMaskImage(std::optional<MaskImage> image) {
  mask = std::move(image);
  update();
}

const std::optional<MaskImage>& VisualEffectView::maskImage() const { return mask; }

void VisualEffectView::setMovesWindow(bool value) { moves = value; }

bool VisualEffectView::movesWindow() const { return moves; }

QColor VisualEffectView::materialColor(const QPalette& palette, bool translucent) {
  QColor color = palette.color(QPalette::Active, QPalette::Window);
  if (translucent) color.setAlphaF(0.94f);
  return color;
}

void VisualEffectView::paintEvent(QPaintEvent*) {
  const QColor color =
      materialColor(palette(), window()->testAttribute(Qt::WA_TranslucentBackground));
  QPainter painter(this);
  if (!mask) {
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), color);
    return;
  }
  // The masked surface is made apart, so that cutting its corners never
  // touches what lies beneath the view.
  const qreal ratio = devicePixelRatioF();
  QImage surface(size() * ratio, QImage::Format_ARGB32_Premultiplied);
  surface.setDevicePixelRatio(ratio);
  surface.fill(color);
  {
    QPainter cut(&surface);
    cut.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    mask->draw(cut, QRect(QPoint(0, 0), size()));
  }
  painter.drawImage(QPoint(0, 0), surface);
}

void VisualEffectView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (content_ != nullptr) content_->setGeometry(rect());
}

void VisualEffectView::mousePressEvent(QMouseEvent* event) {
  if (moves && event->button() == Qt::LeftButton) {
    if (QWindow* handle = window()->windowHandle(); handle != nullptr && handle->startSystemMove()) {
      event->accept();
      return;
    }
  }
  QWidget::mousePressEvent(event);
}

}  // namespace vuro
