#pragma once

#include <string>

namespace tokvane::BuildInfo {

// The program's version as the build set it, or "1.0" when the build set none.
std::string versionText();

// "Tokvane/" followed by the version text; sent with every provider request.
std::string userAgent();

}  // namespace tokvane::BuildInfo
