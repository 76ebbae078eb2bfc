#pragma once

#include <string_view>

#include "TokvaneCore/Foundation/KeyedJSON.hpp"

namespace tokvane {

// How the last attempt to learn a provider's limits ended.
enum class ProviderStatus { ok, signInNeeded, unreachable, rateLimited, accessDenied, unavailable };

std::string_view caseName(ProviderStatus status);
JSON toJSON(ProviderStatus status);
ProviderStatus providerStatusFromJSON(const JSON& json);

}  // namespace tokvane
