#pragma once

#include <filesystem>
#include <memory>

#include "TokvaneCore/Credentials/CredentialSource.hpp"
#include "TokvaneCore/Net/HTTPClient.hpp"
#include "TokvaneCore/Providers/LimitsProvider.hpp"

namespace tokvane {

// Grok offers no live limits: every fetch answers unavailable at once.
class GrokLimitsProvider final : public LimitsProvider {
 public:
  GrokLimitsProvider() = default;
  // The arguments are accepted for symmetry with the other providers and not kept.
  GrokLimitsProvider(std::shared_ptr<CredentialSource> credentials, std::shared_ptr<HTTPClient> http,
                     const std::filesystem::path& grokHome);

  ProviderID id() const override { return ProviderID::grok; }
  ProviderLimits fetch(Date now) override;
};

}  // namespace tokvane
