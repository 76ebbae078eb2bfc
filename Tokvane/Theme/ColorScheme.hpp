#pragma once

#include <QPalette>
#include <cstdint>
#include <optional>

#include "Tokvane/Theme/Appearance.hpp"

namespace tokvane {

// The appearance the desktop asks for: the colour-scheme setting when it
// states one (1 dark, 2 light), else the lightness of the desktop's own
// palette (no preference, no portal, or a value we do not know).
Appearance appearanceForColorScheme(std::optional<uint32_t> scheme, const QPalette& desktopPalette);

}  // namespace tokvane
