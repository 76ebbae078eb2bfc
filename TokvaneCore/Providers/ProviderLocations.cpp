#include "TokvaneCore/Providers/ProviderLocations.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace tokvane {

namespace {

bool pathExists(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

std::filesystem::path currentHome() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir) {
    return found->pw_dir;
  }
  return "/";
}

}  // namespace

const ProviderLocations& ProviderLocations::live() {
  static const ProviderLocations shared(currentHome());
  return shared;
}

bool ProviderLocations::isPresent(ProviderID provider) const {
  switch (provider) {
    case ProviderID::claude: return pathExists(claudeProjects());
    case ProviderID::codex: return pathExists(codexSessions()[0]) || pathExists(codexAuthFile());
    case ProviderID::grok: return pathExists(grokSessions());
    case ProviderID::cursor: return pathExists(cursorStateDB());
  }
  return false;
}

}  // namespace tokvane
