#include "Tokvane/Engine/Settings/PreferenceValues.hpp"

namespace tokvane {

namespace {

template <typename Value, size_t N>
std::optional<Value> fromRawValue(const std::array<Value, N>& all, std::string_view raw) {
  for (Value value : all) {
    if (rawValue(value) == raw) return value;
  }
  return std::nullopt;
}

}  // namespace

std::string_view rawValue(MenuBarStyle style) {
  switch (style) {
    case MenuBarStyle::icon: return "icon";
    case MenuBarStyle::provider: return "provider";
  }
  return "provider";
}

std::string_view rawValue(SummaryUnit unit) {
  switch (unit) {
    case SummaryUnit::cost: return "cost";
    case SummaryUnit::tokens: return "tokens";
  }
  return "cost";
}

std::string_view rawValue(PopoverTab tab) {
  switch (tab) {
    case PopoverTab::usage: return "usage";
    case PopoverTab::stats: return "stats";
    case PopoverTab::models: return "models";
  }
  return "usage";
}

std::optional<MenuBarStyle> menuBarStyleFromRawValue(std::string_view raw) {
  return fromRawValue(allMenuBarStyles, raw);
}

std::optional<SummaryUnit> summaryUnitFromRawValue(std::string_view raw) {
  return fromRawValue(allSummaryUnits, raw);
}

std::optional<PopoverTab> popoverTabFromRawValue(std::string_view raw) {
  return fromRawValue(allPopoverTabs, raw);
}

}  // namespace tokvane
