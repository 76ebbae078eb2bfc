#pragma once

#include "TokvaneCore/Usage/ProviderID.hpp"
#include "TokvaneWidgets/Timeline/WidgetKind.hpp"

namespace tokvane::widgets {

// One widget the user placed on the desktop: its kind, its window's top
// left corner in screen coordinates and, for the small widget, the chosen
// provider (claude until the user picks another).
struct WidgetInstance {
  WidgetKind kind = WidgetKind::small;
  int x = 0;
  int y = 0;
  ProviderID provider = ProviderID::claude;

  friend bool operator==(const WidgetInstance&, const WidgetInstance&) = default;
};

}  // namespace tokvane::widgets
