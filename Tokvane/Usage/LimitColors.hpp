#pragma once

#include <QColor>

#include "Tokvane/Theme/DynamicColor.hpp"
#include "TokvaneCore/Presentation/ProviderDisplay.hpp"

namespace tokvane {

// A colour that is `dark` in the dark appearance and `light` in every other.
DynamicColor dynamicColor(QColor dark, QColor light);

// The shared colours of the limit views (cards, bars, pills, markers).
namespace LimitColors {

// The limit card's background and 1-pixel border.
DynamicColor cardFill();
DynamicColor cardBorder();
// The reset pill inside the bar, and the time-left marker.
DynamicColor resetPillFill();
DynamicColor timeMarker();

}  // namespace LimitColors

// A provider's accent for the interface: its fixed colour, or the label
// colours for the primary and secondary roles.
DynamicColor accentColor(const AccentColor& accent);
DynamicColor accentColor(ProviderID provider);

}  // namespace tokvane
