#pragma once

#include <optional>
#include <string>

#include "TokvaneCore/Limits/LimitSource.hpp"

namespace tokvane {

// One rate-limit window of a provider.
struct LimitWindow {
  std::string id;
  std::string label;
  double usedFraction = 0;
  std::optional<double> duration;  // seconds
  std::optional<Date> resetsAt;
  LimitSource source;

  LimitWindow() = default;
  // Clamps usedFraction to 0...1 (NaN gives 0). Decoding keeps the stored value as is.
  LimitWindow(std::string id, std::string label, double usedFraction, std::optional<double> duration,
              std::optional<Date> resetsAt, LimitSource source);

  bool isReset(Date now) const { return resetsAt && *resetsAt <= now; }
  double effectiveUsedFraction(Date now) const { return isReset(now) ? 0 : usedFraction; }

  friend bool operator==(const LimitWindow&, const LimitWindow&) = default;

  JSON toJSON(DateCoding coding) const;
  static LimitWindow fromJSON(const JSON& json, DateCoding coding);
};

}  // namespace tokvane
