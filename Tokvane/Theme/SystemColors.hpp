#pragma once

#include "Tokvane/Theme/DynamicColor.hpp"

namespace tokvane {

// The desktop's named colours in both appearances, with the values the
// interface is drawn against (labels as translucent black or white, so they
// read on any background beneath them).
namespace SystemColors {

// Text.
DynamicColor label();
DynamicColor secondaryLabel();
DynamicColor tertiaryLabel();
DynamicColor quaternaryLabel();

// Surfaces.
DynamicColor windowBackground();
DynamicColor controlBackground();
DynamicColor underPageBackground();
DynamicColor separator();
DynamicColor gridLine();
// A control's fill (a track, a badge, a segmented control's face).
DynamicColor fill();
DynamicColor secondaryFill();

// Accents.
DynamicColor red();
DynamicColor orange();
DynamicColor yellow();
DynamicColor green();
DynamicColor mint();
DynamicColor teal();
DynamicColor cyan();
DynamicColor blue();
DynamicColor indigo();
DynamicColor purple();
DynamicColor pink();
DynamicColor brown();
DynamicColor gray();
DynamicColor accent();

}  // namespace SystemColors

}  // namespace tokvane
