#include "TokvaneCore/Foundation/BuildInfo.hpp"

#include <string_view>

namespace tokvane::BuildInfo {

namespace {

#ifdef TOKVANE_VERSION
constexpr std::string_view builtVersion = TOKVANE_VERSION;
#else
constexpr std::string_view builtVersion = "";
#endif

}  // namespace

std::string versionText() { return builtVersion.empty() ? std::string("1.0") : std::string(builtVersion); }

std::string userAgent() { return "Tokvane/" + versionText(); }

}  // namespace tokvane::BuildInfo
