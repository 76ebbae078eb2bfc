#pragma once

#include <optional>

#include "TokvaneCore/Pricing/CostBreakdown.hpp"

namespace tokvane {

// What a token count cost on one model.
struct PricedCost {
  // Absent when the model has no price and the log reported no cost;
  // `breakdown` is absent exactly when `usd` is.
  std::optional<double> usd;
  std::optional<CostBreakdown> breakdown;
  // True when the figure is not an exact price-list computation: borrowed
  // prices, or a cost the log reported for a model without a price.
  bool approximate = false;
  // What reading from the cache saved against paying the uncached input
  // price for the same tokens (negative when cache reads cost more); 0
  // without a price.
  double cacheSavingsUSD = 0;

  friend bool operator==(const PricedCost&, const PricedCost&) = default;
};

}  // namespace tokvane
