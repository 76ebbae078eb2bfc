#pragma once

#include <optional>
#include <string>

#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneCore/Usage/ProviderID.hpp"
#include "TokvaneCore/Usage/TokenCounts.hpp"

namespace tokvane {

// One unit of usage read from a tool's log. Two events with the same
// dedupKey are the same usage; the ledger counts only the first it sees.
struct UsageEvent {
  ProviderID provider = ProviderID::claude;
  std::string model;
  std::string sessionID;
  std::string dedupKey;
  Date timestamp;
  TokenCounts tokens;
  // A cost in USD the log itself reported (only Grok logs carry one).
  std::optional<double> reportedCostUSD;

  friend bool operator==(const UsageEvent&, const UsageEvent&) = default;
};

}  // namespace tokvane
