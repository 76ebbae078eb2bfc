#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "TokvaneCore/Credentials/CredentialSource.hpp"
#include "TokvaneCore/Net/HTTPClient.hpp"
#include "TokvaneCore/Providers/LimitsProvider.hpp"

namespace tokvane {

class UsageStore;

// Codex's live limits. Codex writes its own rate-limit readings into its
// logs and the indexer keeps the newest in the store; good limits stored at
// most 600 s ago are answered as they are, without a request. Otherwise the
// login in "auth.json" is checked for expiry and the usage endpoint asked;
// when that fails and older limits are stored, those come back marked stale
// with the failure's status. The login is sent to the provider's own address
// only. Immutable; the store serialises its own access.
class CodexLimitsProvider final : public LimitsProvider {
 public:
  static constexpr std::string_view defaultBaseURL = "https://chatgpt.com";
  static constexpr std::string_view usagePath = "/backend-api/wham/usage";
  // How old stored limits may be and still be answered without a request.
  static constexpr double storedLimitsFreshness = 600;

  // Without an HTTP client the provider never goes to the network.
  // `baseURL` is the scheme and host the usage path is appended to.
  CodexLimitsProvider(UsageStore& store, std::shared_ptr<CredentialSource> credentials,
                      std::shared_ptr<HTTPClient> http, std::filesystem::path codexHome,
                      std::string baseURL = std::string(defaultBaseURL));

  ProviderID id() const override { return ProviderID::codex; }
  ProviderLimits fetch(Date now) override;

  // The expiry a JSON Web Token's payload states in "exp"; none when the
  // token is not such a token or states none. The signature is not checked.
  static std::optional<Date> tokenExpiry(std::string_view token);

 private:
  ProviderLimits fetchRemote(Date now);

  UsageStore& store_;
  std::shared_ptr<CredentialSource> credentials_;
  std::shared_ptr<HTTPClient> http_;
  const std::filesystem::path codexHome_;
  const std::string endpoint_;
};

}  // namespace tokvane
