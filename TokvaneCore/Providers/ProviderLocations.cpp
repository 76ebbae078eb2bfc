#include "TokvaneCore/Providers/ProviderLocations.hpp"

#include "TokvaneCore/Foundation/XDGPaths.hpp"

namespace tokvane {

namespace {

bool pathExists(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

}  // namespace

const ProviderLocations& ProviderLocations::live() {
  static const ProviderLocations shared(XDGPaths::home());
  return shared;
}

std::vector<ProviderLocations::LogRoot> ProviderLocations::logRoots() const {
  std::vector<LogRoot> roots{{ProviderID::claude, claudeProjects()}};
  for (auto& folder : codexSessions()) roots.push_back({ProviderID::codex, std::move(folder)});
  roots.push_back({ProviderID::grok, grokSessions()});
  return roots;
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
