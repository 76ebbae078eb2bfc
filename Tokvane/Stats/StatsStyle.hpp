#pragma once

#include <QColor>
#include <QImage>
#include <QPalette>

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

}  // namespace StatsStyle

}  // namespace tokvane
