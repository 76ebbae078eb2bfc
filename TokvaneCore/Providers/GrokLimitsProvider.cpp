#include "TokvaneCore/Providers/GrokLimitsProvider.hpp"

namespace tokvane {

GrokLimitsProvider::GrokLimitsProvider(std::shared_ptr<CredentialSource>, std::shared_ptr<HTTPClient>,
                                       const std::filesystem::path&) {}

ProviderLimits GrokLimitsProvider::fetch(Date now) {
  ProviderLimits limits;
  limits.status = ProviderStatus::unavailable;
  limits.fetchedAt = now;
  return limits;
}

}  // namespace tokvane
