#pragma once

#include <vector>

#include "TokvaneCore/Limits/ProviderLimits.hpp"
#include "TokvaneCore/Usage/ProviderID.hpp"

namespace tokvane {

// What the limits service sees of the application model: the providers it
// may schedule (the enabled providers found on disk, in the user's order) and
// the handler that keeps each provider's limits. Called on the main thread.
class LimitsServiceClient {
 public:
  virtual ~LimitsServiceClient() = default;
  virtual std::vector<ProviderID> present() const = 0;
  virtual void limitsDidUpdate(ProviderID id, const ProviderLimits& limits) = 0;
};

}  // namespace tokvane
