#include "TokvaneCore/Usage/ProviderID.hpp"

namespace tokvane {

std::string_view rawValue(ProviderID id) {
  switch (id) {
    case ProviderID::claude: return "claude";
    case ProviderID::codex: return "codex";
    case ProviderID::grok: return "grok";
    case ProviderID::cursor: return "cursor";
  }
  return "claude";
}

std::optional<ProviderID> providerFromRawValue(std::string_view raw) {
  for (ProviderID id : allProviders) {
    if (rawValue(id) == raw) return id;
  }
  return std::nullopt;
}

std::string_view displayName(ProviderID id) {
  switch (id) {
    case ProviderID::claude: return "Claude";
    case ProviderID::codex: return "Codex";
    case ProviderID::grok: return "Grok";
    case ProviderID::cursor: return "Cursor";
  }
  return "Claude";
}

std::string_view toolName(ProviderID id) {
  switch (id) {
    case ProviderID::claude: return "Claude Code";
    case ProviderID::codex: return "Codex";
    case ProviderID::grok: return "Grok Build";
    case ProviderID::cursor: return "Cursor";
  }
  return "Claude Code";
}

}  // namespace tokvane
