#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tokvane {

// The AI coding tools the system serves, in their default order.
enum class ProviderID : uint8_t { claude, codex, grok, cursor };

inline constexpr std::array<ProviderID, 4> allProviders = {ProviderID::claude, ProviderID::codex,
                                                           ProviderID::grok, ProviderID::cursor};

// "claude", "codex", "grok", "cursor".
std::string_view rawValue(ProviderID id);
// Exactly the four raw values, byte for byte; anything else is none.
std::optional<ProviderID> providerFromRawValue(std::string_view raw);
// Short name: "Claude", "Codex", "Grok", "Cursor".
std::string_view displayName(ProviderID id);
// The tool whose logs or login are read: "Claude Code", "Codex", "Grok Build", "Cursor".
std::string_view toolName(ProviderID id);

}  // namespace tokvane
