#pragma once

#include <optional>
#include <string>
#include <vector>

#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneCore/Limits/Credits.hpp"
#include "TokvaneCore/Presentation/LimitBarModel.hpp"
#include "TokvaneCore/Providers/ProviderLocations.hpp"
#include "TokvaneCore/Usage/ProviderID.hpp"

namespace tokvane {

// The texts of the Usage tab's cards and of the popover's footer. Pure
// functions of their arguments; the texts are UTF-8.

// "Unlimited", "$12.50 left", "$3.00 / $20.00", "$3.00 spent", "— / $20.00"
// or "—", the first that applies.
std::string creditsText(const Credits& credits);

// The provider's own page of its usage.
std::string manageUsageURL(ProviderID provider);

// The folders the program reads the tools' files from, in the empty state's
// order, each normalised and with the home folder written "~".
std::vector<std::string> watchedFolders(const ProviderLocations& locations);

// The footer's line: "Not updated yet", "Updated just now" (under a minute,
// or a date in the future) or "Updated 5m ago".
std::string updatedText(const std::optional<Date>& lastUpdated, Date now);

// What a screen reader says for a limit row: "Session, 58% left, resets in
// 2h 10m", "…, resets now", or ending after "left" without a reset.
std::string limitAccessibilityLabel(const std::string& label, const LimitBarModel& bar);

// The entries of `providers`, in order, that `present` contains.
std::vector<ProviderID> visibleProviders(const std::vector<ProviderID>& providers,
                                         const std::vector<ProviderID>& present);

}  // namespace tokvane
