#include "VuroTheme/GlassSurface.hpp"

#include <QPalette>
#include <QVBoxLayout>

#include "VuroTheme/Compositor.hpp"

namespace vuro::GlassSurface {

bool isAvailable() { return false; }

qreal panelCornerRadius() { return isAvailable() ? 22.0 : 14.0; }

qreal floatingShadowMargin() { return isAvailable() ? 28.0 : 0.0; }

VisualEffectView* wrap(QWidget* content, QSize size, qreal cornerRadius, bool masksCorners) {
  auto* view = new VisualEffectView;
  view->resize(size);
  view->setContent(content);
  if (masksCorners) view->setMaskImage(maskImage(cornerRadius));
  return view;
}

MaskImage maskImage(qreal cornerRadius) { return MaskImage::roundedRect(cornerRadius); }

Floating floating(QWidget* content, QSize size, qreal cornerRadius) {
  return Floating{wrap(content, size, cornerRadius, true), size, true};
}

void configure(QWidget& window, QWidget* content, QSize size) {
  if (Compositor::isRunning()) window.setAttribute(Qt::WA_TranslucentBackground);
  auto* view = new VisualEffectView;
  view->resize(size);
  view->setContent(content);
  view->setMovesWindow(true);
  delete window.layout();
  auto* layout = new QVBoxLayout(&window);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(view);
  window.resize(size);
}

void primaryGlassButtonStyle(QPushButton& button) {
  QPalette palette = button.palette();
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    palette.setColor(group, QPalette::Button, palette.color(group, QPalette::Highlight));
    palette.setColor(group, QPalette::ButtonText, palette.color(group, QPalette::HighlightedText));
  }
  button.setPalette(palette);
  button.setFlat(false);
  button.setDefault(true);
}

void secondaryGlassButtonStyle(QPushButton& button) {
  button.setFlat(false);
  button.setDefault(false);
}

VuroCard* vuroCard(QWidget* content, qreal cornerRadius) {
  return new VuroCard(content, cornerRadius);
}

}  // namespace vuro::GlassSurface
