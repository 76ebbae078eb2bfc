#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Tokvane/Engine/Settings/Preferences.hpp"
#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneCore/Limits/ProviderLimits.hpp"
#include "TokvaneCore/Presentation/LimitBarModel.hpp"
#include "TokvaneCore/Usage/ProviderID.hpp"

namespace tokvane {

// How strongly the status item is tinted.
enum class Severity { normal, warning, critical };

// What the status item shows at one moment: the text beside the icon, whose
// logo is the icon, the tint and the tooltip. A pure value: made from the
// preferences, the model's limits and present providers and the time.
struct StatusTitle {
  std::optional<std::string> text;     // none: icon only
  std::optional<ProviderID> provider;  // none: the application's own symbol
  Severity severity = Severity::normal;
  std::string tooltip = "Tokvane";     // never empty

  // The window picked for one provider.
  struct Tightest {
    std::string label;
    LimitBarModel bar;
  };

  using Limits = std::map<ProviderID, ProviderLimits>;

  // The title of a status item that has seen no data yet.
  static StatusTitle initial() { return StatusTitle{}; }

  static StatusTitle make(const Preferences& preferences, const Limits& limits,
                          const std::vector<ProviderID>& present, Date now);

  // The tooltip: one line per provider of the list with at least one window ("Claude ·
  // Session 58% left · resets in 2h 14m"), joined by line feeds; empty when
  // no provider has a window.
  static std::string tooltipFor(const std::vector<ProviderID>& providers, const Limits& limits, Date now);

  // The window with the least left among those not yet reset (all of them
  // when every one has reset); the first of equals wins.
  static std::optional<Tightest> tightest(const std::optional<ProviderLimits>& limits, Date now);
  // The first window with exactly this id, reset or not.
  static std::optional<Tightest> chosen(const std::optional<ProviderLimits>& limits,
                                        const std::optional<std::string>& id, Date now);

  friend bool operator==(const StatusTitle&, const StatusTitle&) = default;
};

}  // namespace tokvane
