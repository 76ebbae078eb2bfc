#pragma once

// Stand-ins for the network and the stored logins, driven by the fuzz input.

#include <cstdint>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "TokvaneCore/Credentials/CredentialSource.hpp"
#include "TokvaneCore/Net/HTTPClient.hpp"

namespace tokvane::fuzz {

// Answers every request with one canned response, or fails in transport.
class CannedHTTPClient final : public HTTPClient {
 public:
  HTTPResponse response;
  bool transportFailure = false;
  std::vector<HTTPRequest> sent;

  HTTPResponse send(const HTTPRequest& request) override {
    sent.push_back(request);
    if (transportFailure) throw HTTPTransportError("the connection was refused");
    return response;
  }
};

// Gives one secret for every Keychain item and one content for every file,
// or the credential error set in their place.
class CannedCredentialSource final : public CredentialSource {
 public:
  using Answer = std::variant<std::string, CredentialError::Kind>;
  Answer secret = CredentialError::Kind::notFound;
  Answer fileContent = CredentialError::Kind::notFound;

  std::string keychainSecret(const std::string&) override { return give(secret); }
  std::string file(const std::filesystem::path&) override { return give(fileContent); }

 private:
  static std::string give(const Answer& answer) {
    if (const auto* text = std::get_if<std::string>(&answer)) return *text;
    throw CredentialError(std::get<CredentialError::Kind>(answer));
  }
};

// A status code worth trying, picked by one input byte.
inline int statusCode(uint8_t choice) {
  static constexpr int codes[] = {200, 201, 204, 299, 300, 302, 304, 400, 401, 403, 404, 429, 500, 503, 199, 0};
  return codes[choice % std::size(codes)];
}

inline bool isSuccess(int status) { return status >= 200 && status <= 299; }

}  // namespace tokvane::fuzz
