#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tokvane {

// The short texts in which money, token counts, shares and time spans are
// shown. Numbers always follow the en_US_POSIX conventions (a point as the
// decimal separator, "," grouping in usd only) whatever the process locale:
// nothing here goes through a locale-aware printf or stream.
// All functions are pure and thread-safe.
namespace MeterFormat {

// The largest number of days a countdown shows.
inline constexpr int maxCountdownDays = 9999;

// "$1,234.57", "$-2.50", "<$0.01" for 0 < value < 0.01, "—" when absent.
std::string usd(std::optional<double> value);

// "999", "1.23K", "99.9K", "100K", "1.00M", "12.3B".
std::string tokens(int64_t value);

// A fraction (1.0 = all) as "0%", "<0.1%" or "12.3%".
std::string share(double fraction);

// Seconds as "now", "<1m", "59m", "1h 0m", "1d 0h", capped at "9999d 0h"; "—" when not finite.
std::string countdown(double seconds);

}  // namespace MeterFormat

}  // namespace tokvane
