// The kit's surfaces: a floating panel cut to its corner radius over a
// backdrop that shows the cut, holding a card and the two button styles; and
// a kit window's surface with its content.

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

#include "Tokvane/Theme/Fonts.hpp"
#include "VuroTheme/GlassSurface.hpp"
#include "tools/screenshots/Scene.hpp"

namespace tokvane::screenshots {
namespace {

QWidget* panelContent() {
  auto* content = new QWidget;
  auto* column = new QVBoxLayout(content);
  column->setContentsMargins(16, 16, 16, 16);
  column->setSpacing(12);
  auto* cardText = new QLabel(QStringLiteral("A card holds a group of settings."));
  cardText->setFont(Fonts::system(13));
  cardText->setContentsMargins(12, 12, 12, 12);
  cardText->setWordWrap(true);
  column->addWidget(vuro::GlassSurface::vuroCard(cardText, 10));
  column->addStretch(1);
  auto* buttons = new QHBoxLayout;
  auto* back = new QPushButton(QStringLiteral("Back"));
  auto* next = new QPushButton(QStringLiteral("Continue"));
  vuro::GlassSurface::secondaryGlassButtonStyle(*back);
  vuro::GlassSurface::primaryGlassButtonStyle(*next);
  buttons->addStretch(1);
  buttons->addWidget(back);
  buttons->addWidget(next);
  column->addLayout(buttons);
  return content;
}

// A mid-grey backdrop, so that a panel's cut corners show.
class Backdrop : public QWidget {
 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), QColor(0xb8, 0xb8, 0xbc)); }
};

QImage renderFloatingPanel(Appearance appearance) {
  Backdrop backdrop;
  backdrop.resize(340, 240);
  const auto floating = vuro::GlassSurface::floating(panelContent(), QSize(300, 200),
                                                     vuro::GlassSurface::panelCornerRadius());
  floating.view->setParent(&backdrop);
  floating.view->move(20, 20);
  floating.view->show();
  QImage image = grabWidget(backdrop, appearance);
  return image;
}

QImage renderWindowSurface(Appearance appearance) {
  QWidget window;
  vuro::GlassSurface::configure(window, panelContent(), QSize(360, 220));
  return grabWidget(window, appearance);
}

// The drawn shadow of a borderless panel, around a surface in its margin.
QImage renderShadowContainer(Appearance appearance) {
  Backdrop backdrop;
  backdrop.resize(356, 256);
  auto* container = new vuro::FloatingShadowContainer(QRect(0, 0, 356, 256), 28, 14, &backdrop);
  auto* surface = vuro::GlassSurface::wrap(panelContent(), QSize(300, 200), 14, true);
  surface->setParent(container);
  surface->move(28, 28);
  return grabWidget(backdrop, appearance);
}

SceneRegistration shadowContainer("kit-shadow-container", renderShadowContainer);
SceneRegistration floatingPanel("kit-floating-panel", renderFloatingPanel);
SceneRegistration windowSurface("kit-window-surface", renderWindowSurface);

}  // namespace
}  // namespace tokvane::screenshots
