#pragma once

#include <chrono>
#include <optional>

namespace tokvane {

// What a click on the status item does to the popover.
enum class PopoverToggle { nothing, close, show };

// The reopen guard: the click that closed the popover (an outside click
// closes it on the press, and the status item is outside it) must not open
// it again. A click more than `reopenGuard` after the last close opens it.
// Measured on the monotonic clock, so a wall clock set back cannot swallow
// clicks for the length of the jump.
inline constexpr std::chrono::milliseconds reopenGuard{300};

PopoverToggle popoverToggle(bool isShown, std::optional<std::chrono::steady_clock::time_point> closedAt,
                            std::chrono::steady_clock::time_point now);

}  // namespace tokvane
