#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include "TokvaneCore/Credentials/CredentialSource.hpp"
#include "TokvaneCore/Net/HTTPClient.hpp"
#include "TokvaneCore/Providers/LimitsProvider.hpp"
#include "TokvaneCore/Usage/UsageEvent.hpp"

namespace tokvane {

// Cursor is only detected: no live limits (every fetch answers unavailable
// at once) and, through the indexer's import hook, no usage events.
class CursorProvider final : public LimitsProvider {
 public:
  CursorProvider() = default;
  // The arguments are accepted for symmetry with the other providers and not kept.
  CursorProvider(std::shared_ptr<CredentialSource> credentials, std::shared_ptr<HTTPClient> http,
                 const std::filesystem::path& stateDB);

  ProviderID id() const override { return ProviderID::cursor; }
  ProviderLimits fetch(Date now) override;

  // Usage events since a date: always none.
  std::vector<UsageEvent> usageEvents(Date since) const;
};

}  // namespace tokvane
