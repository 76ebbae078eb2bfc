#include "TokvaneCore/Limits/ProviderStatus.hpp"

namespace tokvane {

using namespace keyed;

std::string_view caseName(ProviderStatus status) {
  switch (status) {
    case ProviderStatus::ok: return "ok";
    case ProviderStatus::signInNeeded: return "signInNeeded";
    case ProviderStatus::unreachable: return "unreachable";
    case ProviderStatus::rateLimited: return "rateLimited";
    case ProviderStatus::accessDenied: return "accessDenied";
    case ProviderStatus::unavailable: return "unavailable";
  }
  return "ok";
}

JSON toJSON(ProviderStatus status) {
  JSON json = JSON::object();
  json[std::string(caseName(status))] = JSON::object();
  return json;
}

ProviderStatus providerStatusFromJSON(const JSON& json) {
  const std::string name = decodeCaseName(
      json, {"ok", "signInNeeded", "unreachable", "rateLimited", "accessDenied", "unavailable"}, "status");
  requireObject(json.at(name), name);
  for (auto status : {ProviderStatus::ok, ProviderStatus::signInNeeded, ProviderStatus::unreachable,
                      ProviderStatus::rateLimited, ProviderStatus::accessDenied, ProviderStatus::unavailable}) {
    if (caseName(status) == name) return status;
  }
  return ProviderStatus::ok;
}

}  // namespace tokvane
