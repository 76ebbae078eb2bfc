#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "TokvaneCore/Foundation/Calendar.hpp"
#include "TokvaneCore/Foundation/Date.hpp"
#include "TokvaneCore/Foundation/KeyedJSON.hpp"
#include "TokvaneCore/Limits/Credits.hpp"
#include "TokvaneCore/Limits/LimitWindow.hpp"
#include "TokvaneCore/Limits/ProviderLimits.hpp"
#include "TokvaneCore/Limits/ProviderStatus.hpp"
#include "TokvaneCore/Summary/UsageSummary.hpp"
#include "TokvaneCore/Usage/ProviderID.hpp"

namespace tokvane {

// Everything the widget shows, handed over by the application in one file:
// the providers to show with their limits and 30-day usage, and the costs of
// today and of the last 30 days. The widget never opens the ledger or calls
// a provider.
//
// Its JSON form is keyed, with every date as whole-second UTC ISO 8601 text;
// fractions of a second are lost on the way through a file.
struct Snapshot {
  // One provider's entry.
  struct Provider {
    ProviderID id = ProviderID::claude;
    std::optional<std::string> plan;
    std::vector<LimitWindow> windows;  // in the provider's order
    std::optional<Credits> credits;
    ProviderStatus status = ProviderStatus::unavailable;
    int64_t tokens30d = 0;    // tokens over the summary's days
    double cost30dUSD = 0;    // their cost at API prices
    bool approximate = false; // some of the cost is an estimate

    friend bool operator==(const Provider&, const Provider&) = default;

    // "plan" and "credits" are left out when absent and optional on reading;
    // every other key is required.
    JSON toJSON() const;
    static Provider fromJSON(const JSON& json);
  };

  Date generatedAt;
  std::vector<Provider> providers;  // in the user's order
  double costTodayUSD = 0;          // all providers, today
  double cost30dUSD = 0;            // all providers, over the summary's days
  std::vector<double> dailyCost30;  // 30 daily costs, oldest first, all providers

  friend bool operator==(const Snapshot&, const Snapshot&) = default;

  // Builds the snapshot from the summary and the live limits. Providers come
  // in the order of `order` (duplicates stay); one is left out when it has
  // no limits, no tool row and no usage worth showing (no token and no
  // positive cost). Days are counted with `calendar`: dailyCost30 ends at the
  // day of summary.windowEnd, costTodayUSD is the day of `now`.
  static Snapshot make(const UsageSummary& summary, const std::map<ProviderID, ProviderLimits>& limits,
                       const std::vector<ProviderID>& order, Date now, const Calendar& calendar);

  // The fixed sample that widget placeholders and previews show, made once.
  static const Snapshot& placeholder();

  // Keys "generatedAt", "providers", "costTodayUSD", "cost30dUSD",
  // "dailyCost30", all required on reading; unknown keys are ignored.
  // A non-finite number cannot be written (EncodingError); reading throws
  // DecodingError.
  JSON toJSON() const;
  static Snapshot fromJSON(const JSON& json);

  // The compact text of the JSON form (no indentation, no trailing newline).
  std::string encoded() const;
  static Snapshot decode(std::string_view text);
};

}  // namespace tokvane
