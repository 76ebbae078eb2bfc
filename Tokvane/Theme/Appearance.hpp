#pragma once

#include <QPalette>

namespace tokvane {

enum class Appearance { light, dark };

// The appearance a palette stands for: dark when its window colour is dark.
// Views read it from their own palette, so a window (or a screenshot) set to
// a dark palette paints dark whatever the rest of the program shows.
Appearance appearanceOf(const QPalette& palette);

// The Qt palette of an appearance, built from the system colours, for the
// application (and for any widget that must show one appearance).
QPalette paletteFor(Appearance appearance);

}  // namespace tokvane
