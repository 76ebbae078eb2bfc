#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace tokvane {

// What the status item shows: the app's icon alone, or a provider's limit.
enum class MenuBarStyle { icon, provider };
inline constexpr std::array<MenuBarStyle, 2> allMenuBarStyles = {MenuBarStyle::icon, MenuBarStyle::provider};

// Whether the statistics show cost or tokens.
enum class SummaryUnit { cost, tokens };
inline constexpr std::array<SummaryUnit, 2> allSummaryUnits = {SummaryUnit::cost, SummaryUnit::tokens};

// The popover's tabs.
enum class PopoverTab { usage, stats, models };
inline constexpr std::array<PopoverTab, 3> allPopoverTabs = {PopoverTab::usage, PopoverTab::stats,
                                                             PopoverTab::models};

// "icon", "provider"; "cost", "tokens"; "usage", "stats", "models".
std::string_view rawValue(MenuBarStyle style);
std::string_view rawValue(SummaryUnit unit);
std::string_view rawValue(PopoverTab tab);

// Exactly the raw values above, byte for byte (letter case counts); anything
// else is none.
std::optional<MenuBarStyle> menuBarStyleFromRawValue(std::string_view raw);
std::optional<SummaryUnit> summaryUnitFromRawValue(std::string_view raw);
std::optional<PopoverTab> popoverTabFromRawValue(std::string_view raw);

}  // namespace tokvane
