#pragma once

#include <optional>
#include <string>
#include <vector>

#include "TokvaneCore/Limits/Credits.hpp"
#include "TokvaneCore/Limits/LimitWindow.hpp"
#include "TokvaneCore/Limits/ProviderStatus.hpp"

namespace tokvane {

// What is known of one provider's limits; keyed by ProviderID by whoever holds it.
struct ProviderLimits {
  std::optional<std::string> plan;
  std::vector<LimitWindow> windows;
  std::optional<Credits> credits;
  ProviderStatus status = ProviderStatus::ok;
  Date fetchedAt;

  // A copy whose live and local windows become stale as of fetchedAt;
  // windows already stale keep their own time.
  ProviderLimits markedStale() const;

  friend bool operator==(const ProviderLimits&, const ProviderLimits&) = default;

  JSON toJSON(DateCoding coding) const;
  static ProviderLimits fromJSON(const JSON& json, DateCoding coding);
};

}  // namespace tokvane
