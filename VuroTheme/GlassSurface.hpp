#pragma once

#include <QPushButton>
#include <QSize>
#include <QWidget>

#include "VuroTheme/FloatingShadowContainer.hpp"
#include "VuroTheme/MaskImage.hpp"
#include "VuroTheme/VisualEffectView.hpp"
#include "VuroTheme/VuroCard.hpp"

namespace vuro {

// How the kit's windows, panels and buttons look. Every choice goes through
// one test, `isAvailable`: whether the desktop offers the system's glass
// material. No Linux desktop does, so the surfaces here are the plain
// material (VisualEffectView) and the bordered buttons.
namespace GlassSurface {

bool isAvailable();

// The default corner radius of a panel (22 with glass, else 14).
qreal panelCornerRadius();
// The room kept around a panel's surface for a drawn shadow (28 with glass,
// else 0: the window's own shadow is used).
qreal floatingShadowMargin();

// The surface to install in place of `content`, which becomes its child and
// fills it: `size`, cut to rounded corners of `cornerRadius` when
// `masksCorners`.
VisualEffectView* wrap(QWidget* content, QSize size, qreal cornerRadius, bool masksCorners);

// The stretchable rounded-rectangle mask of a surface.
MaskImage maskImage(qreal cornerRadius);

// A floating panel's content: the view to install, the size the panel's
// content must have, and whether the panel keeps its own window shadow.
// Without glass it is the masked surface at the content's size, with the
// window's shadow (FloatingShadowContainer draws the shadow where the
// window's cannot be used).
struct Floating {
  QWidget* view;
  QSize size;
  bool wantsWindowShadow;
};
Floating floating(QWidget* content, QSize size, qreal cornerRadius);

// Styles a kit window (translucent where a compositor runs, moved by
// dragging its background) and installs `content` on the surface, the window's
// content being `size`. The window manager's frame, with its close button,
// stays.
void configure(QWidget& window, QWidget* content, QSize size);

// The button styles: the prominent one (filled with the accent colour) for a
// window's main action, the bordered one for the others.
void primaryGlassButtonStyle(QPushButton& button);
void secondaryGlassButtonStyle(QPushButton& button);

// `content` on a faint rounded card (independent of the test above).
VuroCard* vuroCard(QWidget* content, qreal cornerRadius);

}  // namespace GlassSurface

}  // namespace vuro
