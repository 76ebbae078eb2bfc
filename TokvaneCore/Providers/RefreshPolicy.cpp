#include "TokvaneCore/Providers/RefreshPolicy.hpp"

#include <algorithm>

namespace tokvane {

double RefreshPolicy::nextDelay(ProviderStatus status, double previousDelay) {
  if (status != ProviderStatus::unreachable && status != ProviderStatus::rateLimited) return minInterval;
  const double doubled = previousDelay * 2;
  // Written so that a NaN previous delay lands on the ceiling, not on NaN.
  const double capped = doubled <= maxBackoff ? doubled : maxBackoff;
  return std::max(capped, minInterval);
}

bool RefreshPolicy::shouldRefreshOnOpen(std::optional<Date> lastFetch, std::optional<Date> lastAttempt, Date now) {
  if (lastAttempt && now - *lastAttempt < minInterval) return false;
  if (!lastFetch) return true;
  return now - *lastFetch > openStaleness;
}

}  // namespace tokvane
