#pragma once

#include <optional>
#include <string>

#include "TokvaneCore/Foundation/KeyedJSON.hpp"

namespace tokvane {

// A provider's money balance or extra-usage allowance, in US dollars.
struct Credits {
  std::string label;
  std::optional<double> balanceUSD;
  std::optional<double> spentUSD;
  std::optional<double> limitUSD;
  bool unlimited = false;

  friend bool operator==(const Credits&, const Credits&) = default;

  JSON toJSON() const;
  static Credits fromJSON(const JSON& json);
};

}  // namespace tokvane
