#pragma once

#include <QColor>
#include <QImage>
#include <QPalette>

class QWidget;

#include "Tokvane/Theme/Appearance.hpp"
#include "TokvaneCore/Usage/ProviderID.hpp"

namespace tokvane {

// What the summary views share of the providers' look.
namespace StatsStyle {

// The provider's accent in an appearance: Claude's clay, or the label
// colours that Codex, Grok and Cursor stand for.
QColor accent(ProviderID provider, Appearance appearance);

// The provider's logo, `size` logical pixels square at `devicePixelRatio`,
// in `tint`. A null image when the logo did not load.
QImage logo(ProviderID provider, qreal size, const QColor& tint, qreal devicePixelRatio);

// Tells the widget and every widget above it that their sizes may have
// changed, so the natural height of the tab is right at once (without
// waiting for the event loop's layout pass).
void relayoutFrom(QWidget* widget);

}  // namespace StatsStyle

}  // namespace tokvane
