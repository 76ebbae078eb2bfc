#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "TokvaneCore/Credentials/CredentialSource.hpp"
#include "TokvaneCore/Net/HTTPClient.hpp"
#include "TokvaneCore/Providers/LimitsProvider.hpp"

namespace tokvane {

// Claude Code's live limits: reads the OAuth login that Claude Code stored
// (a Keychain-style item), checks its expiry, asks the usage endpoint and
// maps the answer to a "Session" window, a "Weekly" window, one weekly
// window per model with its own limit, and the extra-usage allowance.
// The login is sent to the provider's own address only. Immutable.
class ClaudeLimitsProvider final : public LimitsProvider {
 public:
  static constexpr std::string_view keychainService = "Claude Code-credentials";
  static constexpr std::string_view defaultBaseURL = "https://api.anthropic.com";
  static constexpr std::string_view usagePath = "/api/oauth/usage";
  static constexpr std::string_view betaHeaderValue = "oauth-2025-04-20";

  // `baseURL` is the scheme and host the usage path is appended to.
  ClaudeLimitsProvider(std::shared_ptr<CredentialSource> credentials, std::shared_ptr<HTTPClient> http,
                       std::string baseURL = std::string(defaultBaseURL));

  ProviderID id() const override { return ProviderID::claude; }
  ProviderLimits fetch(Date now) override;

  // What a 2xx answer says.
  struct Usage {
    std::vector<LimitWindow> windows;
    std::optional<Credits> credits;
  };
  // Reads an answer's body; none when it is not a JSON object of the
  // expected shape (a present value of the wrong type included).
  static std::optional<Usage> readUsage(std::string_view body);

 private:
  ProviderLimits fetchUnguarded(Date now);

  std::shared_ptr<CredentialSource> credentials_;
  std::shared_ptr<HTTPClient> http_;
  const std::string endpoint_;
};

}  // namespace tokvane
