#pragma once

#include <optional>

#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneCore/Limits/ProviderStatus.hpp"

namespace tokvane {

// Timing rules for live-limit fetches, in seconds.
struct RefreshPolicy {
  // The normal delay between fetches, and the floor of every delay.
  static constexpr double minInterval = 300;
  // Age after which opening the popover asks for a fresh fetch.
  static constexpr double openStaleness = 60;
  // The ceiling of the delay after failures.
  static constexpr double maxBackoff = 1800;

  // After unreachable or rateLimited answers the delay doubles (600, 1200,
  // then 1800 at most, never under 300); after anything else it is 300.
  static double nextDelay(ProviderStatus status, double previousDelay);

  // No within 300 s of the last attempt (or when that attempt lies in the
  // future); otherwise yes when nothing was ever fetched or the last fetch
  // is more than 60 s old.
  static bool shouldRefreshOnOpen(std::optional<Date> lastFetch, std::optional<Date> lastAttempt, Date now);
};

}  // namespace tokvane
