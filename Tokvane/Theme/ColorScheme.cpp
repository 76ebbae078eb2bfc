#include "Tokvane/Theme/ColorScheme.hpp"

namespace tokvane {

Appearance appearanceForColorScheme(std::optional<uint32_t> scheme, const QPalette& desktopPalette) {
  if (scheme == 1u) return Appearance::dark;
  if (scheme == 2u) return Appearance::light;
  return appearanceOf(desktopPalette);
}

}  // namespace tokvane
