#include "TokvaneCore/Providers/CursorProvider.hpp"

namespace tokvane {

CursorProvider::CursorProvider(std::shared_ptr<CredentialSource>, std::shared_ptr<HTTPClient>,
                               const std::filesystem::path&) {}

ProviderLimits CursorProvider::fetch(Date now) {
  ProviderLimits limits;
  limits.status = ProviderStatus::unavailable;
  limits.fetchedAt = now;
  return limits;
}

std::vector<UsageEvent> CursorProvider::usageEvents(Date) const { return {}; }

}  // namespace tokvane
