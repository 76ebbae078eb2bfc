#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace tokvane::widgets {

// The three widgets the program hosts.
enum class WidgetKind { small, medium, large };

inline constexpr std::array<WidgetKind, 3> allWidgetKinds = {WidgetKind::small, WidgetKind::medium,
                                                             WidgetKind::large};

// A kind's fixed description: its identifier (stored in the instance file),
// the texts the gallery shows and the size of its window in logical pixels.
struct WidgetKindInfo {
  WidgetKind kind;
  std::string_view identifier;
  std::string_view displayName;
  std::string_view description;
  int width;
  int height;
};

// Space between a widget's edge and its content, on every side.
inline constexpr int contentMargin = 16;

const WidgetKindInfo& info(WidgetKind kind);
// Exactly one of the three identifiers; anything else is none.
std::optional<WidgetKind> widgetKindFromIdentifier(std::string_view identifier);

}  // namespace tokvane::widgets
