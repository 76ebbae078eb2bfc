#pragma once

#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneCore/Limits/ProviderLimits.hpp"
#include "TokvaneCore/Usage/ProviderID.hpp"

namespace tokvane {

// One provider's source of live rate limits. fetch never throws: every
// failure is a ProviderStatus in the returned record, whose fetchedAt is
// `now` (except limits the Codex provider kept from earlier). It may block
// on a child process or the network, so callers run it off the main thread,
// possibly for several providers, or several times, at once.
class LimitsProvider {
 public:
  virtual ~LimitsProvider() = default;
  virtual ProviderID id() const = 0;
  virtual ProviderLimits fetch(Date now) = 0;
};

}  // namespace tokvane
