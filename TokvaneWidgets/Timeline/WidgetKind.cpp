#include "TokvaneWidgets/Timeline/WidgetKind.hpp"

namespace tokvane::widgets {

namespace {

constexpr std::array<WidgetKindInfo, 3> kinds = {{
    {WidgetKind::small, "app.tokvane.small", "Provider limits", "Session and weekly limits for one provider.", 170,
     170},
    {WidgetKind::medium, "app.tokvane.medium", "All providers", "The tightest limits of every provider you track.",
     364, 170},
    {WidgetKind::large, "app.tokvane.large", "Limits and cost",
     "Every provider's limits, with what the last 30 days would cost at API prices.", 364, 382},
}};

}  // namespace

const WidgetKindInfo& info(WidgetKind kind) { return kinds[static_cast<size_t>(kind)]; }

std::optional<WidgetKind> widgetKindFromIdentifier(std::string_view identifier) {
  for (const auto& entry : kinds) {
    if (entry.identifier == identifier) return entry.kind;
  }
  return std::nullopt;
}

}  // namespace tokvane::widgets
